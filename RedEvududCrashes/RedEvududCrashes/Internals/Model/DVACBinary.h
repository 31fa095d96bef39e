#pragma once
// One loaded image of a crashed process: its UUID, address range, name and
// (anonymised) path, and its CPU type.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACSerializableObject.h"

class DVACBinary : public DVACSerializableObject, public DVACModel {
 public:
  std::optional<std::string> binaryId;
  std::optional<std::string> startAddress;
  std::optional<std::string> endAddress;
  std::optional<std::string> name;
  std::optional<std::string> path;
  std::optional<std::string> architecture;
  std::optional<uint64_t> primaryArchitectureId;
  std::optional<uint64_t> architectureVariantId;

  // "id", "startAddress", "endAddress", "name", "path", "architecture",
  // "primaryArchitectureId", "architectureVariantId".
  ns::Value serializeToDictionary() const override;
  // binaryId, startAddress, endAddress, name and path, in that order.
  bool isValid() const override;
  bool isEqual(const ns::Object& other) const override;
  std::string description() const override;

  static std::shared_ptr<DVACBinary> initWithCoder(ns::KeyedUnarchiver& coder);
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACBinary"; }
  std::vector<std::string> classHierarchy() const override { return {"DVACBinary", "NSObject"}; }
};
