#include "platform/security/SecRandom.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <mutex>

namespace sec {
namespace {

std::mutex& sourceMutex() {
  static std::mutex mutex;
  return mutex;
}

RandomSource& testSource() {
  static RandomSource source;
  return source;
}

OSStatus opensslRandom(std::uint8_t* bytes, std::size_t count) {
  while (count > 0) {
    const std::size_t slice = std::min<std::size_t>(count, INT_MAX);
    if (RAND_bytes(bytes, static_cast<int>(slice)) != 1) return errSecInternalComponent;
    bytes += slice;
    count -= slice;
  }
  return errSecSuccess;
}

}  // namespace

int SecRandomCopyBytes(SecRandomRef, std::size_t count, void* bytes) {
  if (count == 0) return errSecSuccess;
  if (!bytes) return errSecParam;
  RandomSource source;
  {
    std::lock_guard lock(sourceMutex());
    source = testSource();
  }
  auto* out = static_cast<std::uint8_t*>(bytes);
  const OSStatus status = source ? source(out, count) : opensslRandom(out, count);
  if (status != errSecSuccess) OPENSSL_cleanse(out, count);
  return status;
}

RandomResult randomBytes(std::size_t count) {
  RandomResult result;
  result.bytes.resize(count);
  result.status = SecRandomCopyBytes(kSecRandomDefault, count, result.bytes.data());
  if (result.status != errSecSuccess) result.bytes.clear();
  return result;
}

void setRandomSourceForTesting(RandomSource source) {
  std::lock_guard lock(sourceMutex());
  testSource() = std::move(source);
}

}  // namespace sec
