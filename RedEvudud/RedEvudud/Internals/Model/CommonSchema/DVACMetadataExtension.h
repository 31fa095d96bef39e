#pragma once
// The "metadata" extension of a Common Schema log: a nested map that
// describes the types of the data's properties.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/DVACSerializableObject.h"

class DVACMetadataExtension : public DVACSerializableObject, public DVACModel {
 public:
  DVACMetadataExtension() = default;
  DVACMetadataExtension(const DVACMetadataExtension&) = delete;
  DVACMetadataExtension& operator=(const DVACMetadataExtension&) = delete;

  // Read and written whole, safely from any thread.
  std::optional<ns::Dictionary> metadata() const;
  void setMetadata(std::optional<ns::Dictionary> metadata);

  // Every entry of the metadata at the top level; null without metadata.
  ns::Value serializeToDictionary() const override;
  bool isValid() const override { return true; }
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACMetadataExtension> initWithCoder(ns::KeyedUnarchiver& coder);
  virtual void decodeWithCoder(ns::KeyedUnarchiver& coder);
  // The dictionary is the coder's unkeyed root object.
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACMetadataExtension"; }
  std::vector<std::string> classHierarchy() const override { return {"DVACMetadataExtension", "NSObject"}; }

 private:
  mutable std::mutex mutex_;
  std::optional<ns::Dictionary> metadata_;
};
