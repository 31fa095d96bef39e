#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACCrashesBufferedLog.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

DVACCrashesBufferedLog DVACCrashesLogBuffer[kDVACCrashesLogBufferSize];
std::atomic<uint8_t> DVACCrashesBufferDumped{0};

namespace {

static_assert(std::atomic<DVACCrashesBufferedLogContent*>::is_always_lock_free,
              "the dump reads the slots from a signal handler");

char* copyBytes(const void* bytes, size_t length) {
  auto* copy = static_cast<char*>(std::malloc(length + 1));
  if (!copy) return nullptr;
  if (length) std::memcpy(copy, bytes, length);
  copy[length] = '\0';
  return copy;
}

void freeContent(DVACCrashesBufferedLogContent* content) {
  if (!content) return;
  std::free(content->buffer);
  std::free(content->targetToken);
  std::free(content->internalId);
  std::free(content);
}

void freePaths(DVACCrashesBufferedLogPaths* paths) {
  if (!paths) return;
  std::free(paths->bufferPath);
  std::free(paths->targetTokenPath);
  std::free(paths);
}

// Records replaced after a dump began: kept, and reachable from here.
std::atomic<DVACCrashesBufferedLogContent*> g_retiredContents{nullptr};
std::atomic<DVACCrashesBufferedLogPaths*> g_retiredPaths{nullptr};

template <typename T>
void keep(std::atomic<T*>& list, T* record) {
  T* head = list.load();
  do {
    record->retiredNext = head;
  } while (!list.compare_exchange_weak(head, record));
}

// Frees a record taken out of a slot, unless a dump may be reading it.
void retire(DVACCrashesBufferedLogContent* old, void (*release)(DVACCrashesBufferedLogContent*)) {
  if (!old) return;
  if (DVACCrashesBufferDumped.load(std::memory_order_seq_cst) == 0) {
    release(old);
  } else {
    keep(g_retiredContents, old);
  }
}

void retire(DVACCrashesBufferedLogPaths* old, void (*release)(DVACCrashesBufferedLogPaths*)) {
  if (!old) return;
  if (DVACCrashesBufferDumped.load(std::memory_order_seq_cst) == 0) {
    release(old);
  } else {
    keep(g_retiredPaths, old);
  }
}

bool inRange(int index) { return index >= 0 && index < kDVACCrashesLogBufferSize; }

// Releases the slots' records at exit, last slot first.
struct LogBufferLifetime {
  ~LogBufferLifetime() {
    for (int i = kDVACCrashesLogBufferSize - 1; i >= 0; --i) {
      retire(DVACCrashesLogBuffer[i].content.exchange(nullptr), freeContent);
      retire(DVACCrashesLogBuffer[i].paths.exchange(nullptr), freePaths);
    }
  }
};
LogBufferLifetime g_lifetime;

// One file, whole or as far as the system lets it be written.
bool writeFile(const char* path, const char* bytes, size_t length) {
  if (!path) return false;
  int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  size_t written = 0;
  while (written < length) {
    ssize_t n = ::write(fd, bytes + written, length - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    written += static_cast<size_t>(n);
  }
  ::close(fd);
  return ok;
}

}  // namespace

void DVACCrashesBufferedLogSetUp(int index, const std::string& bufferPath, const std::string& targetTokenPath) {
  if (!inRange(index)) return;
  auto* paths = static_cast<DVACCrashesBufferedLogPaths*>(std::calloc(1, sizeof(DVACCrashesBufferedLogPaths)));
  if (paths) {
    paths->bufferPath = copyBytes(bufferPath.data(), bufferPath.size());
    paths->targetTokenPath = copyBytes(targetTokenPath.data(), targetTokenPath.size());
  }
  retire(DVACCrashesLogBuffer[index].paths.exchange(paths), freePaths);
  retire(DVACCrashesLogBuffer[index].content.exchange(nullptr), freeContent);
}

void DVACCrashesBufferedLogFill(int index, const ns::Data& buffer, const std::string& targetToken,
                                const std::string& internalId, double timestamp) {
  if (!inRange(index) || buffer.empty()) return;
  auto* content =
      static_cast<DVACCrashesBufferedLogContent*>(std::calloc(1, sizeof(DVACCrashesBufferedLogContent)));
  if (!content) return;
  content->buffer = copyBytes(buffer.data(), buffer.size());
  content->targetToken = copyBytes(targetToken.data(), targetToken.size());
  content->internalId = copyBytes(internalId.data(), internalId.size());
  if (!content->buffer || !content->targetToken || !content->internalId) {
    freeContent(content);
    return;
  }
  content->bufferLength = buffer.size();
  content->targetTokenLength = targetToken.size();
  content->internalIdLength = internalId.size();
  content->timestamp = timestamp;
  retire(DVACCrashesLogBuffer[index].content.exchange(content), freeContent);
}

void DVACCrashesBufferedLogClear(int index) {
  if (!inRange(index)) return;
  retire(DVACCrashesLogBuffer[index].content.exchange(nullptr), freeContent);
}

bool DVACCrashesBufferedLogIsFree(int index) {
  if (!inRange(index)) return false;
  auto* content = DVACCrashesLogBuffer[index].content.load();
  return !content || content->bufferLength == 0;
}

double DVACCrashesBufferedLogTimestamp(int index) {
  if (!inRange(index)) return 0;
  auto* content = DVACCrashesLogBuffer[index].content.load();
  return content ? content->timestamp : 0;
}

std::string DVACCrashesBufferedLogInternalId(int index) {
  if (!inRange(index)) return {};
  auto* content = DVACCrashesLogBuffer[index].content.load();
  return content ? std::string(content->internalId, content->internalIdLength) : std::string();
}

std::string DVACCrashesBufferedLogTargetToken(int index) {
  if (!inRange(index)) return {};
  auto* content = DVACCrashesLogBuffer[index].content.load();
  return content ? std::string(content->targetToken, content->targetTokenLength) : std::string();
}

ns::Data DVACCrashesBufferedLogBuffer(int index) {
  if (!inRange(index)) return {};
  auto* content = DVACCrashesLogBuffer[index].content.load();
  if (!content) return {};
  const auto* bytes = reinterpret_cast<const uint8_t*>(content->buffer);
  return ns::Data(bytes, bytes + content->bufferLength);
}

std::optional<std::string> DVACCrashesBufferedLogBufferPath(int index) {
  if (!inRange(index)) return std::nullopt;
  auto* paths = DVACCrashesLogBuffer[index].paths.load();
  if (!paths || !paths->bufferPath) return std::nullopt;
  return std::string(paths->bufferPath);
}

std::optional<std::string> DVACCrashesBufferedLogTargetTokenPath(int index) {
  if (!inRange(index)) return std::nullopt;
  auto* paths = DVACCrashesLogBuffer[index].paths.load();
  if (!paths || !paths->targetTokenPath) return std::nullopt;
  return std::string(paths->targetTokenPath);
}

int DVACCrashesSaveLogBuffer() {
  DVACCrashesBufferDumped.store(1, std::memory_order_seq_cst);
  int failures = 0;
  for (int i = 0; i < kDVACCrashesLogBufferSize; ++i) {
    const DVACCrashesBufferedLogPaths* paths = DVACCrashesLogBuffer[i].paths.load(std::memory_order_seq_cst);
    const DVACCrashesBufferedLogContent* content = DVACCrashesLogBuffer[i].content.load(std::memory_order_seq_cst);
    if (!paths) continue;
    const char* buffer = content ? content->buffer : "";
    const size_t length = content ? content->bufferLength : 0;
    if (!writeFile(paths->bufferPath, buffer, length)) ++failures;
    if (content && content->targetTokenLength > 0) {
      if (!writeFile(paths->targetTokenPath, content->targetToken, content->targetTokenLength)) ++failures;
    } else if (paths->targetTokenPath) {
      // A token file of an earlier dump belongs to a log no longer in the
      // slot; left, it would be replayed onto this one.
      ::unlink(paths->targetTokenPath);
    }
  }
  return failures;
}

void DVACCrashesPostCrashCallback(siginfo_t*, ucontext_t*, void*) { DVACCrashesSaveLogBuffer(); }

void DVACCrashesLogBufferResetForTesting() {
  DVACCrashesBufferDumped.store(0);
  for (auto& slot : DVACCrashesLogBuffer) {
    freeContent(slot.content.exchange(nullptr));
    freePaths(slot.paths.exchange(nullptr));
  }
  for (auto* record = g_retiredContents.exchange(nullptr); record;) {
    auto* next = record->retiredNext;
    freeContent(record);
    record = next;
  }
  for (auto* record = g_retiredPaths.exchange(nullptr); record;) {
    auto* next = record->retiredNext;
    freePaths(record);
    record = next;
  }
}
