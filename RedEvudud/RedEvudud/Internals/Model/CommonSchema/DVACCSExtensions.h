#pragma once
// The "ext" object of a Common Schema log: one optional record per extension.

#include <memory>
#include <string>
#include <vector>

#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACAppExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACDeviceExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACLocExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACMetadataExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACNetExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACOSExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACProtocolExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACSDKExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACUserExtension.h"
#include "RedEvudud/RedEvudud/Internals/Model/DVACSerializableObject.h"

class DVACCSExtensions : public DVACSerializableObject, public DVACModel {
 public:
  std::shared_ptr<DVACMetadataExtension> metadataExt;
  std::shared_ptr<DVACProtocolExtension> protocolExt;
  std::shared_ptr<DVACUserExtension> userExt;
  std::shared_ptr<DVACDeviceExtension> deviceExt;
  std::shared_ptr<DVACOSExtension> osExt;
  std::shared_ptr<DVACAppExtension> appExt;
  std::shared_ptr<DVACNetExtension> netExt;
  std::shared_ptr<DVACSDKExtension> sdkExt;
  std::shared_ptr<DVACLocExtension> locExt;

  // A plain dictionary with "metadata", "protocol", "user", "device", "os",
  // "app", "net", "sdk" and "loc" for every extension that is set and
  // serialises to something. Always a dictionary, possibly empty.
  ns::Value serializeToDictionary() const override;
  // Every present extension valid; the first invalid one is logged.
  bool isValid() const override;
  bool isEqual(const ns::Object& other) const override;

  static std::shared_ptr<DVACCSExtensions> initWithCoder(ns::KeyedUnarchiver& coder);
  virtual void decodeWithCoder(ns::KeyedUnarchiver& coder);
  void encodeWithCoder(ns::KeyedArchiver& coder) const override;

  std::string className() const override { return "DVACCSExtensions"; }
  std::vector<std::string> classHierarchy() const override { return {"DVACCSExtensions", "NSObject"}; }
};
