#include "platform/foundation/UserDefaults.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <utility>

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/detail/Plist.h"

namespace ns {

namespace {

// Never destroyed: queue workers may still read the standard defaults while
// the process's static objects are torn down at exit.
std::mutex& gStandardMutex = *new std::mutex;
std::shared_ptr<UserDefaults>& gStandard = *new std::shared_ptr<UserDefaults>;

// Every persistent store alive, synchronized by an exit handler.
std::mutex& gLiveMutex = *new std::mutex;
std::vector<std::weak_ptr<UserDefaults>>& gLive = *new std::vector<std::weak_ptr<UserDefaults>>;

enum class ReadResult { Ok, Missing, Failed };

ReadResult readFile(const std::string& path, Data& out, int& err) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        err = errno;
        return err == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    }
    out.clear();
    uint8_t buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            ::close(fd);
            return ReadResult::Failed;
        }
        if (n == 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    ::close(fd);
    return ReadResult::Ok;
}

// The preferences file, with its directory made first.
bool writePreferencesFile(const std::string& path, const Data& data, std::string& failure) {
    const std::string dir = paths::deletingLastPathComponent(path);
    if (!dir.empty()) {
        Error error;
        if (!paths::createDirectory(dir, &error)) {
            failure = error.localizedDescription();
            return false;
        }
    }
    if (const int error = writeFileAtomically(path, data, 0600); error != 0) {
        failure = std::strerror(error);
        return false;
    }
    return true;
}

// Temporary files that writes cut short by a crash left beside the file or
// its journal ("<name>.tmp-<pid>-<n>", "<name>.journal.tmp-<pid>-<n>"), of
// processes that are gone.
void removeStaleTemporaries(const std::string& path) {
    const std::string dir = paths::deletingLastPathComponent(path);
    const std::string name = paths::lastPathComponent(path);
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return;
    while (const dirent* e = ::readdir(d)) {
        const std::string entry = e->d_name;
        for (const std::string& prefix : {name + ".tmp-", name + ".journal.tmp-"}) {
            if (entry.compare(0, prefix.size(), prefix) != 0) continue;
            const long pid = std::strtol(entry.c_str() + prefix.size(), nullptr, 10);
            if (pid > 0 && pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
                ::unlink(paths::appendingPathComponent(dir, entry).c_str());
            }
        }
    }
    ::closedir(d);
}

// One change in the journal: its length (4 bytes, little-endian), then a
// binary property list, [key, value] for a stored value and [key] for a
// removal.
std::optional<Data> journalRecord(const std::string& key, const std::optional<Value>& value) {
    Array change{Value(key)};
    if (value) change.push_back(*value);
    auto plist = PropertyListSerialization::dataWithPropertyList(Value(std::move(change)), PropertyListFormat::Binary);
    if (!plist || plist->size() > UINT32_MAX) return std::nullopt;
    const auto n = static_cast<uint32_t>(plist->size());
    Data record{static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                static_cast<uint8_t>(n >> 24)};
    record.insert(record.end(), plist->begin(), plist->end());
    return record;
}

// Applies the journal's changes in order; stops at the first one that is
// cut short or unreadable and says why.
size_t replayJournal(const Data& bytes, Dictionary& stored, std::string* problem) {
    size_t pos = 0;
    size_t count = 0;
    while (pos < bytes.size()) {
        if (bytes.size() - pos < 4) {
            *problem = "it ends inside a change";
            return count;
        }
        const uint32_t n = static_cast<uint32_t>(bytes[pos]) | static_cast<uint32_t>(bytes[pos + 1]) << 8 |
                           static_cast<uint32_t>(bytes[pos + 2]) << 16 | static_cast<uint32_t>(bytes[pos + 3]) << 24;
        pos += 4;
        if (n > bytes.size() - pos) {
            *problem = "it ends inside a change";
            return count;
        }
        auto change = PropertyListSerialization::propertyListWithData(bytes.data() + pos, n);
        const Array* parts = change ? change->array() : nullptr;
        if (!parts || parts->empty() || parts->size() > 2 || !(*parts)[0].isString()) {
            *problem = "a change is unreadable";
            return count;
        }
        const std::string& key = *(*parts)[0].string();
        if (parts->size() == 2) {
            stored.insert_or_assign(key, (*parts)[1]);
        } else {
            stored.erase(key);
        }
        pos += n;
        ++count;
    }
    return count;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// NSString integerValue: leading space, an optional sign, then digits; the
// rest is ignored. Saturates instead of overflowing.
int64_t leadingInteger(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    uint64_t magnitude = 0;
    bool overflow = false;
    for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) {
        const unsigned digit = static_cast<unsigned>(s[i] - '0');
        if (magnitude > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
            overflow = true;
            break;
        }
        magnitude = magnitude * 10 + digit;
    }
    constexpr uint64_t kMaxPositive = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (negative) {
        if (overflow || magnitude > kMaxPositive + 1) return std::numeric_limits<int64_t>::min();
        return magnitude == kMaxPositive + 1 ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(magnitude);
    }
    if (overflow || magnitude > kMaxPositive) return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(magnitude);
}

double leadingDouble(const std::string& s) {
    const char* begin = s.c_str();
    char* end = nullptr;
    const double d = std::strtod(begin, &end);
    return end == begin ? 0.0 : d;
}

}  // namespace

// ---------------------------------------------------------------- instances

std::shared_ptr<UserDefaults> UserDefaults::standard() {
    std::lock_guard<std::mutex> lock(gStandardMutex);
    if (!gStandard) gStandard = inMemory();
    return gStandard;
}

void UserDefaults::setStandard(std::shared_ptr<UserDefaults> defaults) {
    std::shared_ptr<UserDefaults> old;
    std::lock_guard<std::mutex> lock(gStandardMutex);
    old = std::move(gStandard);
    gStandard = std::move(defaults);
}

std::shared_ptr<UserDefaults> UserDefaults::inMemory() {
    return std::shared_ptr<UserDefaults>(new UserDefaults(std::nullopt, PropertyListFormat::Binary));
}

std::shared_ptr<UserDefaults> UserDefaults::persistent(std::string path, PropertyListFormat format) {
    std::shared_ptr<UserDefaults> d(new UserDefaults(std::move(path), format));
    d->load();
    static std::once_flag exitHandler;
    std::call_once(exitHandler, [] { std::atexit([] { synchronizeAll(); }); });
    std::lock_guard<std::mutex> lock(gLiveMutex);
    std::erase_if(gLive, [](const std::weak_ptr<UserDefaults>& w) { return w.expired(); });
    gLive.push_back(d);
    return d;
}

void UserDefaults::synchronizeAll() {
    std::vector<std::weak_ptr<UserDefaults>> live;
    {
        std::lock_guard<std::mutex> lock(gLiveMutex);
        live = gLive;
    }
    for (const auto& w : live)
        if (auto d = w.lock()) d->synchronize();
}

std::string UserDefaults::preferencesPathForBundleIdentifier(const std::string& bundleIdentifier) {
    return paths::appendingPathComponent(paths::preferencesDirectory(), bundleIdentifier + ".plist");
}

UserDefaults::UserDefaults(std::optional<std::string> path, PropertyListFormat format)
    : path_(std::move(path)), format_(format) {}

UserDefaults::~UserDefaults() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    // The writer writes what is still pending before it ends.
    if (writer_.joinable()) writer_.join();
    if (journalFd_ >= 0) ::close(journalFd_);
}

// ---------------------------------------------------------------- file

void UserDefaults::load() {
    // The journal before the file: a writer that replaces the file in between
    // has folded in everything this journal holds, and replaying changes the
    // file already has is harmless.
    Data journal;
    int journalErr = 0;
    const ReadResult journalRead = readFile(journalPath(), journal, journalErr);
    Data bytes;
    int err = 0;
    switch (readFile(*path_, bytes, err)) {
        case ReadResult::Missing: break;
        case ReadResult::Failed:
            // Unreadable but present: keep it (and its journal) intact and work in memory.
            writable_ = false;
            NSLog("UserDefaults: couldn't read preferences file " + *path_ + " (" + std::strerror(err) +
                  "); using the registered defaults and keeping changes in memory only");
            return;
        case ReadResult::Ok: {
            std::string problem;
            if (bytes.empty()) {
                problem = "it is empty";
            } else {
                Error error;
                auto value = PropertyListSerialization::propertyListWithData(bytes, &error);
                if (!value) {
                    problem = error.localizedDescription();
                } else if (!value->isDictionary()) {
                    problem = std::string("its root is a ") + Value::kindName(value->kind()) + ", not a dictionary";
                } else {
                    stored_ = std::move(*value->dictionary());
                }
            }
            if (!problem.empty()) moveAside(problem);
            if (!writable_) return;
            break;
        }
    }
    removeStaleTemporaries(*path_);
    if (journalRead == ReadResult::Failed) {
        journalBroken_ = true;
        NSLog("UserDefaults: couldn't read preferences journal " + journalPath() + " (" + std::strerror(journalErr) +
              "); the changes it holds are lost");
    } else if (journalRead == ReadResult::Ok) {
        std::string problem;
        const size_t applied = replayJournal(journal, stored_, &problem);
        if (!problem.empty()) {
            // Nothing is added after the damage; the next write of the file replaces the journal.
            journalBroken_ = true;
            NSLog("UserDefaults: preferences journal " + journalPath() + " is damaged after " +
                  std::to_string(applied) + " changes (" + problem + "); the rest of it is ignored");
        }
    }
}

void UserDefaults::moveAside(const std::string& problem) {
    const std::string base = *path_ + ".corrupt-" + std::to_string(static_cast<long long>(::time(nullptr)));
    std::string target = base;
    for (int i = 1; paths::fileExists(target) && i < 1000; ++i) target = base + "-" + std::to_string(i);
    if (::rename(path_->c_str(), target.c_str()) == 0) {
        NSLog("UserDefaults: preferences file " + *path_ + " is unusable (" + problem + "); moved it to " + target +
              " and started with the registered defaults");
        return;
    }
    const int err = errno;
    writable_ = false;
    NSLog("UserDefaults: preferences file " + *path_ + " is unusable (" + problem + ") and couldn't be moved aside (" +
          std::strerror(err) + "); left it in place, started with the registered defaults, changes stay in memory");
}

void UserDefaults::recordChangeLocked(const std::string& key, const std::optional<Value>& value) {
    if (!path_ || !writable_) return;
    ++generation_;
    journalLocked(key, value);
    startWriterLocked();
    wake_.notify_one();
}

void UserDefaults::journalLocked(const std::string& key, const std::optional<Value>& value) {
    if (journalBroken_) return;
    const auto fail = [this](const std::string& why) {
        journalBroken_ = true;
        NSLog("UserDefaults: couldn't add to preferences journal " + journalPath() + ": " + why +
              "; changes reach the file only when it is written");
    };
    const auto record = journalRecord(key, value);
    if (!record) return fail("a change could not be encoded");
    if (journalFd_ < 0) {
        const std::string dir = paths::deletingLastPathComponent(*path_);
        Error error;
        if (!dir.empty() && !paths::createDirectory(dir, &error)) return fail(error.localizedDescription());
        journalFd_ = ::open(journalPath().c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        struct stat st {};
        if (journalFd_ < 0 || ::fstat(journalFd_, &st) != 0) {
            const int openErr = errno;
            if (journalFd_ >= 0) ::close(journalFd_);
            journalFd_ = -1;
            return fail(std::strerror(openErr));
        }
        // What a journal left by an earlier run holds is already in stored_.
        journalSize_ = static_cast<uint64_t>(st.st_size);
    }
    for (size_t done = 0; done < record->size();) {
        const ssize_t n = ::write(journalFd_, record->data() + done, record->size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(std::strerror(errno));
        }
        done += static_cast<size_t>(n);
        journalSize_ += static_cast<uint64_t>(n);
    }
}

// After the file was written with every change in the journal's first
// `covered` bytes: keeps only the changes that came in since.
void UserDefaults::trimJournalLocked(uint64_t covered) {
    if (!journalBroken_ && journalFd_ >= 0 && journalSize_ > covered) {
        Data tail(journalSize_ - covered);
        const ssize_t n = ::pread(journalFd_, tail.data(), tail.size(), static_cast<off_t>(covered));
        if (n != static_cast<ssize_t>(tail.size()) || writeFileAtomically(journalPath(), tail, 0600) != 0) {
            return;  // the whole journal stays; replaying its older changes is harmless
        }
        ::close(journalFd_);
        journalFd_ = ::open(journalPath().c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
        journalSize_ = tail.size();
        if (journalFd_ < 0) journalBroken_ = true;
        return;
    }
    if (journalFd_ >= 0) ::close(journalFd_);
    journalFd_ = -1;
    journalSize_ = 0;
    journalBroken_ = false;
    ::unlink(journalPath().c_str());
}

void UserDefaults::startWriterLocked() {
    if (!writer_.joinable()) writer_ = std::thread([this] { writerLoop(); });
}

void UserDefaults::writerLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || writeRequested_ || generation_ > attemptedGeneration_; });
        const bool retry = std::exchange(writeRequested_, false);
        if (generation_ > attemptedGeneration_ || (retry && generation_ > writtenGeneration_)) {
            // Every change made until now goes into this one write.
            const uint64_t generation = generation_;
            const uint64_t covered = journalSize_;
            Dictionary snapshot = stored_;
            lock.unlock();
            const bool ok = writeFile(std::move(snapshot));
            lock.lock();
            attemptedGeneration_ = generation;
            if (ok) {
                writtenGeneration_ = generation;
                trimJournalLocked(covered);
            }
        }
        written_.notify_all();
        if (stopping_ && generation_ <= attemptedGeneration_) return;
    }
}

bool UserDefaults::writeFile(Dictionary snapshot) {
    Error error;
    auto data = PropertyListSerialization::dataWithPropertyList(Value(std::move(snapshot)), format_, &error);
    std::string failure;
    if (!data) {
        failure = error.localizedDescription();
    } else if (writePreferencesFile(*path_, *data, failure)) {
        return true;
    }
    NSLog("UserDefaults: couldn't write preferences file " + *path_ + ": " + failure);
    return false;
}

bool UserDefaults::synchronize() {
    if (!path_) return true;
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t target = generation_;
    if (writtenGeneration_ >= target) return true;
    writeRequested_ = true;
    startWriterLocked();
    wake_.notify_one();
    written_.wait(lock, [&] { return attemptedGeneration_ >= target && !writeRequested_; });
    return writtenGeneration_ >= target;
}

// ---------------------------------------------------------------- values

std::optional<Value> UserDefaults::lookupLocked(std::string_view key) const {
    if (auto it = stored_.find(key); it != stored_.end()) return it->second;
    if (auto it = registered_.find(key); it != registered_.end()) return it->second;
    return std::nullopt;
}

void UserDefaults::registerDefaults(const Dictionary& defaults) {
    std::vector<std::pair<std::string, std::optional<Value>>> changed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [key, value] : defaults) {
            const auto before = lookupLocked(key);
            registered_.insert_or_assign(key, value);
            if (stored_.find(key) == stored_.end() && (!before || !(*before == value)) && observers_.count(key))
                changed.emplace_back(key, value);
        }
    }
    for (const auto& [key, value] : changed) notify(key, value);
}

Dictionary UserDefaults::registeredDefaults() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return registered_;
}

std::optional<Value> UserDefaults::object(std::string_view key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lookupLocked(key);
}

bool UserDefaults::setObject(std::string_view key, const Value& input) {
    // Store what the file will give back, so a value reads the same before and
    // after a restart (unsigned numbers become signed, ordered dictionaries
    // plain ones, dates are kept to the microsecond).
    std::string reason;
    detail::PlistPtr node(detail::valueToPlist(input, &reason));
    std::optional<Value> normalized;
    if (node) normalized = detail::plistToValue(node.get(), &reason);
    if (!normalized) {
        NSLog("UserDefaults: refused to store a value for key \"" + std::string(key) + "\": " + reason);
        return false;
    }
    const Value& value = *normalized;
    if (!detail::isPlistString(std::string(key))) {
        NSLog("UserDefaults: refused to store a value for a key that is not valid UTF-8 or contains NUL");
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stored_.insert_or_assign(std::string(key), value);
        recordChangeLocked(std::string(key), value);
    }
    notify(std::string(key), value);
    return true;
}

void UserDefaults::removeObject(std::string_view key) {
    std::optional<Value> after;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = stored_.find(key);
        if (it != stored_.end()) {
            stored_.erase(it);
            recordChangeLocked(std::string(key), std::nullopt);
        }
        after = lookupLocked(key);
    }
    notify(std::string(key), after);
}

bool UserDefaults::boolForKey(std::string_view key) const {
    const auto v = object(key);
    if (!v) return false;
    if (auto b = v->asBool()) return *b;
    if (auto s = v->string()) {
        if (equalsIgnoringCase(*s, "yes") || equalsIgnoringCase(*s, "true")) return true;
        return leadingDouble(*s) != 0.0;
    }
    return false;
}

int64_t UserDefaults::integerForKey(std::string_view key) const {
    const auto v = object(key);
    if (!v) return 0;
    if (auto i = v->asInt64()) return *i;
    if (auto s = v->string()) return leadingInteger(*s);
    return 0;
}

double UserDefaults::doubleForKey(std::string_view key) const {
    const auto v = object(key);
    if (!v) return 0.0;
    if (auto d = v->asDouble()) return *d;
    if (auto s = v->string()) return leadingDouble(*s);
    return 0.0;
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
    const auto v = object(key);
    if (!v) return std::nullopt;
    if (auto s = v->string()) return *s;
    if (v->isNumber()) return v->description();
    return std::nullopt;
}

std::optional<std::vector<std::string>> UserDefaults::stringArrayForKey(std::string_view key) const {
    const auto v = object(key);
    if (!v || !v->isArray()) return std::nullopt;
    std::vector<std::string> out;
    out.reserve(v->array()->size());
    for (const Value& item : *v->array()) {
        if (!item.isString()) return std::nullopt;
        out.push_back(*item.string());
    }
    return out;
}

std::optional<Array> UserDefaults::arrayForKey(std::string_view key) const {
    const auto v = object(key);
    if (!v || !v->isArray()) return std::nullopt;
    return *v->array();
}

std::optional<Dictionary> UserDefaults::dictionaryForKey(std::string_view key) const {
    const auto v = object(key);
    if (!v) return std::nullopt;
    return v->asDictionary();
}

std::optional<Data> UserDefaults::dataForKey(std::string_view key) const {
    const auto v = object(key);
    if (!v || !v->isData()) return std::nullopt;
    return *v->data();
}

Dictionary UserDefaults::dictionaryRepresentation() const {
    std::lock_guard<std::mutex> lock(mutex_);
    Dictionary out = registered_;
    for (const auto& [k, v] : stored_) out.insert_or_assign(k, v);
    return out;
}

Dictionary UserDefaults::persistentDomain() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stored_;
}

// ---------------------------------------------------------------- observers

ObserverToken UserDefaults::addObserver(std::string key, ObservingOptions options, ObserverCallback callback) {
    auto registration = std::make_shared<Registration>(std::move(callback));
    std::optional<Value> current;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (options.newValue) observers_[key].push_back(registration);
        current = lookupLocked(key);
    }
    std::weak_ptr<UserDefaults> weak = weak_from_this();
    ObserverToken token([weak, key, registration] {
        if (auto self = weak.lock()) self->removeRegistration(key, registration);
        registration->deactivate();
    });
    if (options.initial) registration->invoke(current);
    return token;
}

void UserDefaults::removeRegistration(const std::string& key, const std::shared_ptr<Registration>& registration) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = observers_.find(key);
    if (it == observers_.end()) return;
    auto& list = it->second;
    list.erase(std::remove(list.begin(), list.end(), registration), list.end());
    if (list.empty()) observers_.erase(it);
}

void UserDefaults::notify(const std::string& key, const std::optional<Value>& value) {
    std::vector<std::shared_ptr<Registration>> targets;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = observers_.find(key);
        if (it == observers_.end()) return;
        targets = it->second;
    }
    for (const auto& r : targets) r->invoke(value);
}

}  // namespace ns
