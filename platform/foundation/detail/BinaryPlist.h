#pragma once
// The object table of a keyed archive, written straight to "bplist00" without
// libplist: every stored log is archived, and libplist's node tree and writer
// cost several times the work of the archive itself. The table keeps its
// storage when cleared, so an archiver that reuses it allocates little beyond
// the output. Read back by libplist like any other binary property list. Not
// part of the module's public interface.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"

namespace ns::detail {

// The pieces of "bplist00" every writer here shares.
namespace bplist {
// Bytes of the smallest of 1, 2, 4 and 8 that holds the value.
unsigned widthOf(uint64_t value);
void bigEndian(Data& out, uint64_t value, unsigned width);
// An integer object in the smallest width: up to 32 bits unsigned, 64 bits
// two's complement.
void integer(Data& out, uint64_t bits);
// A marker with its count in the low nibble, or 0xF and an integer after it.
void marker(Data& out, uint8_t high, uint64_t count);
// ASCII as bytes, anything else as UTF-16, big-endian.
void string(Data& out, std::string_view text);
// The offset table and the trailer, the first object being the top one.
void finish(Data& out, const std::vector<uint64_t>& offsets, unsigned refWidth);
}  // namespace bplist

// One property-list value inside the table.
struct ArchiveValue {
    enum class Kind : uint8_t { Integer, UnsignedInteger, Bool, Real, String, Data, Uid, UidList, StringList };

    static ArchiveValue integer(int64_t value);
    static ArchiveValue unsignedInteger(uint64_t value);
    static ArchiveValue boolean(bool value);
    static ArchiveValue real(double value);
    static ArchiveValue uid(uint64_t value);

    Kind kind = Kind::Uid;
    uint64_t number = 0;  // Integer (two's complement), UnsignedInteger, Bool, Uid; a list's length
    double realValue = 0;
    uint32_t index = 0;  // String: a text; Data: a blob; a list: its first item
};

class ArchiveTable {
public:
    // Empties the table and keeps its storage.
    void clear();
    // Bytes held for reuse.
    size_t retainedBytes() const;

    // Interned text (valid UTF-8 without NUL); equal texts get one id.
    uint32_t text(std::string_view s);
    uint32_t textCount() const { return static_cast<uint32_t>(texts_.size()); }
    std::string_view textAt(uint32_t id) const;
    ArchiveValue string(std::string_view s);
    ArchiveValue data(const uint8_t* bytes, size_t size);
    ArchiveValue uidList(const std::vector<uint64_t>& uids);
    ArchiveValue stringList(const std::vector<std::string>& texts);

    // "$objects": a value object, or a dictionary filled between openObject
    // and closeObject (objects nest; the innermost open one takes the entries).
    uint64_t addObject(const ArchiveValue& value);
    uint64_t reserveObject();
    void openObject();
    // Sets an entry of the innermost open object, replacing one of the same key.
    void set(uint32_t key, const ArchiveValue& value);
    void closeObject(uint64_t uid);
    // Closes the outermost open object as "$top".
    void closeTop();
    uint64_t objectCount() const { return objects_.size(); }
    // The uid already given to a string object of this text, or 0.
    uint64_t uidOfText(uint32_t id) const { return id < textUids_.size() ? textUids_[id] : 0; }
    void setUidOfText(uint32_t id, uint64_t uid);

    // {"$version": version, "$archiver": "NSKeyedArchiver", "$top": ..., "$objects": [...]}
    Data write(int64_t version);

private:
    struct Entry {
        uint32_t key;
        ArchiveValue value;
    };
    struct Object {
        bool dict = false;
        ArchiveValue value;
        uint32_t first = 0;  // its entries
        uint32_t count = 0;
    };
    struct Text {
        uint32_t offset;
        uint32_t size;
    };

    // Writing: each object of the property list, in order.
    struct Item {
        enum class Kind : uint8_t { Text, Value, Dict, Array } kind;
        uint32_t text = 0;
        const ArchiveValue* value = nullptr;
        uint32_t refs = 0;  // Dict and Array: their references in refs_
        uint32_t count = 0;
    };
    uint64_t placeValue(const ArchiveValue& value);
    uint64_t placeDict(const Entry* entries, uint32_t count);
    void writeItem(const Item& item);
    void writeString(std::string_view text);
    void writeUnsigned(uint64_t value);
    void writeMarker(uint8_t high, uint64_t count);
    void bigEndian(uint64_t value, unsigned width);

    std::string textBytes_;
    std::vector<Text> texts_;
    std::vector<uint32_t> slots_;  // open-addressing index of texts_, plus one; 0 is empty
    std::vector<uint64_t> textUids_;
    std::string blobs_;
    std::vector<Text> blobRanges_;
    std::vector<uint64_t> lists_;
    std::vector<Object> objects_;
    std::vector<Entry> entries_;
    std::vector<std::vector<Entry>> open_;
    size_t depth_ = 0;
    uint32_t topFirst_ = 0;
    uint32_t topCount_ = 0;

    std::vector<Item> items_;
    std::vector<ArchiveValue> uidItems_;
    std::vector<uint64_t> refs_;
    std::vector<uint64_t> offsets_;
    unsigned refWidth_ = 1;
    Data out_;
};

}  // namespace ns::detail
