#include "RedEvudud/RedEvudud/Internals/Model/CommonSchema/DVACMetadataExtension.h"

namespace {

const bool kMetadataExtensionRegistered = [] {
  ns::KeyedUnarchiver::registerClass<DVACMetadataExtension>("DVACMetadataExtension");
  return true;
}();

}  // namespace

std::optional<ns::Dictionary> DVACMetadataExtension::metadata() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return metadata_;
}

void DVACMetadataExtension::setMetadata(std::optional<ns::Dictionary> metadata) {
  std::lock_guard<std::mutex> lock(mutex_);
  metadata_ = std::move(metadata);
}

ns::Value DVACMetadataExtension::serializeToDictionary() const {
  auto current = metadata();
  if (!current) return ns::Value();
  return ns::Value(std::move(*current));
}

bool DVACMetadataExtension::isEqual(const ns::Object& other) const {
  const auto* ext = dynamic_cast<const DVACMetadataExtension*>(&other);
  if (!ext) return false;
  if (ext == this) return true;
  const auto mine = metadata();
  const auto theirs = ext->metadata();
  if (!mine || !theirs) return !mine && !theirs;
  return ns::Value(*mine) == ns::Value(*theirs);
}

std::shared_ptr<DVACMetadataExtension> DVACMetadataExtension::initWithCoder(ns::KeyedUnarchiver& coder) {
  auto ext = std::make_shared<DVACMetadataExtension>();
  ext->decodeWithCoder(coder);
  return ext;
}

void DVACMetadataExtension::decodeWithCoder(ns::KeyedUnarchiver& coder) {
  auto root = coder.decodeObject();
  if (!root || coder.error()) return setMetadata(std::nullopt);
  auto dictionary = root->asDictionary();
  if (!dictionary) {
    coder.failWithDescription("the metadata extension's root object is not a dictionary");
    return;
  }
  setMetadata(std::move(dictionary));
}

void DVACMetadataExtension::encodeWithCoder(ns::KeyedArchiver& coder) const {
  auto current = metadata();
  coder.encodeRootObject(current ? ns::Value(std::move(*current)) : ns::Value());
}
