#pragma once
// Transport failures as NSURLErrorDomain errors. The session maps every
// libcurl result through here, so the table lives in one place.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/foundation/Error.h"

namespace net {

// The NSURLErrorDomain code for a libcurl result (a CURLcode). `osErrno` is
// CURLINFO_OS_ERRNO and refines a failed connect (no route to any network
// means "not connected", anything else "cannot connect to host");
// `sslVerifyResult` is CURLINFO_SSL_VERIFYRESULT (an X509_V_ERR_* value) and
// refines a rejected certificate. 0 (CURLE_OK) gives 0.
int64_t URLErrorCodeForCurlCode(int curlCode, long osErrno = 0, long sslVerifyResult = 0);

// A short English description of an NSURLErrorDomain code.
std::string URLErrorDescription(int64_t code);

// An NSURLErrorDomain error with the description, the failing URL's text
// under NSURLErrorFailingURLStringErrorKey and NSURLErrorFailingURLErrorKey,
// and (when given) the transport's own words under NSDebugDescriptionErrorKey.
ns::Error makeURLError(int64_t code, std::string_view failingURL, std::string_view debugDescription = {});

}  // namespace net
