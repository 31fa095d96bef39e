#pragma once
// Launch Services shared file lists: ordered, per-user lists of URLs. The one
// list kept here is the session login items, the list that systems before
// 14.0 start at login.
//
// A list lives in a store. The default store of a list type is a JSON file,
// "<simulatedSystemDirectory>/sharedfilelist/<list type>.json", read anew by
// every call (so a redirected directory is followed and edits by another copy of
// the program are seen) and replaced whole by a temporary file renamed over
// it. A file that is not a well-formed list reads as an empty list and is
// moved aside ("<file>.corrupt", "<file>.corrupt-1", ...) before anything is
// written over it; if it cannot be moved aside nothing is written. Members
// of the file this layer does not know, and entries whose URL is not a URL,
// are kept as they are.
//
// Items are snapshots: an item names its entry by its id, so an item taken
// before the entry was removed no longer removes anything.
//
// Tests put another store behind a list type (an in-memory one with faults)
// through LSSharedFileListSetStoreForTesting.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"

namespace appkit {

using OSStatus = std::int32_t;

// The session login items.
inline constexpr const char* kLSSharedFileListSessionLoginItems = "SessionLoginItems";

// Results of the list calls.
enum : OSStatus {
  kLSSharedFileListNoErr = 0,
  // A null or foreign list or item, or a position given where an item is needed.
  kLSSharedFileListErrParam = -50,
  // The item is no longer in the list.
  kLSSharedFileListErrItemNotFound = -43,
  // The list could not be read or written.
  kLSSharedFileListErrIO = -36,
};

inline constexpr const char* LSSharedFileListErrorDomain = "LSSharedFileListErrorDomain";

// Resolution flags; resolving never mounts or asks here, so they change nothing.
inline constexpr std::uint32_t kLSSharedFileListNoUserInteraction = 1;
inline constexpr std::uint32_t kLSSharedFileListDoNotMountVolumes = 2;

// ---------------------------------------------------------------- stores

// One entry of a stored list.
struct LSSharedFileListEntry {
  std::uint32_t id = 0;  // unique within its list, never 0
  std::string url;       // as stored: may be text that is not a URL
  std::optional<std::string> displayName;
  friend bool operator==(const LSSharedFileListEntry&, const LSSharedFileListEntry&) = default;
};
using LSSharedFileListEntries = std::vector<LSSharedFileListEntry>;

class LSSharedFileListStore {
 public:
  virtual ~LSSharedFileListStore() = default;
  // Whether the list can be opened now; LSSharedFileListCreate fails when not.
  virtual bool open() = 0;
  // The entries in order; nullopt when the list cannot be read.
  virtual std::optional<LSSharedFileListEntries> read() = 0;
  // Reads the entries, applies `change` and stores the result, as one step
  // against the store's other writers. Nothing is stored when `change`
  // returns false. kLSSharedFileListErrIO when the list cannot be read or
  // written.
  virtual OSStatus update(const std::function<bool(LSSharedFileListEntries&)>& change) = 0;
};

// The JSON file of a list type (see the top of this file).
class LSSharedFileListFileStore : public LSSharedFileListStore {
 public:
  // The file of the list type under the simulated system's directory,
  // worked out at every call.
  explicit LSSharedFileListFileStore(std::string listType);
  // A fixed file.
  static std::shared_ptr<LSSharedFileListFileStore> atPath(std::string path);

  static std::string defaultPath(std::string_view listType);
  std::string path() const;

  bool open() override;
  std::optional<LSSharedFileListEntries> read() override;
  OSStatus update(const std::function<bool(LSSharedFileListEntries&)>& change) override;

  // Files over this size are not a list: they are moved aside like any
  // other malformed file.
  static constexpr std::size_t kMaximumFileSize = 4 * 1024 * 1024;

 private:
  LSSharedFileListFileStore() = default;
  std::optional<std::string> listType_;
  std::optional<std::string> path_;
  std::mutex mutex_;
};

// A list in memory, with faults for tests.
class LSSharedFileListMemoryStore : public LSSharedFileListStore {
 public:
  explicit LSSharedFileListMemoryStore(LSSharedFileListEntries entries = {});

  bool open() override;
  std::optional<LSSharedFileListEntries> read() override;
  OSStatus update(const std::function<bool(LSSharedFileListEntries&)>& change) override;

  LSSharedFileListEntries entries() const;
  void setEntries(LSSharedFileListEntries entries);
  // Faults: the list cannot be opened, read, or written.
  void setOpenFails(bool fails);
  void setReadFails(bool fails);
  void setWriteFails(bool fails);
  // Successful updates so far.
  int writeCount() const;

 private:
  mutable std::mutex mutex_;
  LSSharedFileListEntries entries_;
  bool openFails_ = false;
  bool readFails_ = false;
  bool writeFails_ = false;
  int writes_ = 0;
};

// Puts `store` behind the list type; nullptr brings back the file store.
void LSSharedFileListSetStoreForTesting(std::string_view listType, std::shared_ptr<LSSharedFileListStore> store);

// ---------------------------------------------------------------- lists and items

class LSSharedFileList {
 public:
  LSSharedFileList(std::string listType, std::shared_ptr<LSSharedFileListStore> store)
      : listType_(std::move(listType)), store_(std::move(store)) {}
  const std::string& listType() const { return listType_; }
  LSSharedFileListStore& store() const { return *store_; }

 private:
  std::string listType_;
  std::shared_ptr<LSSharedFileListStore> store_;
};

class LSSharedFileListItem {
 public:
  LSSharedFileListItem(const LSSharedFileListStore* store, LSSharedFileListEntry entry)
      : store_(store), entry_(std::move(entry)) {}
  std::uint32_t id() const { return entry_.id; }
  const std::string& storedURL() const { return entry_.url; }
  const std::optional<std::string>& displayName() const { return entry_.displayName; }
  // The store the item was read from; null for the two positions below.
  const LSSharedFileListStore* store() const { return store_; }

 private:
  const LSSharedFileListStore* store_;
  LSSharedFileListEntry entry_;
};

using LSSharedFileListRef = std::shared_ptr<LSSharedFileList>;
using LSSharedFileListItemRef = std::shared_ptr<const LSSharedFileListItem>;

// Insertion positions: in front of every item, and after the last.
extern const LSSharedFileListItemRef kLSSharedFileListItemBeforeFirst;
extern const LSSharedFileListItemRef kLSSharedFileListItemLast;

// The list of that type, or null for an unknown type or a list that cannot
// be opened. The allocator and options are not used.
LSSharedFileListRef LSSharedFileListCreate(const void* allocator, std::string_view listType, const void* options);

// The items in order; nullopt when the list cannot be read.
std::optional<std::vector<LSSharedFileListItemRef>> LSSharedFileListCopySnapshot(const LSSharedFileListRef& list);

// The URL the item points at. A file URL whose file exists resolves to the
// file's canonical path (a directory with a trailing "/"), so a link to the
// file resolves to the file; any other URL resolves to itself. nullopt, with
// an error, for an item whose stored URL is not a URL.
std::optional<ns::URL> LSSharedFileListItemCopyResolvedURL(const LSSharedFileListItemRef& item, std::uint32_t flags,
                                                           ns::Error* error = nullptr);

// Inserts `url` after the given item, in front of all items
// (kLSSharedFileListItemBeforeFirst) or at the end (kLSSharedFileListItemLast,
// or an item that is no longer listed). A list holds a URL once: a URL that
// is listed already moves to the new place. The new item, or null when the
// list cannot be read or written.
LSSharedFileListItemRef LSSharedFileListInsertItemURL(const LSSharedFileListRef& list,
                                                      const LSSharedFileListItemRef& insertAfterThisItem,
                                                      std::optional<std::string> displayName, const ns::URL& url);

OSStatus LSSharedFileListItemRemove(const LSSharedFileListRef& list, const LSSharedFileListItemRef& item);

}  // namespace appkit
