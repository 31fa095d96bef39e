#pragma once
// NSUserDefaults stand-in: a key-value store with registered defaults, typed
// getters, key observers and a property-list file behind it.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/foundation/ObserverToken.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Value.h"

namespace ns {

// Key-value observing options: `initial` calls the observer once when it is
// installed, `newValue` on every later change of the key.
struct ObservingOptions {
    bool initial = false;
    bool newValue = true;
};

class UserDefaults : public std::enable_shared_from_this<UserDefaults> {
public:
    // Receives the key's value after the change (stored, else registered, else nullopt).
    using ObserverCallback = std::function<void(const std::optional<Value>& newValue)>;

    // The process-wide instance. Until setStandard() picks one it is an
    // in-memory store, so nothing touches the user's files by accident.
    static std::shared_ptr<UserDefaults> standard();
    static void setStandard(std::shared_ptr<UserDefaults> defaults);

    static std::shared_ptr<UserDefaults> inMemory();
    // Backed by a property-list file. A missing file starts empty. A file that
    // is empty, damaged, not a property list or not a dictionary is moved aside
    // as "<path>.corrupt-<unix time>" with one NSLog line; the store then starts
    // with the registered values only. A file that exists but cannot be read or
    // moved is left alone and changes stay in memory.
    //
    // A change costs the caller one small append to "<path>.journal"; a
    // writer thread of the store folds the changes into the file (temporary
    // file, then rename), as many as came in while it wrote, and then drops
    // the journal. Loading replays what a journal holds, so a change survives
    // a crash of the process before it reached the file. synchronize() waits
    // for the file; every live store is synchronized at exit(), and when it
    // is destroyed. One store per file at a time.
    static std::shared_ptr<UserDefaults> persistent(std::string path,
                                                    PropertyListFormat format = PropertyListFormat::Binary);
    // "<Preferences directory>/<bundle identifier>.plist".
    static std::string preferencesPathForBundleIdentifier(const std::string& bundleIdentifier);

    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // Values used for keys that have no stored value; never written to disk.
    // Later registrations of a key replace earlier ones.
    void registerDefaults(const Dictionary& defaults);
    Dictionary registeredDefaults() const;

    std::optional<Value> object(std::string_view key) const;
    std::optional<Value> objectForKey(std::string_view key) const { return object(key); }
    // Refuses (with an NSLog line, keeping the old value) what a property list
    // cannot hold: null, UUIDs, objects, huge unsigned numbers, invalid UTF-8.
    // Stores the value as the file will give it back (integers signed,
    // dictionaries plain, dates to the microsecond). Returns whether it was stored.
    bool setObject(std::string_view key, const Value& value);
    bool setValue(std::string_view key, const Value& value) { return setObject(key, value); }
    void removeObject(std::string_view key);
    void removeObjectForKey(std::string_view key) { removeObject(key); }

    void setBool(std::string_view key, bool value) { setObject(key, Value(value)); }
    void setInteger(std::string_view key, int64_t value) { setObject(key, Value(value)); }
    void setDouble(std::string_view key, double value) { setObject(key, Value(value)); }

    // Absent -> false; numbers -> nonzero; strings "YES"/"true" (any case) or a
    // nonzero number -> true.
    bool boolForKey(std::string_view key) const;
    // Absent -> 0; numbers truncated toward zero (saturating); strings read as
    // a leading decimal number, else 0.
    int64_t integerForKey(std::string_view key) const;
    double doubleForKey(std::string_view key) const;
    // Strings, and numbers as their text.
    std::optional<std::string> stringForKey(std::string_view key) const;
    // Only when the value is an array whose every element is a string.
    std::optional<std::vector<std::string>> stringArrayForKey(std::string_view key) const;
    std::optional<Array> arrayForKey(std::string_view key) const;
    std::optional<Dictionary> dictionaryForKey(std::string_view key) const;
    std::optional<Data> dataForKey(std::string_view key) const;

    // Registered values overlaid by stored ones.
    Dictionary dictionaryRepresentation() const;
    // Stored values only (what the file holds).
    Dictionary persistentDomain() const;

    // Key-value observation of one key. The callback runs synchronously on the
    // thread that changed the key, after the new value is stored (and written
    // out), outside the store's lock, so it may read or write the defaults.
    ObserverToken addObserver(std::string key, ObservingOptions options, ObserverCallback callback);

    // Writes every change made so far (and what a journal brought back at
    // load) to the file and returns whether that succeeded (true for
    // in-memory stores, and for stores whose file is left alone).
    bool synchronize();
    // synchronize() of every persistent store still alive, for exits that
    // skip the exit handlers (std::_Exit).
    static void synchronizeAll();
    std::optional<std::string> path() const { return path_; }

private:
    using Registration = detail::Registration<ObserverCallback>;

    UserDefaults(std::optional<std::string> path, PropertyListFormat format);
    void load();
    void moveAside(const std::string& what);
    // Adds a change (a value, or nullopt for a removal) to the journal and
    // wakes the writer; mutex_ held.
    void recordChangeLocked(const std::string& key, const std::optional<Value>& value);
    void journalLocked(const std::string& key, const std::optional<Value>& value);
    void trimJournalLocked(uint64_t covered);
    void startWriterLocked();
    void writerLoop();
    bool writeFile(Dictionary snapshot);
    std::optional<Value> lookupLocked(std::string_view key) const;
    void notify(const std::string& key, const std::optional<Value>& value);
    void removeRegistration(const std::string& key, const std::shared_ptr<Registration>& registration);
    std::string journalPath() const { return *path_ + ".journal"; }

    const std::optional<std::string> path_;
    const PropertyListFormat format_;

    mutable std::mutex mutex_;
    Dictionary stored_;
    Dictionary registered_;
    std::map<std::string, std::vector<std::shared_ptr<Registration>>, std::less<>> observers_;
    bool writable_ = true;  // false when the file on disk must not be replaced

    // The file and its journal, under mutex_. Generations count changes: the
    // file holds every change up to `writtenGeneration_`, the journal (of
    // `journalSize_` bytes) at least every change since.
    uint64_t generation_ = 0;
    uint64_t writtenGeneration_ = 0;
    uint64_t attemptedGeneration_ = 0;
    bool writeRequested_ = false;  // a flush asked for, even with nothing new
    int journalFd_ = -1;
    uint64_t journalSize_ = 0;
    bool journalBroken_ = false;  // no appends until the next write of the file
    std::condition_variable wake_;
    std::condition_variable written_;
    std::thread writer_;
    bool stopping_ = false;
};

}  // namespace ns
