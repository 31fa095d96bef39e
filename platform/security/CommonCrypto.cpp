#include "platform/security/CommonCrypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

namespace sec {
namespace {

struct CipherCtxDeleter {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxDeleter>;

// EVP lengths are ints; larger inputs go through in slices of this size
// (a multiple of the block size, so no partial block is ever buffered).
constexpr std::size_t kSlice = std::size_t{1} << 30;

const EVP_CIPHER* aesCipher(std::size_t keyLength, bool ecb) {
  switch (keyLength) {
    case kCCKeySizeAES128: return ecb ? EVP_aes_128_ecb() : EVP_aes_128_cbc();
    case kCCKeySizeAES192: return ecb ? EVP_aes_192_ecb() : EVP_aes_192_cbc();
    case kCCKeySizeAES256: return ecb ? EVP_aes_256_ecb() : EVP_aes_256_cbc();
    default: return nullptr;
  }
}

// Runs the raw block cipher (no padding) over whole blocks of `in` into `out`.
bool runBlocks(EVP_CIPHER_CTX* ctx, const std::uint8_t* in, std::size_t length, std::uint8_t* out) {
  std::size_t done = 0;
  while (done < length) {
    const std::size_t slice = std::min(kSlice, length - done);
    int written = 0;
    if (EVP_CipherUpdate(ctx, out + done, &written, in + done, static_cast<int>(slice)) != 1 ||
        static_cast<std::size_t>(written) != slice) {
      return false;
    }
    done += slice;
  }
  return true;
}

// Length of valid PKCS#7 padding at the end of `block` (the last cipher
// block), or 0 when the padding is malformed. Examines every byte regardless
// of where the first mismatch is.
std::size_t pkcs7PadLength(const std::uint8_t* block) {
  const unsigned pad = block[kCCBlockSizeAES128 - 1];
  unsigned bad = (pad == 0) | (pad > kCCBlockSizeAES128);
  for (unsigned i = 0; i < kCCBlockSizeAES128; ++i) {
    const unsigned inPad = (kCCBlockSizeAES128 - i) <= pad;
    bad |= inPad & (block[i] != pad);
  }
  return bad ? 0 : pad;
}

const EVP_MD* hmacDigest(CCHmacAlgorithm algorithm) {
  switch (algorithm) {
    case kCCHmacAlgSHA1: return EVP_sha1();
    case kCCHmacAlgMD5: return EVP_md5();
    case kCCHmacAlgSHA256: return EVP_sha256();
    case kCCHmacAlgSHA384: return EVP_sha384();
    case kCCHmacAlgSHA512: return EVP_sha512();
    case kCCHmacAlgSHA224: return EVP_sha224();
    default: return nullptr;
  }
}

// OpenSSL rejects null pointers even for empty inputs.
const std::uint8_t kEmpty[1] = {0};

}  // namespace

CCCryptorStatus CCCrypt(CCOperation op, CCAlgorithm alg, CCOptions options, const void* key,
                        std::size_t keyLength, const void* iv, const void* dataIn,
                        std::size_t dataInLength, void* dataOut, std::size_t dataOutAvailable,
                        std::size_t* dataOutMoved) {
  if (dataOutMoved) *dataOutMoved = 0;
  if ((op != kCCEncrypt && op != kCCDecrypt) || alg != kCCAlgorithmAES) return kCCParamError;
  if ((options & ~(kCCOptionPKCS7Padding | kCCOptionECBMode)) != 0) return kCCParamError;
  const bool padding = (options & kCCOptionPKCS7Padding) != 0;
  const bool ecb = (options & kCCOptionECBMode) != 0;
  const EVP_CIPHER* cipher = aesCipher(keyLength, ecb);
  if (!cipher || !key) return kCCParamError;
  if (dataInLength > 0 && !dataIn) return kCCParamError;
  if (dataInLength > SIZE_MAX - 2 * kCCBlockSizeAES128) return kCCParamError;

  const auto* in = dataInLength ? static_cast<const std::uint8_t*>(dataIn) : kEmpty;
  const std::size_t tail = dataInLength % kCCBlockSizeAES128;
  if (tail != 0 && !(padding && op == kCCEncrypt)) return kCCAlignmentError;
  if (op == kCCDecrypt && padding && dataInLength == 0) return kCCDecodeError;

  // Encryption knows its output size up front; decryption learns it from the
  // padding, so it works in a scratch buffer that is wiped afterwards.
  if (op == kCCEncrypt) {
    const std::size_t needed = padding ? dataInLength - tail + kCCBlockSizeAES128 : dataInLength;
    if (dataOutAvailable < needed) {
      if (dataOutMoved) *dataOutMoved = needed;
      return kCCBufferTooSmall;
    }
    if (needed > 0 && !dataOut) return kCCParamError;
  }

  CipherCtx ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return kCCMemoryFailure;
  static const std::uint8_t zeroIv[kCCBlockSizeAES128] = {};
  const auto* ivBytes = ecb ? nullptr : (iv ? static_cast<const std::uint8_t*>(iv) : zeroIv);
  if (EVP_CipherInit_ex(ctx.get(), cipher, nullptr, static_cast<const std::uint8_t*>(key), ivBytes,
                        op == kCCEncrypt ? 1 : 0) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1) {
    return kCCUnimplemented;
  }

  if (op == kCCEncrypt) {
    auto* out = static_cast<std::uint8_t*>(dataOut);
    const std::size_t whole = dataInLength - tail;
    if (!runBlocks(ctx.get(), in, whole, out)) return kCCUnimplemented;
    std::size_t moved = whole;
    if (padding) {
      std::uint8_t last[kCCBlockSizeAES128];
      const auto pad = static_cast<std::uint8_t>(kCCBlockSizeAES128 - tail);
      if (tail) std::memcpy(last, in + whole, tail);
      std::memset(last + tail, pad, pad);
      const bool ok = runBlocks(ctx.get(), last, kCCBlockSizeAES128, out + whole);
      OPENSSL_cleanse(last, sizeof last);
      if (!ok) return kCCUnimplemented;
      moved += kCCBlockSizeAES128;
    }
    if (dataOutMoved) *dataOutMoved = moved;
    return kCCSuccess;
  }

  Bytes plain(dataInLength);
  CCCryptorStatus status = kCCSuccess;
  std::size_t length = dataInLength;
  if (!runBlocks(ctx.get(), in, dataInLength, plain.data())) {
    status = kCCUnimplemented;
  } else if (padding) {
    const std::size_t pad = pkcs7PadLength(plain.data() + dataInLength - kCCBlockSizeAES128);
    if (pad == 0) status = kCCDecodeError;
    length -= pad;
  }
  if (status == kCCSuccess) {
    if (dataOutAvailable < length) {
      if (dataOutMoved) *dataOutMoved = length;
      status = kCCBufferTooSmall;
    } else if (length > 0 && !dataOut) {
      status = kCCParamError;
    } else {
      if (length) std::memcpy(dataOut, plain.data(), length);
      if (dataOutMoved) *dataOutMoved = length;
    }
  }
  if (!plain.empty()) OPENSSL_cleanse(plain.data(), plain.size());
  return status;
}

std::size_t CCHmacOutputLength(CCHmacAlgorithm algorithm) {
  const EVP_MD* md = hmacDigest(algorithm);
  return md ? static_cast<std::size_t>(EVP_MD_get_size(md)) : 0;
}

void CCHmac(CCHmacAlgorithm algorithm, const void* key, std::size_t keyLength, const void* data,
            std::size_t dataLength, void* macOut) {
  const EVP_MD* md = hmacDigest(algorithm);
  if (!md || !macOut) return;
  const auto outLength = static_cast<std::size_t>(EVP_MD_get_size(md));
  const auto* keyBytes = static_cast<const std::uint8_t*>(key);
  if (!key || keyLength == 0) {
    // OpenSSL 3.0 refuses an empty HMAC key. HMAC zero-pads the key to a
    // block, so a single zero byte is the same key.
    keyBytes = kEmpty;
    keyLength = 1;
  }
  const auto* dataBytes = (dataLength && data) ? static_cast<const std::uint8_t*>(data) : kEmpty;
  if (!data) dataLength = 0;

  // A key longer than INT_MAX cannot be handed to OpenSSL; HMAC replaces any
  // key longer than a block by its digest, so doing that here is equivalent.
  unsigned char hashedKey[EVP_MAX_MD_SIZE];
  if (keyLength > static_cast<std::size_t>(INT_MAX)) {
    unsigned int hashedLength = 0;
    if (EVP_Digest(keyBytes, keyLength, hashedKey, &hashedLength, md, nullptr) != 1) {
      std::memset(macOut, 0, outLength);
      return;
    }
    keyBytes = hashedKey;
    keyLength = hashedLength;
  }
  unsigned int written = 0;
  if (!HMAC(md, keyBytes, static_cast<int>(keyLength), dataBytes, dataLength,
            static_cast<unsigned char*>(macOut), &written)) {
    std::memset(macOut, 0, outLength);
  }
  OPENSSL_cleanse(hashedKey, sizeof hashedKey);
}

unsigned char* CC_SHA256(const void* data, CC_LONG len, unsigned char* md) {
  if (!md) return nullptr;
  const auto* bytes = (len && data) ? static_cast<const std::uint8_t*>(data) : kEmpty;
  if (!data) len = 0;
  if (EVP_Digest(bytes, len, md, nullptr, EVP_sha256(), nullptr) != 1) {
    std::memset(md, 0, CC_SHA256_DIGEST_LENGTH);
  }
  return md;
}

Bytes sha256(ByteView bytes) {
  Bytes digest(CC_SHA256_DIGEST_LENGTH);
  const auto* data = bytes.empty() ? kEmpty : bytes.data();
  if (EVP_Digest(data, bytes.size(), digest.data(), nullptr, EVP_sha256(), nullptr) != 1) {
    std::fill(digest.begin(), digest.end(), 0);
  }
  return digest;
}

Bytes hmacSha256(ByteView key, ByteView bytes) {
  Bytes mac(CC_SHA256_DIGEST_LENGTH);
  CCHmac(kCCHmacAlgSHA256, key.data(), key.size(), bytes.data(), bytes.size(), mac.data());
  return mac;
}

namespace {

CryptResult aes256Cbc(CCOperation op, ByteView key, ByteView iv, ByteView bytes) {
  CryptResult result;
  if (key.size() != kCCKeySizeAES256 || iv.size() != kCCBlockSizeAES128) {
    result.status = kCCParamError;
    return result;
  }
  if (bytes.size() > SIZE_MAX - 2 * kCCBlockSizeAES128) {
    result.status = kCCParamError;
    return result;
  }
  result.bytes.resize(bytes.size() + kCCBlockSizeAES128);
  std::size_t moved = 0;
  result.status = CCCrypt(op, kCCAlgorithmAES, kCCOptionPKCS7Padding, key.data(), key.size(),
                          iv.data(), bytes.data(), bytes.size(), result.bytes.data(),
                          result.bytes.size(), &moved);
  if (result.status != kCCSuccess) moved = 0;
  if (moved < result.bytes.size()) {
    OPENSSL_cleanse(result.bytes.data() + moved, result.bytes.size() - moved);
  }
  result.bytes.resize(moved);
  return result;
}

}  // namespace

CryptResult aes256CbcEncrypt(ByteView key, ByteView iv, ByteView bytes) {
  return aes256Cbc(kCCEncrypt, key, iv, bytes);
}

CryptResult aes256CbcDecrypt(ByteView key, ByteView iv, ByteView bytes) {
  return aes256Cbc(kCCDecrypt, key, iv, bytes);
}

}  // namespace sec
