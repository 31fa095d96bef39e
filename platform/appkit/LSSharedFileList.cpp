#include "platform/appkit/LSSharedFileList.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Paths.h"

namespace appkit {

namespace {

using json = nlohmann::ordered_json;

// Deeper documents are not lists; refusing them keeps the parser's work bounded.
constexpr int kMaximumNesting = 64;

bool nestingWithin(const std::string& text, int limit) {
  int depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

// The file as read, with the place of each entry in its "items".
struct LoadedList {
  enum class State { missing, wellFormed, malformed, unreadable };
  State state = State::missing;
  json root = json::object();
  LSSharedFileListEntries entries;
  std::vector<std::size_t> itemIndex;  // entries[i] is root["items"][itemIndex[i]]
};

std::uint32_t freshID(const LSSharedFileListEntries& entries) {
  std::uint32_t highest = 0;
  for (const auto& e : entries) highest = std::max(highest, e.id);
  if (highest < UINT32_MAX) return highest + 1;
  std::set<std::uint32_t> used;
  for (const auto& e : entries) used.insert(e.id);
  std::uint32_t id = 1;
  while (used.count(id)) ++id;
  return id;
}

LoadedList interpret(const std::string& text) {
  LoadedList list;
  list.state = LoadedList::State::malformed;
  if (!nestingWithin(text, kMaximumNesting)) return list;
  json root = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (root.is_discarded() || !root.is_object()) return list;
  if (root.contains("items")) {
    const json& items = root["items"];
    if (!items.is_array()) return list;
    std::set<std::uint32_t> seen;
    std::vector<std::size_t> unnumbered;
    for (std::size_t i = 0; i < items.size(); ++i) {
      const json& item = items[i];
      if (!item.is_object()) return list;
      LSSharedFileListEntry entry;
      if (item.contains("id") && (item["id"].is_number_unsigned() || item["id"].is_number_integer())) {
        const auto id = item["id"].is_number_unsigned()
                            ? item["id"].get<std::uint64_t>()
                            : static_cast<std::uint64_t>(std::max<std::int64_t>(0, item["id"].get<std::int64_t>()));
        if (id > 0 && id <= UINT32_MAX && seen.insert(static_cast<std::uint32_t>(id)).second) {
          entry.id = static_cast<std::uint32_t>(id);
        }
      }
      if (item.contains("url") && item["url"].is_string()) entry.url = item["url"].get<std::string>();
      if (item.contains("name") && item["name"].is_string()) entry.displayName = item["name"].get<std::string>();
      if (entry.id == 0) unnumbered.push_back(list.entries.size());
      list.entries.push_back(std::move(entry));
      list.itemIndex.push_back(i);
    }
    // Entries without a usable id get the next free ones, in file order, so
    // every reading of the same file numbers them alike.
    for (std::size_t index : unnumbered) list.entries[index].id = freshID(list.entries);
  }
  list.root = std::move(root);
  list.state = LoadedList::State::wellFormed;
  return list;
}

LoadedList load(const std::string& path) {
  LoadedList list;
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    list.state = errno == ENOENT ? LoadedList::State::missing : LoadedList::State::unreadable;
    return list;
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    list.state = LoadedList::State::unreadable;
    return list;
  }
  std::string text;
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      list.state = LoadedList::State::unreadable;
      return list;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > LSSharedFileListFileStore::kMaximumFileSize) {
      list.state = LoadedList::State::malformed;
      return list;
    }
  }
  return interpret(text);
}

// Keeps a malformed file under a name of its own; false when it stays where it is.
bool moveAside(const std::string& path) {
  for (int n = 0; n < 1000; ++n) {
    const std::string candidate = path + ".corrupt" + (n == 0 ? std::string() : "-" + std::to_string(n));
    // link(2) never replaces an earlier file that was moved aside.
    if (::link(path.c_str(), candidate.c_str()) == 0) return ::unlink(path.c_str()) == 0;
    if (errno == EEXIST) continue;
    std::error_code ec;
    if (std::filesystem::exists(candidate, ec) || ec) continue;
    std::filesystem::rename(path, candidate, ec);
    return !ec;
  }
  return false;
}

std::string render(const LoadedList& loaded, const LSSharedFileListEntries& entries) {
  json root = loaded.state == LoadedList::State::wellFormed ? loaded.root : json::object();
  std::map<std::uint32_t, std::size_t> previous;  // id -> position in loaded.entries
  for (std::size_t i = 0; i < loaded.entries.size(); ++i) previous[loaded.entries[i].id] = i;
  json items = json::array();
  for (const auto& entry : entries) {
    auto found = previous.find(entry.id);
    if (found == previous.end()) {
      json item = json::object();
      item["id"] = entry.id;
      item["url"] = entry.url;
      if (entry.displayName) item["name"] = *entry.displayName;
      items.push_back(std::move(item));
      continue;
    }
    // An entry that was read keeps every member it had; only what changed is written.
    const LSSharedFileListEntry& old = loaded.entries[found->second];
    json item = loaded.root["items"][loaded.itemIndex[found->second]];
    item["id"] = entry.id;
    if (entry.url != old.url) item["url"] = entry.url;
    if (entry.displayName != old.displayName) {
      if (entry.displayName) {
        item["name"] = *entry.displayName;
      } else {
        item.erase("name");
      }
    }
    items.push_back(std::move(item));
  }
  root["items"] = std::move(items);
  return root.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

// Serialises writers of one file across processes; held for one update.
class FileLock {
 public:
  explicit FileLock(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_.valid()) {
      while (::flock(fd_.get(), LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }

 private:
  FileDescriptor fd_;
};

bool isKnownListType(std::string_view listType) { return listType == kLSSharedFileListSessionLoginItems; }

std::mutex gStoresMutex;
std::map<std::string, std::shared_ptr<LSSharedFileListStore>, std::less<>> gOverrides;
std::map<std::string, std::shared_ptr<LSSharedFileListStore>, std::less<>> gFileStores;

std::shared_ptr<LSSharedFileListStore> storeFor(std::string_view listType) {
  std::lock_guard lock(gStoresMutex);
  if (auto found = gOverrides.find(listType); found != gOverrides.end()) return found->second;
  auto& store = gFileStores[std::string(listType)];
  if (!store) store = std::make_shared<LSSharedFileListFileStore>(std::string(listType));
  return store;
}

bool isPosition(const LSSharedFileListItemRef& item) {
  return item == kLSSharedFileListItemBeforeFirst || item == kLSSharedFileListItemLast;
}

ns::Error resolutionError(std::int64_t code, std::string description) {
  return ns::Error::withDescription(LSSharedFileListErrorDomain, code, std::move(description));
}

}  // namespace

// ---------------------------------------------------------------- the file store

LSSharedFileListFileStore::LSSharedFileListFileStore(std::string listType) : listType_(std::move(listType)) {}

std::shared_ptr<LSSharedFileListFileStore> LSSharedFileListFileStore::atPath(std::string path) {
  auto store = std::shared_ptr<LSSharedFileListFileStore>(new LSSharedFileListFileStore());
  store->path_ = std::move(path);
  return store;
}

std::string LSSharedFileListFileStore::defaultPath(std::string_view listType) {
  const std::string directory = ns::paths::appendingPathComponent(ns::paths::simulatedSystemDirectory(), "sharedfilelist");
  return ns::paths::appendingPathComponent(directory, std::string(listType) + ".json");
}

std::string LSSharedFileListFileStore::path() const { return path_ ? *path_ : defaultPath(*listType_); }

bool LSSharedFileListFileStore::open() {
  return ns::paths::createDirectory(ns::paths::deletingLastPathComponent(path()));
}

std::optional<LSSharedFileListEntries> LSSharedFileListFileStore::read() {
  std::lock_guard lock(mutex_);
  const std::string file = path();
  LoadedList loaded = load(file);
  switch (loaded.state) {
    case LoadedList::State::unreadable:
      return std::nullopt;
    case LoadedList::State::malformed:
      moveAside(file);
      return LSSharedFileListEntries{};
    case LoadedList::State::missing:
    case LoadedList::State::wellFormed:
      break;
  }
  return std::move(loaded.entries);
}

OSStatus LSSharedFileListFileStore::update(const std::function<bool(LSSharedFileListEntries&)>& change) {
  std::lock_guard lock(mutex_);
  const std::string file = path();
  const std::string directory = ns::paths::deletingLastPathComponent(file);
  if (!ns::paths::createDirectory(directory)) return kLSSharedFileListErrIO;
  FileLock fileLock(ns::paths::appendingPathComponent(directory, "." + ns::paths::lastPathComponent(file) + ".lock"));
  LoadedList loaded = load(file);
  if (loaded.state == LoadedList::State::unreadable) return kLSSharedFileListErrIO;
  // What cannot be read is kept, never written over.
  if (loaded.state == LoadedList::State::malformed && !moveAside(file)) return kLSSharedFileListErrIO;
  LSSharedFileListEntries entries = loaded.entries;
  if (!change(entries)) return kLSSharedFileListNoErr;
  return ns::writeFileAtomically(file, render(loaded, entries), 0600) == 0 ? kLSSharedFileListNoErr : kLSSharedFileListErrIO;
}

// ---------------------------------------------------------------- the memory store

LSSharedFileListMemoryStore::LSSharedFileListMemoryStore(LSSharedFileListEntries entries)
    : entries_(std::move(entries)) {}

bool LSSharedFileListMemoryStore::open() {
  std::lock_guard lock(mutex_);
  return !openFails_;
}

std::optional<LSSharedFileListEntries> LSSharedFileListMemoryStore::read() {
  std::lock_guard lock(mutex_);
  if (readFails_) return std::nullopt;
  return entries_;
}

OSStatus LSSharedFileListMemoryStore::update(const std::function<bool(LSSharedFileListEntries&)>& change) {
  std::lock_guard lock(mutex_);
  if (readFails_) return kLSSharedFileListErrIO;
  LSSharedFileListEntries entries = entries_;
  if (!change(entries)) return kLSSharedFileListNoErr;
  if (writeFails_) return kLSSharedFileListErrIO;
  entries_ = std::move(entries);
  ++writes_;
  return kLSSharedFileListNoErr;
}

LSSharedFileListEntries LSSharedFileListMemoryStore::entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

void LSSharedFileListMemoryStore::setEntries(LSSharedFileListEntries entries) {
  std::lock_guard lock(mutex_);
  entries_ = std::move(entries);
}

void LSSharedFileListMemoryStore::setOpenFails(bool fails) {
  std::lock_guard lock(mutex_);
  openFails_ = fails;
}

void LSSharedFileListMemoryStore::setReadFails(bool fails) {
  std::lock_guard lock(mutex_);
  readFails_ = fails;
}

void LSSharedFileListMemoryStore::setWriteFails(bool fails) {
  std::lock_guard lock(mutex_);
  writeFails_ = fails;
}

int LSSharedFileListMemoryStore::writeCount() const {
  std::lock_guard lock(mutex_);
  return writes_;
}

void LSSharedFileListSetStoreForTesting(std::string_view listType, std::shared_ptr<LSSharedFileListStore> store) {
  std::lock_guard lock(gStoresMutex);
  if (store) {
    gOverrides[std::string(listType)] = std::move(store);
  } else if (auto found = gOverrides.find(listType); found != gOverrides.end()) {
    gOverrides.erase(found);
  }
}

// ---------------------------------------------------------------- lists and items

const LSSharedFileListItemRef kLSSharedFileListItemBeforeFirst =
    std::make_shared<const LSSharedFileListItem>(nullptr, LSSharedFileListEntry{});
const LSSharedFileListItemRef kLSSharedFileListItemLast =
    std::make_shared<const LSSharedFileListItem>(nullptr, LSSharedFileListEntry{});

LSSharedFileListRef LSSharedFileListCreate(const void* /*allocator*/, std::string_view listType,
                                           const void* /*options*/) {
  if (!isKnownListType(listType)) return nullptr;
  auto store = storeFor(listType);
  if (!store->open()) return nullptr;
  return std::make_shared<LSSharedFileList>(std::string(listType), std::move(store));
}

std::optional<std::vector<LSSharedFileListItemRef>> LSSharedFileListCopySnapshot(const LSSharedFileListRef& list) {
  if (!list) return std::nullopt;
  auto entries = list->store().read();
  if (!entries) return std::nullopt;
  std::vector<LSSharedFileListItemRef> items;
  items.reserve(entries->size());
  for (auto& entry : *entries)
    items.push_back(std::make_shared<const LSSharedFileListItem>(&list->store(), std::move(entry)));
  return items;
}

std::optional<ns::URL> LSSharedFileListItemCopyResolvedURL(const LSSharedFileListItemRef& item, std::uint32_t /*flags*/,
                                                           ns::Error* error) {
  if (!item || isPosition(item)) {
    if (error) *error = resolutionError(kLSSharedFileListErrParam, "There is no item to resolve.");
    return std::nullopt;
  }
  auto url = ns::URL::URLWithString(item->storedURL());
  if (!url) {
    if (error) *error = resolutionError(kLSSharedFileListErrItemNotFound, "The item does not point at a valid URL.");
    return std::nullopt;
  }
  if (!url->isFileURL() || url->path().empty()) return url;
  std::error_code ec;
  const auto canonical = std::filesystem::canonical(url->path(), ec);
  if (ec) return url;  // nothing there to follow: the URL as it was stored
  const bool directory = std::filesystem::is_directory(canonical, ec);
  return ns::URL::fileURLWithPath(canonical.string(), directory && !ec);
}

LSSharedFileListItemRef LSSharedFileListInsertItemURL(const LSSharedFileListRef& list,
                                                      const LSSharedFileListItemRef& insertAfterThisItem,
                                                      std::optional<std::string> displayName, const ns::URL& url) {
  if (!list || !insertAfterThisItem) return nullptr;
  if (!isPosition(insertAfterThisItem) && insertAfterThisItem->store() != &list->store()) return nullptr;
  const std::string text = url.absoluteString();
  std::optional<LSSharedFileListEntry> inserted;
  const OSStatus status = list->store().update([&](LSSharedFileListEntries& entries) {
    const LSSharedFileListEntries before = entries;
    LSSharedFileListEntry entry;
    std::optional<std::size_t> formerPlace;
    auto listed = std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.url == text; });
    if (listed != entries.end()) {
      entry = *listed;
      if (displayName) entry.displayName = displayName;
      formerPlace = static_cast<std::size_t>(listed - entries.begin());
      entries.erase(listed);
    } else {
      entry = LSSharedFileListEntry{freshID(entries), text, displayName};
    }
    std::size_t place = entries.size();
    if (insertAfterThisItem == kLSSharedFileListItemBeforeFirst) {
      place = 0;
    } else if (insertAfterThisItem != kLSSharedFileListItemLast) {
      if (formerPlace && insertAfterThisItem->id() == entry.id) {
        place = *formerPlace;  // after itself: it stays where it is
      } else {
        auto after = std::find_if(entries.begin(), entries.end(), [&](const auto& e) {
          return e.id == insertAfterThisItem->id() && e.url == insertAfterThisItem->storedURL();
        });
        if (after != entries.end()) place = static_cast<std::size_t>(after - entries.begin()) + 1;
      }
    }
    entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(place), entry);
    inserted = entry;
    return entries != before;
  });
  if (status != kLSSharedFileListNoErr || !inserted) return nullptr;
  return std::make_shared<const LSSharedFileListItem>(&list->store(), std::move(*inserted));
}

OSStatus LSSharedFileListItemRemove(const LSSharedFileListRef& list, const LSSharedFileListItemRef& item) {
  if (!list || !item || isPosition(item) || item->store() != &list->store()) return kLSSharedFileListErrParam;
  bool found = false;
  const OSStatus status = list->store().update([&](LSSharedFileListEntries& entries) {
    // The id alone could name a newer entry once a malformed file was reset.
    auto listed = std::find_if(entries.begin(), entries.end(),
                               [&](const auto& e) { return e.id == item->id() && e.url == item->storedURL(); });
    if (listed == entries.end()) return false;
    found = true;
    entries.erase(listed);
    return true;
  });
  if (status != kLSSharedFileListNoErr) return status;
  return found ? kLSSharedFileListNoErr : kLSSharedFileListErrItemNotFound;
}

}  // namespace appkit
