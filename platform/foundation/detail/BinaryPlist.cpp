#include "platform/foundation/detail/BinaryPlist.h"

#include <cstring>
#include <iterator>
#include <functional>
#include <limits>

#include "platform/foundation/Utf16.h"

namespace ns::detail {

// ---- Values -----------------------------------------------------------------------

namespace {

ArchiveValue numbered(ArchiveValue::Kind kind, uint64_t number) {
    ArchiveValue v;
    v.kind = kind;
    v.number = number;
    return v;
}

}  // namespace

ArchiveValue ArchiveValue::integer(int64_t value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof value);
    return numbered(Kind::Integer, bits);
}

ArchiveValue ArchiveValue::unsignedInteger(uint64_t value) { return numbered(Kind::UnsignedInteger, value); }

ArchiveValue ArchiveValue::boolean(bool value) { return numbered(Kind::Bool, value ? 1 : 0); }

ArchiveValue ArchiveValue::real(double value) {
    ArchiveValue v = numbered(Kind::Real, 0);
    v.realValue = value;
    return v;
}

ArchiveValue ArchiveValue::uid(uint64_t value) { return numbered(Kind::Uid, value); }

// ---- Building -------------------------------------------------------------------------

void ArchiveTable::clear() {
    textBytes_.clear();
    texts_.clear();
    std::fill(slots_.begin(), slots_.end(), 0);
    textUids_.clear();
    blobs_.clear();
    blobRanges_.clear();
    lists_.clear();
    objects_.clear();
    entries_.clear();
    depth_ = 0;
    topFirst_ = topCount_ = 0;
}

size_t ArchiveTable::retainedBytes() const {
    size_t bytes = textBytes_.capacity() + blobs_.capacity() + out_.capacity() + entries_.capacity() * sizeof(Entry) +
                   uidItems_.capacity() * sizeof(ArchiveValue) + texts_.capacity() * sizeof(Text) +
                   slots_.capacity() * sizeof(uint32_t) +
                   objects_.capacity() * sizeof(Object) + items_.capacity() * sizeof(Item) +
                   (lists_.capacity() + refs_.capacity() + offsets_.capacity()) * sizeof(uint64_t);
    for (const auto& frame : open_) bytes += frame.capacity() * sizeof(Entry);
    return bytes;
}

uint32_t ArchiveTable::text(std::string_view s) {
    if (texts_.size() * 2 >= slots_.size()) {
        slots_.assign(slots_.empty() ? 256 : slots_.size() * 2, 0);
        for (uint32_t id = 0; id < texts_.size(); ++id) {
            size_t slot = std::hash<std::string_view>{}(textAt(id)) & (slots_.size() - 1);
            while (slots_[slot] != 0) slot = (slot + 1) & (slots_.size() - 1);
            slots_[slot] = id + 1;
        }
    }
    size_t slot = std::hash<std::string_view>{}(s) & (slots_.size() - 1);
    for (; slots_[slot] != 0; slot = (slot + 1) & (slots_.size() - 1)) {
        if (textAt(slots_[slot] - 1) == s) return slots_[slot] - 1;
    }
    const auto id = static_cast<uint32_t>(texts_.size());
    texts_.push_back({static_cast<uint32_t>(textBytes_.size()), static_cast<uint32_t>(s.size())});
    textBytes_.append(s);
    slots_[slot] = id + 1;
    return id;
}

std::string_view ArchiveTable::textAt(uint32_t id) const {
    const Text& t = texts_[id];
    return std::string_view(textBytes_).substr(t.offset, t.size);
}

ArchiveValue ArchiveTable::string(std::string_view s) {
    ArchiveValue v;
    v.kind = ArchiveValue::Kind::String;
    v.index = text(s);
    return v;
}

ArchiveValue ArchiveTable::data(const uint8_t* bytes, size_t size) {
    ArchiveValue v;
    v.kind = ArchiveValue::Kind::Data;
    v.index = static_cast<uint32_t>(blobRanges_.size());
    blobRanges_.push_back({static_cast<uint32_t>(blobs_.size()), static_cast<uint32_t>(size)});
    blobs_.append(reinterpret_cast<const char*>(bytes), size);
    return v;
}

ArchiveValue ArchiveTable::uidList(const std::vector<uint64_t>& uids) {
    ArchiveValue v;
    v.kind = ArchiveValue::Kind::UidList;
    v.index = static_cast<uint32_t>(lists_.size());
    v.number = uids.size();
    lists_.insert(lists_.end(), uids.begin(), uids.end());
    return v;
}

ArchiveValue ArchiveTable::stringList(const std::vector<std::string>& texts) {
    ArchiveValue v;
    v.kind = ArchiveValue::Kind::StringList;
    v.index = static_cast<uint32_t>(lists_.size());
    v.number = texts.size();
    for (const auto& t : texts) lists_.push_back(text(t));
    return v;
}

uint64_t ArchiveTable::addObject(const ArchiveValue& value) {
    Object object;
    object.value = value;
    objects_.push_back(object);
    return objects_.size() - 1;
}

uint64_t ArchiveTable::reserveObject() {
    Object object;
    object.dict = true;
    objects_.push_back(object);
    return objects_.size() - 1;
}

void ArchiveTable::setUidOfText(uint32_t id, uint64_t uid) {
    if (textUids_.size() <= id) textUids_.resize(id + 1, 0);
    textUids_[id] = uid;
}

void ArchiveTable::openObject() {
    if (depth_ == open_.size()) open_.emplace_back();
    open_[depth_++].clear();
}

void ArchiveTable::set(uint32_t key, const ArchiveValue& value) {
    auto& frame = open_[depth_ - 1];
    for (auto& entry : frame) {
        if (entry.key == key) {
            entry.value = value;
            return;
        }
    }
    frame.push_back({key, value});
}

void ArchiveTable::closeObject(uint64_t uid) {
    const auto& frame = open_[--depth_];
    Object& object = objects_[uid];
    object.dict = true;
    object.first = static_cast<uint32_t>(entries_.size());
    object.count = static_cast<uint32_t>(frame.size());
    entries_.insert(entries_.end(), frame.begin(), frame.end());
}

void ArchiveTable::closeTop() {
    const auto& frame = open_[--depth_];
    topFirst_ = static_cast<uint32_t>(entries_.size());
    topCount_ = static_cast<uint32_t>(frame.size());
    entries_.insert(entries_.end(), frame.begin(), frame.end());
}

// ---- Writing ----------------------------------------------------------------------------

namespace bplist {

unsigned widthOf(uint64_t value) {
    if (value <= 0xFF) return 1;
    if (value <= 0xFFFF) return 2;
    if (value <= 0xFFFFFFFF) return 4;
    return 8;
}

void bigEndian(Data& out, uint64_t value, unsigned width) {
    for (unsigned i = width; i-- > 0;) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void integer(Data& out, uint64_t bits) {
    const unsigned width = widthOf(bits);
    out.push_back(static_cast<uint8_t>(0x10 | (width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3)));
    bigEndian(out, bits, width);
}

void marker(Data& out, uint8_t high, uint64_t count) {
    if (count < 15) {
        out.push_back(static_cast<uint8_t>(high << 4 | count));
    } else {
        out.push_back(static_cast<uint8_t>(high << 4 | 0x0F));
        integer(out, count);
    }
}

void string(Data& out, std::string_view text) {
    bool ascii = true;
    for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        marker(out, 0x5, text.size());
        out.insert(out.end(), text.begin(), text.end());
        return;
    }
    const std::u16string units = toUtf16(text);
    marker(out, 0x6, units.size());
    for (char16_t unit : units) bigEndian(out, unit, 2);
}

void finish(Data& out, const std::vector<uint64_t>& offsets, unsigned refWidth) {
    const uint64_t tableOffset = out.size();
    const unsigned offsetWidth = widthOf(tableOffset);
    for (uint64_t offset : offsets) bigEndian(out, offset, offsetWidth);
    out.insert(out.end(), 6, 0);
    out.push_back(static_cast<uint8_t>(offsetWidth));
    out.push_back(static_cast<uint8_t>(refWidth));
    bigEndian(out, offsets.size(), 8);
    bigEndian(out, 0, 8);  // the top object is the first
    bigEndian(out, tableOffset, 8);
}

}  // namespace bplist

using bplist::widthOf;

// Objects are numbered as they are placed: every text first (index 1 + id),
// then each container followed by the values it holds. A string value is its
// text; every other value is an object of its own.
uint64_t ArchiveTable::placeValue(const ArchiveValue& value) {
    if (value.kind == ArchiveValue::Kind::String) return 1 + value.index;
    const uint64_t index = items_.size();
    if (value.kind == ArchiveValue::Kind::UidList || value.kind == ArchiveValue::Kind::StringList) {
        const auto first = static_cast<uint32_t>(refs_.size());
        items_.push_back({Item::Kind::Array, 0, nullptr, first, static_cast<uint32_t>(value.number)});
        refs_.resize(refs_.size() + value.number);
        for (uint64_t i = 0; i < value.number; ++i) {
            const uint64_t item = lists_[value.index + i];
            if (value.kind == ArchiveValue::Kind::StringList) {
                refs_[first + i] = 1 + item;
            } else {
                refs_[first + i] = items_.size();
                items_.push_back({Item::Kind::Value, 0, &uidItems_.emplace_back(ArchiveValue::uid(item)), 0, 0});
            }
        }
        return index;
    }
    items_.push_back({Item::Kind::Value, 0, &value, 0, 0});
    return index;
}

uint64_t ArchiveTable::placeDict(const Entry* entries, uint32_t count) {
    const uint64_t index = items_.size();
    const auto first = static_cast<uint32_t>(refs_.size());
    items_.push_back({Item::Kind::Dict, 0, nullptr, first, count});
    refs_.resize(refs_.size() + 2 * size_t{count});
    for (uint32_t i = 0; i < count; ++i) refs_[first + i] = 1 + entries[i].key;
    for (uint32_t i = 0; i < count; ++i) refs_[first + count + i] = placeValue(entries[i].value);
    return index;
}

Data ArchiveTable::write(int64_t version) {
    const uint32_t keys[] = {text("$version"), text("$archiver"), text("$top"), text("$objects")};
    const ArchiveValue versionValue = ArchiveValue::integer(version);
    const ArchiveValue archiverName = string("NSKeyedArchiver");

    items_.clear();
    refs_.clear();
    uidItems_.clear();
    // A list's UIDs are placed as objects that live here until written.
    uidItems_.reserve(lists_.size());
    items_.push_back({Item::Kind::Dict, 0, nullptr, 0, 4});
    refs_.resize(8);
    for (uint32_t id = 0; id < texts_.size(); ++id) items_.push_back({Item::Kind::Text, id, nullptr, 0, 0});
    for (int i = 0; i < 4; ++i) refs_[i] = 1 + keys[i];
    refs_[4] = placeValue(versionValue);
    refs_[5] = placeValue(archiverName);
    refs_[6] = placeDict(entries_.data() + topFirst_, topCount_);
    refs_[7] = items_.size();
    const auto objectsFirst = static_cast<uint32_t>(refs_.size());
    items_.push_back({Item::Kind::Array, 0, nullptr, objectsFirst, static_cast<uint32_t>(objects_.size())});
    refs_.resize(refs_.size() + objects_.size());
    for (size_t uid = 0; uid < objects_.size(); ++uid) {
        const Object& object = objects_[uid];
        refs_[objectsFirst + uid] =
            object.dict ? placeDict(entries_.data() + object.first, object.count) : placeValue(object.value);
    }

    const uint64_t count = items_.size();
    refWidth_ = widthOf(count - 1);
    static constexpr uint8_t kMagic[] = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    out_.assign(std::begin(kMagic), std::end(kMagic));
    offsets_.clear();
    for (const Item& item : items_) {
        offsets_.push_back(out_.size());
        writeItem(item);
    }
    bplist::finish(out_, offsets_, refWidth_);
    return Data(out_.begin(), out_.end());
}

void ArchiveTable::bigEndian(uint64_t value, unsigned width) { bplist::bigEndian(out_, value, width); }
void ArchiveTable::writeUnsigned(uint64_t value) { bplist::integer(out_, value); }
void ArchiveTable::writeMarker(uint8_t high, uint64_t count) { bplist::marker(out_, high, count); }
void ArchiveTable::writeString(std::string_view text) { bplist::string(out_, text); }

void ArchiveTable::writeItem(const Item& item) {
    switch (item.kind) {
        case Item::Kind::Text: return writeString(textAt(item.text));
        case Item::Kind::Dict:
        case Item::Kind::Array: {
            const bool dict = item.kind == Item::Kind::Dict;
            writeMarker(dict ? 0xD : 0xA, item.count);
            const size_t refs = dict ? 2 * size_t{item.count} : item.count;
            for (size_t i = 0; i < refs; ++i) bigEndian(refs_[item.refs + i], refWidth_);
            return;
        }
        case Item::Kind::Value: break;
    }
    const ArchiveValue& value = *item.value;
    constexpr auto kSignedMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    switch (value.kind) {
        case ArchiveValue::Kind::Integer:
            if (value.number > kSignedMax) {
                out_.push_back(0x13);  // negative: eight bytes, two's complement
                bigEndian(value.number, 8);
            } else {
                writeUnsigned(value.number);
            }
            return;
        case ArchiveValue::Kind::UnsignedInteger:
            if (value.number > kSignedMax) {
                out_.push_back(0x14);  // beyond the signed range: sixteen bytes
                bigEndian(0, 8);
                bigEndian(value.number, 8);
            } else {
                writeUnsigned(value.number);
            }
            return;
        case ArchiveValue::Kind::Bool: out_.push_back(value.number ? 0x09 : 0x08); return;
        case ArchiveValue::Kind::Real: {
            uint64_t bits = 0;
            std::memcpy(&bits, &value.realValue, sizeof bits);
            out_.push_back(0x23);
            bigEndian(bits, 8);
            return;
        }
        case ArchiveValue::Kind::Data: {
            const Text& range = blobRanges_[value.index];
            writeMarker(0x4, range.size);
            out_.insert(out_.end(), blobs_.begin() + range.offset, blobs_.begin() + range.offset + range.size);
            return;
        }
        case ArchiveValue::Kind::Uid: {
            const unsigned width = widthOf(value.number);
            out_.push_back(static_cast<uint8_t>(0x80 | (width - 1)));
            bigEndian(value.number, width);
            return;
        }
        case ArchiveValue::Kind::String:
        case ArchiveValue::Kind::UidList:
        case ArchiveValue::Kind::StringList: return;  // placed as texts and arrays
    }
}

}  // namespace ns::detail
