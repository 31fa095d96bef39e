#pragma once
// Replacing a file whole: the bytes go to a new file beside the target, reach
// the disk, and are renamed over the target, so a reader sees the old content
// or the new one, never part of either.

#include <sys/types.h>

#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace ns {

// The new file gets `mode` exactly, or narrowed by the umask when
// `applyUmask`. The directory must exist. Returns 0, or the errno of the step
// that failed; on failure nothing is left beside the target and the target
// is untouched.
int writeFileAtomically(const std::string& path, std::string_view bytes, mode_t mode, bool applyUmask = false);
int writeFileAtomically(const std::string& path, const Data& bytes, mode_t mode, bool applyUmask = false);

}  // namespace ns
