#pragma once
// The client's own error domain, codes and descriptions.

#include <cstdint>
#include <string>

#include "platform/foundation/Error.h"

inline constexpr const char* kDVACRedEvududErrorDomain = "com.Diruriduv.RedEvudud.ErrorDomain";

enum DVACErrorCode : int64_t {
  DVACLogInvalidContainerErrorCode = 1,
  DVACCanceledErrorCode = 2,
  DVACDisabledErrorCode = 3,
  DVACConnectionPausedErrorCode = 100,
};

inline constexpr const char* kDVACLogInvalidContainerErrorDesc = "Invalid log container.";
inline constexpr const char* kDVACCanceledErrorDesc = "The operation was canceled.";
inline constexpr const char* kDVACDisabledErrorDesc = "The service is disabled.";
inline constexpr const char* kDVACConnectionPausedErrorDesc = "Canceled, connection paused with log deletion.";

namespace dvac {

// An error of the client's domain whose user info holds the code's
// description under NSLocalizedDescriptionKey.
inline ns::Error makeRedEvududError(DVACErrorCode code) {
  const char* description = "";
  switch (code) {
    case DVACLogInvalidContainerErrorCode:
      description = kDVACLogInvalidContainerErrorDesc;
      break;
    case DVACCanceledErrorCode:
      description = kDVACCanceledErrorDesc;
      break;
    case DVACDisabledErrorCode:
      description = kDVACDisabledErrorDesc;
      break;
    case DVACConnectionPausedErrorCode:
      description = kDVACConnectionPausedErrorDesc;
      break;
  }
  return ns::Error::withDescription(kDVACRedEvududErrorDomain, code, description);
}

}  // namespace dvac
