// libFuzzer target for the keyed unarchiver and the property-list reader.
// Any input must give a value or an error: no crash, no leak, no exception,
// no runaway allocation. Built only with clang and -DMORVALENT_FUZZ=ON:
//
//   CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DMORVALENT_FUZZ=ON \
//       -DMORVALENT_SANITIZE=ON -DMORVALENT_TESTS=OFF -DMORVALENT_BENCHMARKS=OFF
//   cmake --build build-fuzz --target unarchive_fuzz
//   mkdir -p /tmp/unarchive-corpus
//   build-fuzz/platform/foundation/unarchive_fuzz /tmp/unarchive-corpus \
//       platform/foundation/fuzz/corpus -max_total_time=600 -rss_limit_mb=2048

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/PropertyList.h"

namespace {

// Reads one of everything, so typed decoding gets exercised too.
class FuzzRecord : public ns::Coding {
public:
    std::string className() const override { return "FuzzRecord"; }
    std::vector<std::string> classHierarchy() const override { return {"FuzzRecord", "NSObject"}; }
    void encodeWithCoder(ns::KeyedArchiver& coder) const override {
        coder.encodeObject(name ? ns::Value(*name) : ns::Value(), "name");
        coder.encodeInt64(flags, "flags");
        coder.encodeUInt64(sequence, "seq");
        coder.encodeInt32(small, "small");
        coder.encodeDouble(sample, "sample");
        coder.encodeBool(enabled, "enabled");
        coder.encodeObject(when ? ns::Value(*when) : ns::Value(), "when");
        coder.encodeObject(id ? ns::Value(*id) : ns::Value(), "id");
        coder.encodeObject(blob ? ns::Value(*blob) : ns::Value(), "blob");
        coder.encodeObject(list ? ns::Value(*list) : ns::Value(), "list");
        coder.encodeObject(properties ? ns::Value(*properties) : ns::Value(), "properties");
        coder.encodeObject(std::shared_ptr<const ns::Coding>(child), "child");
        coder.encodeRootObject(extra);
    }
    static std::shared_ptr<FuzzRecord> initWithCoder(ns::KeyedUnarchiver& coder) {
        auto r = std::make_shared<FuzzRecord>();
        r->name = coder.decodeString("name");
        r->flags = coder.decodeInt64("flags");
        r->sequence = coder.decodeUInt64("seq");
        r->small = coder.decodeInt32("small");
        r->sample = coder.decodeDouble("sample");
        r->enabled = coder.decodeBool("enabled");
        r->when = coder.decodeDate("when");
        r->id = coder.decodeUUID("id");
        r->blob = coder.decodeData("blob");
        r->list = coder.decodeArray("list");
        r->properties = coder.decodeDictionary("properties");
        r->child = coder.decodeObjectOfClass<FuzzRecord>("child");
        r->extra = coder.decodeObject().value_or(ns::Value());
        return r;
    }

    std::optional<std::string> name;
    int64_t flags = 0;
    uint64_t sequence = 0;
    int32_t small = 0;
    double sample = 0;
    bool enabled = false;
    std::optional<ns::Date> when;
    std::optional<ns::UUID> id;
    std::optional<ns::Data> blob;
    std::optional<ns::Array> list;
    std::optional<ns::Dictionary> properties;
    std::shared_ptr<FuzzRecord> child;
    ns::Value extra;
};

const bool kRegistered = [] {
    ns::KeyedUnarchiver::registerClass<FuzzRecord>("FuzzRecord");
    return true;
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)kRegistered;
    const ns::Data bytes(data, data + size);

    ns::Error error;
    auto root = ns::KeyedUnarchiver::unarchivedObjectWithData(bytes, &error, {{"OldFuzzRecord", "FuzzRecord"}});
    if (root) {
        (void)root->description();
        // Whatever decodes must archive again.
        (void)ns::KeyedArchiver::archivedDataWithRootObject(*root, &error);
    } else if (error.localizedDescription().empty()) {
        __builtin_trap();  // a failure must say why
    }

    auto plist = ns::PropertyListSerialization::propertyListWithData(bytes, &error);
    if (plist) (void)ns::PropertyListSerialization::dataWithPropertyList(*plist, ns::PropertyListFormat::XML, &error);
    return 0;
}
