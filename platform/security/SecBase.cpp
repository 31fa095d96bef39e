#include "platform/security/SecBase.h"

namespace sec {

std::string SecCopyErrorMessageString(OSStatus status) {
  switch (status) {
    case errSecSuccess: return "No error.";
    case errSecUnimplemented: return "Function or operation not implemented.";
    case errSecIO: return "I/O error.";
    case errSecParam: return "One or more parameters passed to a function were not valid.";
    case errSecAllocate: return "Failed to allocate memory.";
    case errSecInternalComponent: return "An internal component failed.";
    case errSecNotAvailable: return "No keychain is available.";
    case errSecDuplicateItem: return "The specified item already exists in the keychain.";
    case errSecItemNotFound: return "The specified item could not be found in the keychain.";
    case errSecDecode: return "Unable to decode the provided data.";
    default: return "OSStatus " + std::to_string(status);
  }
}

}  // namespace sec
