#pragma once

// Symmetric crypto, HMAC and digests through OpenSSL's libcrypto, in two
// shapes: the C-style calls (CCCrypt, CCHmac, CC_SHA256) with the statuses and
// constants callers expect, and small byte-vector helpers on top of them.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace sec {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// Views the characters of a string as bytes (no copy).
inline ByteView asBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

using CCCryptorStatus = std::int32_t;
inline constexpr CCCryptorStatus kCCSuccess = 0;
inline constexpr CCCryptorStatus kCCParamError = -4300;
inline constexpr CCCryptorStatus kCCBufferTooSmall = -4301;
inline constexpr CCCryptorStatus kCCMemoryFailure = -4302;
inline constexpr CCCryptorStatus kCCAlignmentError = -4303;
inline constexpr CCCryptorStatus kCCDecodeError = -4304;
inline constexpr CCCryptorStatus kCCUnimplemented = -4305;

using CCOperation = std::uint32_t;
inline constexpr CCOperation kCCEncrypt = 0;
inline constexpr CCOperation kCCDecrypt = 1;

using CCAlgorithm = std::uint32_t;
inline constexpr CCAlgorithm kCCAlgorithmAES = 0;
inline constexpr CCAlgorithm kCCAlgorithmAES128 = 0;  // AES of any key size, 128-bit blocks

using CCOptions = std::uint32_t;
inline constexpr CCOptions kCCOptionPKCS7Padding = 0x0001;
inline constexpr CCOptions kCCOptionECBMode = 0x0002;

inline constexpr std::size_t kCCKeySizeAES128 = 16;
inline constexpr std::size_t kCCKeySizeAES192 = 24;
inline constexpr std::size_t kCCKeySizeAES256 = 32;
inline constexpr std::size_t kCCBlockSizeAES128 = 16;

// One-shot AES. CBC unless kCCOptionECBMode; a null iv means an all-zero IV.
// Statuses: kCCParamError for a bad key size, operation, algorithm or null
// buffer; kCCAlignmentError when the input is not whole blocks where it must
// be; kCCDecodeError for bad PKCS#7 padding on decryption; kCCBufferTooSmall
// when dataOutAvailable cannot hold the result, with *dataOutMoved set to the
// size needed. Nothing is written past dataOutAvailable.
CCCryptorStatus CCCrypt(CCOperation op, CCAlgorithm alg, CCOptions options, const void* key,
                        std::size_t keyLength, const void* iv, const void* dataIn,
                        std::size_t dataInLength, void* dataOut, std::size_t dataOutAvailable,
                        std::size_t* dataOutMoved);

using CCHmacAlgorithm = std::uint32_t;
inline constexpr CCHmacAlgorithm kCCHmacAlgSHA1 = 0;
inline constexpr CCHmacAlgorithm kCCHmacAlgMD5 = 1;
inline constexpr CCHmacAlgorithm kCCHmacAlgSHA256 = 2;
inline constexpr CCHmacAlgorithm kCCHmacAlgSHA384 = 3;
inline constexpr CCHmacAlgorithm kCCHmacAlgSHA512 = 4;
inline constexpr CCHmacAlgorithm kCCHmacAlgSHA224 = 5;

inline constexpr std::size_t CC_SHA1_DIGEST_LENGTH = 20;
inline constexpr std::size_t CC_MD5_DIGEST_LENGTH = 16;
inline constexpr std::size_t CC_SHA224_DIGEST_LENGTH = 28;
inline constexpr std::size_t CC_SHA256_DIGEST_LENGTH = 32;
inline constexpr std::size_t CC_SHA384_DIGEST_LENGTH = 48;
inline constexpr std::size_t CC_SHA512_DIGEST_LENGTH = 64;

// Digest size of an HMAC algorithm; 0 for an unknown one.
std::size_t CCHmacOutputLength(CCHmacAlgorithm algorithm);

// HMAC of data under key into macOut, which must hold
// CCHmacOutputLength(algorithm) bytes. An unknown algorithm writes nothing.
void CCHmac(CCHmacAlgorithm algorithm, const void* key, std::size_t keyLength, const void* data,
            std::size_t dataLength, void* macOut);

using CC_LONG = std::uint32_t;

// SHA-256 of data into md (32 bytes); returns md.
unsigned char* CC_SHA256(const void* data, CC_LONG len, unsigned char* md);

// Byte-vector forms.

Bytes sha256(ByteView bytes);
Bytes hmacSha256(ByteView key, ByteView bytes);

struct CryptResult {
  CCCryptorStatus status = kCCSuccess;
  Bytes bytes;  // empty unless status is kCCSuccess
  bool ok() const { return status == kCCSuccess; }
};

// AES-256-CBC with PKCS#7 padding. key must be 32 bytes and iv 16 bytes
// (kCCParamError otherwise).
CryptResult aes256CbcEncrypt(ByteView key, ByteView iv, ByteView bytes);
CryptResult aes256CbcDecrypt(ByteView key, ByteView iv, ByteView bytes);

}  // namespace sec
