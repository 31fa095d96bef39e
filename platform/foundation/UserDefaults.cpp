#include "platform/foundation/UserDefaults.h"

#include <fcntl.h>
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
    return d;
}

std::string UserDefaults::preferencesPathForBundleIdentifier(const std::string& bundleIdentifier) {
    return paths::appendingPathComponent(paths::preferencesDirectory(), bundleIdentifier + ".plist");
}

UserDefaults::UserDefaults(std::optional<std::string> path, PropertyListFormat format)
    : path_(std::move(path)), format_(format) {}

UserDefaults::~UserDefaults() = default;

// ---------------------------------------------------------------- file

void UserDefaults::load() {
    Data bytes;
    int err = 0;
    switch (readFile(*path_, bytes, err)) {
        case ReadResult::Missing: return;
        case ReadResult::Failed:
            // Unreadable but present: keep it intact and work in memory.
            writable_ = false;
            NSLog("UserDefaults: couldn't read preferences file " + *path_ + " (" + std::strerror(err) +
                  "); using the registered defaults and keeping changes in memory only");
            return;
        case ReadResult::Ok: break;
    }
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
            return;
        }
    }
    moveAside(problem);
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

void UserDefaults::persist(uint64_t generation, const Dictionary& snapshot) {
    std::lock_guard<std::mutex> lock(fileMutex_);
    if (generation <= writtenGeneration_) return;  // a newer snapshot is already on disk
    Error error;
    auto data = PropertyListSerialization::dataWithPropertyList(Value(snapshot), format_, &error);
    std::string failure;
    if (!data) {
        failure = error.localizedDescription();
    } else if (writePreferencesFile(*path_, *data, failure)) {
        writtenGeneration_ = generation;
        lastWriteSucceeded_ = true;
        return;
    }
    lastWriteSucceeded_ = false;
    NSLog("UserDefaults: couldn't write preferences file " + *path_ + ": " + failure);
}

bool UserDefaults::synchronize() {
    if (!path_) return true;
    std::lock_guard<std::mutex> lock(fileMutex_);
    return lastWriteSucceeded_;
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
    uint64_t generation = 0;
    Dictionary snapshot;
    bool persistNow = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stored_.insert_or_assign(std::string(key), value);
        generation = ++generation_;
        persistNow = path_ && writable_;
        if (persistNow) snapshot = stored_;
    }
    if (persistNow) persist(generation, snapshot);
    notify(std::string(key), value);
    return true;
}

void UserDefaults::removeObject(std::string_view key) {
    uint64_t generation = 0;
    Dictionary snapshot;
    bool persistNow = false;
    std::optional<Value> after;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = stored_.find(key);
        if (it != stored_.end()) {
            stored_.erase(it);
            generation = ++generation_;
            persistNow = path_ && writable_;
            if (persistNow) snapshot = stored_;
        }
        after = lookupLocked(key);
    }
    if (persistNow) persist(generation, snapshot);
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
