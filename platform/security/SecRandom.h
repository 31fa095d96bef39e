#pragma once

// The secure random source (SecRandomCopyBytes) over OpenSSL's CSPRNG, with a
// replaceable source so tests can make it fail.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/security/CommonCrypto.h"
#include "platform/security/SecBase.h"

namespace sec {

struct SecRandomTag;
using SecRandomRef = const SecRandomTag*;
inline constexpr SecRandomRef kSecRandomDefault = nullptr;

// Fills bytes[0..count) with cryptographically secure random bytes.
// errSecSuccess, errSecParam for a null buffer with count > 0, or the failing
// source's status (errSecInternalComponent from OpenSSL); on failure the buffer
// is zeroed rather than left half-filled.
int SecRandomCopyBytes(SecRandomRef rnd, std::size_t count, void* bytes);

struct RandomResult {
  OSStatus status = errSecSuccess;
  Bytes bytes;  // count bytes on success, empty otherwise
  bool ok() const { return status == errSecSuccess; }
};

RandomResult randomBytes(std::size_t count);

// Replaces the random source for the whole process; an empty function puts
// OpenSSL's back. The source returns a status and fills the buffer.
using RandomSource = std::function<OSStatus(std::uint8_t* bytes, std::size_t count)>;
void setRandomSourceForTesting(RandomSource source);

}  // namespace sec
