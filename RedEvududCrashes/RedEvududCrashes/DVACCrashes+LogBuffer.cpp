// The Crashes service's side of the crash-time log buffer: filling and
// clearing the slots as logs are prepared and stored, replaying the files a
// crash left, and emptying them when the service is switched off.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>

#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelGroupProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitConfiguration.h"
#include "RedEvudud/RedEvudud/Internals/Channel/DVACChannelUnitProtocol.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACEncrypter.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvududCrashes/RedEvududCrashes/DVACCrashes.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACCrashesBufferedLog.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/Util/DVACCrashesUtil.h"

namespace {

std::string replacingAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

bool truncateFile(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  std::fclose(file);
  return true;
}

std::string describe(const std::optional<std::string>& text) { return text.value_or("(null)"); }

}  // namespace

void DVACCrashes::setupLogBuffer() {
  std::lock_guard lock(synchronizationLock());
  for (int i = 0; i < kDVACCrashesLogBufferSize; ++i) {
    const std::string component =
        logBufferPathComponent_ + "/" + std::to_string(i) + "." + kDVACLogBufferFileExtension;
    auto url = DVACUtility::fullURLForPathComponent(component);
    // The task keeps the group alive: the service may be gone when it runs.
    auto group = bufferFileGroup_;
    group->enter();
    bufferFileQueue_->async([group, component] {
      DVACUtility::createFileAtPathComponent(component, std::nullopt, false, false);
      group->leave();
    });
    const std::string path = url ? url->path() : std::string();
    DVACCrashesBufferedLogSetUp(i, path, replacingAll(path, kDVACLogBufferFileExtension, kDVACTargetTokenFileExtension));
  }
}

void DVACCrashes::channelDidPrepareLog(const std::shared_ptr<DVACChannelProtocol>&,
                                       const std::shared_ptr<DVACLog>& log, const std::string& internalId,
                                       DVACLogFlags) {
  if (!log || !isEnabled()) return;
  if (std::dynamic_pointer_cast<DVACAppleErrorLog>(log) || std::dynamic_pointer_cast<DVACErrorAttachmentLog>(log)) {
    return;
  }
  std::lock_guard lock(synchronizationLock());
  auto archive = DVACUtility::archiveKeyedData(ns::Value(log));
  if (!archive || archive->empty()) return;

  std::string token;
  if (auto tokens = log->transmissionTargetTokens(); tokens && !tokens->empty()) {
    token = targetTokenEncrypter_->encryptString(*tokens->begin()).value_or("");
  }
  DVACLogVerbose(kDVACCrashesLogTag, "Storing a log to Crashes Buffer: (sid: " + describe(log->sid()) +
                                         ", type: " + describe(log->type()) + ")");

  double oldest = std::numeric_limits<double>::max();
  int index = 0;
  bool foundFree = false;
  for (int i = 0; i < kDVACCrashesLogBufferSize; ++i) {
    if (DVACCrashesBufferedLogIsFree(i)) {
      DVACLogVerbose(kDVACCrashesLogTag, "Found an empty buffer position.");
      index = i;
      foundFree = true;
      break;
    }
    const double timestamp = DVACCrashesBufferedLogTimestamp(i);
    if (oldest > timestamp) {
      index = i;
      oldest = timestamp;
      char text[128];
      std::snprintf(text, sizeof text, "Remembering index %d for oldest timestamp %f.", i, timestamp);
      DVACLogVerbose(kDVACCrashesLogTag, std::string(text));
    }
  }
  if (!foundFree) DVACLogVerbose(kDVACCrashesLogTag, "Reached end of buffer. Next step is overwriting the oldest one.");
  DVACCrashesBufferedLogFill(index, *archive, token, internalId, ns::Date::now().timeIntervalSince1970());
  if (!foundFree) DVACLogVerbose(kDVACCrashesLogTag, "Overwrote buffered log at index " + std::to_string(index) + ".");
}

void DVACCrashes::bufferedLogDidComplete(const std::shared_ptr<DVACLog>& log, const std::string& internalId,
                                         DVACLogStoreResult result) {
  std::optional<std::string> replayedFrom;
  {
    std::lock_guard lock(stateMutex_);
    auto it = std::find_if(replayedBufferFiles_.begin(), replayedBufferFiles_.end(),
                           [&](const auto& replayed) { return replayed.second == log; });
    if (it != replayedBufferFiles_.end()) {
      replayedFrom = it->first;
      it->second = nullptr;
    }
  }
  if (result == DVACLogStoreResult::notStored) {
    // Its slot is dumped if the process crashes, and a replayed file is read
    // again at the next start.
    DVACLogVerbose(kDVACCrashesLogTag, "Keeping a log in buffer with id " + internalId + ": it was not stored.");
    return;
  }
  // After a dump the files hold what the dump wrote.
  if (replayedFrom && DVACCrashesBufferDumped.load() == 0) {
    truncateFile(*replayedFrom);
    ::unlink(replacingAll(*replayedFrom, kDVACLogBufferFileExtension, kDVACTargetTokenFileExtension).c_str());
  }
  std::lock_guard lock(synchronizationLock());
  for (int i = 0; i < kDVACCrashesLogBufferSize; ++i) {
    const std::string slotId = DVACCrashesBufferedLogInternalId(i);
    if (slotId.empty() || slotId != internalId) continue;
    DVACLogVerbose(kDVACCrashesLogTag, "Deleting a log from buffer with id " + internalId);
    DVACCrashesBufferedLogClear(i);
    if (DVACCrashesBufferDumped.load() != 0) {
      if (auto path = DVACCrashesBufferedLogBufferPath(i)) {
        ::unlink(path->c_str());
        // Its token goes with it, or the next log dumped into this slot
        // without one would be replayed with it.
        if (auto tokenPath = DVACCrashesBufferedLogTargetTokenPath(i)) ::unlink(tokenPath->c_str());
        DVACLogVerbose(kDVACCrashesLogTag,
                       "Deleted a log from Crashes Buffer (sid: " + describe(log ? log->sid() : std::nullopt) +
                           ", type: " + describe(log ? log->type() : std::nullopt) + ")");
        DVACLogVerbose(kDVACCrashesLogTag, "Deleted crash buffer file: " + *path + ".");
      }
    }
  }
}

void DVACCrashes::processLogBufferAfterCrash() {
  auto group = channelGroup();
  std::shared_ptr<DVACChannelUnitProtocol> unit;
  if (group) {
    unit = group->addChannelUnitWithConfiguration(
        DVACChannelUnitConfiguration::initWithGroupId(kDVACCrashesBufferGroupId, 2, 1, 50, 1));
  }
  {
    std::lock_guard lock(stateMutex_);
    bufferChannelUnit_ = unit;
  }
  // Without a unit to replay into, the files stay for a later start.
  if (!unit) return;
  auto entries = DVACUtility::contentsOfDirectory(logBufferPathComponent_, {});
  if (!entries) return;
  for (const auto& url : *entries) {
    if (url.pathExtension() != kDVACLogBufferFileExtension) continue;
    const std::string path = url.path();
    const std::string tokenPath = replacingAll(path, kDVACLogBufferFileExtension, kDVACTargetTokenFileExtension);
    {
      // A later replay in this launch leaves it to the first one's outcome.
      std::lock_guard lock(stateMutex_);
      if (replayedBufferFiles_.count(path)) continue;
    }
    auto data = DVACCrashesUtil::readFile(path);
    if (!data || data->empty()) {
      // A token beside an empty slot belongs to no log.
      ::unlink(tokenPath.c_str());
      truncateFile(path);
      continue;
    }
    std::shared_ptr<DVACLog> log;
    if (auto value = DVACUtility::unarchiveKeyedData(data)) log = value->objectAs<DVACLog>();
    if (!log) {
      // The file and its token stay together for a later start.
      DVACLogError(kDVACLogTag, "Deserialization failed for log: The log deserialized to NULL.");
      continue;
    }
    if (auto tokenData = DVACCrashesUtil::readFile(tokenPath)) {
      const std::string encrypted(tokenData->begin(), tokenData->end());
      if (auto token = targetTokenEncrypter_->decryptString(encrypted)) {
        log->addTransmissionTargetToken(*token);
      } else {
        DVACLogError(kDVACLogTag, "Failed to decrypt the target token.");
        DVACUtility::deleteFileAtURL(ns::URL::fileURLWithPath(tokenPath));
      }
    }
    DVACLogDebug(kDVACCrashesLogTag, "Re-enqueueing buffered log, type: " + describe(log->type()) + ".");
    // The file and its token stay until the store has the log; noted before
    // the enqueue, which may complete at once.
    {
      std::lock_guard lock(stateMutex_);
      replayedBufferFiles_[path] = log;
    }
    unit->enqueueItem(log, DVACLogFlagsNormal);
  }
}

void DVACCrashes::emptyLogBufferFiles() {
  auto entries = DVACUtility::contentsOfDirectory(logBufferPathComponent_, {"NSURLFileSizeKey"});
  if (!entries) {
    DVACLogError(kDVACCrashesLogTag, "Couldn't get files in the directory \"" + logBufferPathComponent_ + "\"");
    return;
  }
  for (const auto& url : *entries) {
    // The tokens go with the logs they belong to.
    if (url.pathExtension() == kDVACTargetTokenFileExtension) {
      DVACUtility::deleteFileAtURL(url);
      continue;
    }
    if (url.pathExtension() != kDVACLogBufferFileExtension) continue;
    struct stat st;
    if (::stat(url.path().c_str(), &st) != 0 || st.st_size < 1) continue;
    DVACUtility::createFileAtPathComponent(logBufferPathComponent_ + "/" + url.lastPathComponent(), std::nullopt,
                                           false, true);
  }
}
