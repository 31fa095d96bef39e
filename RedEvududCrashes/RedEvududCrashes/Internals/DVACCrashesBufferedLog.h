#pragma once
// The crash-time log buffer: 60 slots in static storage, each holding a copy
// of a log that a channel unit has prepared but not yet stored, and the dump
// that writes every slot to its files from inside a crashing process.
//
// A slot's contents are published as one immutable record through an atomic
// pointer, so the dump, which takes no lock, always sees either the old or
// the new record whole. A replaced record is freed at once while no dump has
// started; once one has, replaced records are only kept on a list (the
// process is about to end), so the dump never reads freed memory.

#include <signal.h>
#include <ucontext.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

inline constexpr int kDVACCrashesLogBufferSize = 60;
inline constexpr const char* kDVACLogBufferFileExtension = "dvcrasheslogbuffer";
inline constexpr const char* kDVACTargetTokenFileExtension = "targettoken";

// What one occupied slot holds; never changed once published.
struct DVACCrashesBufferedLogContent {
  char* buffer;
  size_t bufferLength;
  char* targetToken;
  size_t targetTokenLength;
  char* internalId;
  size_t internalIdLength;
  double timestamp;
  // Links records replaced after a dump began, which are kept, not freed.
  DVACCrashesBufferedLogContent* retiredNext;
};

// NUL-terminated paths of a slot's two files.
struct DVACCrashesBufferedLogPaths {
  char* bufferPath;
  char* targetTokenPath;
  DVACCrashesBufferedLogPaths* retiredNext;
};

struct DVACCrashesBufferedLog {
  std::atomic<DVACCrashesBufferedLogPaths*> paths;
  // Null for a free slot.
  std::atomic<DVACCrashesBufferedLogContent*> content;
};

extern DVACCrashesBufferedLog DVACCrashesLogBuffer[kDVACCrashesLogBufferSize];
// 1 once a dump has started in this process.
extern std::atomic<uint8_t> DVACCrashesBufferDumped;

// ---- Slots (callers serialise changes under the Crashes service's monitor) ---

// A fresh, free slot with these two file paths.
void DVACCrashesBufferedLogSetUp(int index, const std::string& bufferPath, const std::string& targetTokenPath);
void DVACCrashesBufferedLogFill(int index, const ns::Data& buffer, const std::string& targetToken,
                                const std::string& internalId, double timestamp);
void DVACCrashesBufferedLogClear(int index);
bool DVACCrashesBufferedLogIsFree(int index);
double DVACCrashesBufferedLogTimestamp(int index);
std::string DVACCrashesBufferedLogInternalId(int index);
std::string DVACCrashesBufferedLogTargetToken(int index);
ns::Data DVACCrashesBufferedLogBuffer(int index);
std::optional<std::string> DVACCrashesBufferedLogBufferPath(int index);
std::optional<std::string> DVACCrashesBufferedLogTargetTokenPath(int index);

// ---- Crash time ---------------------------------------------------------------

// Writes every slot's buffer to its buffer file (free slots leave an empty
// file) and every non-empty token to its token file, and removes the token
// file of a slot without one, with open, write, close and unlink only.
// Returns the number of files that could not be written.
int DVACCrashesSaveLogBuffer();
// The engine's crash callback: ignores its arguments and dumps the buffer.
void DVACCrashesPostCrashCallback(siginfo_t* info, ucontext_t* uap, void* context);

// Back to a fresh process: every slot free and without paths, no dump seen.
void DVACCrashesLogBufferResetForTesting();
