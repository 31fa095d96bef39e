#pragma once
// Encryption of short strings the client keeps on disk (above all the
// transmission target tokens stored beside logs).
//
// Two 256-bit master keys live in the keychain under two fixed tags; one is
// current for a year, then the other takes over. Every value starts with a
// header naming its key and layout, so values of either key stay readable:
//
//   "<tag>/AES/HmacSHA256/CBC/PKCS7/32" ":" IV(16) MAC(32) ciphertext
//
// where the ciphertext is AES-256-CBC/PKCS#7 under a subkey of the master key
// and the MAC is HMAC-SHA256 of the ciphertext under a second subkey. Two
// older layouts are still read: "<tag>/AES/CBC/PKCS7/32" ":" IV ciphertext
// under the master key itself, and bare ciphertext under the original key
// with a zero IV.
//
// A value that names an unknown key, has an unknown header, is too short for
// its layout or fails authentication is refused: nil, with an error line.

#include <cstddef>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/security/CommonCrypto.h"

inline constexpr const char* kDVACEncryptionKeyTagOriginal = "kDVEncryptionKeyTag";
inline constexpr const char* kDVACEncryptionKeyTagAlternate = "kDVEncryptionKeyTagAlternate";
inline constexpr const char* kDVACEncryptionAlgorithmName = "AES";
inline constexpr const char* kDVACEncryptionAndMacAlgorithmName = "AES/HmacSHA256";
// A master key is current for 365 days.
inline constexpr double kDVACEncryptionKeyLifetimeInSeconds = 31536000;
inline constexpr size_t kDVACEncryptionKeySize = 32;
inline constexpr size_t kDVACInitializationVectorSize = 16;
inline constexpr size_t kDVACMacSize = 32;
inline constexpr size_t kDVACMacKeySize = 16;

// Raised for a subkey of no bytes; callers only ask for 32 and 16.
class DVACInvalidOutputLengthException : public std::invalid_argument {
 public:
  DVACInvalidOutputLengthException() : std::invalid_argument("Output data length must be greater than zero.") {}
  static constexpr const char* name() { return "Invalid output data length."; }
  const char* reason() const noexcept { return what(); }
};

class DVACEncrypter {
 public:
  DVACEncrypter() = default;
  DVACEncrypter(const DVACEncrypter&) = delete;
  DVACEncrypter& operator=(const DVACEncrypter&) = delete;

  // Base64 text (standard alphabet, no line breaks) of encryptData; nil when
  // no key or IV could be made.
  std::optional<std::string> encryptString(const std::string& string);
  // Strict Base64 in, UTF-8 text out; nil when refused.
  std::optional<std::string> decryptString(const std::string& string);
  std::optional<ns::Data> encryptData(const ns::Data& data);
  std::optional<ns::Data> decryptData(const ns::Data& data);

  // The tag of the current master key, rotating to the other one when the
  // record is missing, expired, unreadable or names an unknown tag.
  static std::string getCurrentKeyTag();
  // Makes the tag current for the next 365 days.
  static void rotateToNewKeyTag(const std::string& newKeyTag);
  // The master key of one of the two tags, made and stored when missing; nil
  // for any other tag and when no key could be made.
  std::optional<ns::Data> getKeyWithKeyTag(const std::string& keyTag);

  // T(i) = HMAC-SHA256(key, T(i-1) | i), counter from 0; the first
  // outputSize bytes of T(0) T(1) ...
  static ns::Data getSubkey(const ns::Data& key, size_t outputSize);
  // HMAC-SHA256 of data keyed with key.
  static ns::Data getMacBytes(const ns::Data& key, const ns::Data& data);
  // One AES-256-CBC/PKCS#7 operation; nil on failure (logged).
  static std::optional<ns::Data> performCryptoOperation(sec::CCOperation operation, const ns::Data& input,
                                                        const ns::Data& initializationVector, const ns::Data& key);
  static std::optional<ns::Data> generateAndSaveKeyWithTag(const std::string& keyTag);
  static std::optional<ns::Data> generateInitializationVector();
  // "<tag>/AES/CBC/PKCS7/32", or with the given algorithm name.
  static ns::Data getMetadataStringWithKeyTag(const std::string& keyTag);
  static ns::Data getMetadataStringWithKeyTag(const std::string& keyTag, const std::string& encryptionAlgorithmName);
  static bool isKnownKeyTag(const std::string& keyTag);

 private:
  // The encryption and MAC subkeys of a master key, derived once per key:
  // they cost two HMACs, and a save encrypts a token with them every time.
  struct Subkeys {
    ns::Data encryption;
    ns::Data mac;
  };
  std::optional<ns::Data> cachedKey(const std::string& keyTag) const;
  void cacheKey(const std::string& keyTag, const ns::Data& key);
  Subkeys subkeys(const std::string& keyTag, const ns::Data& key);

  mutable std::mutex cacheMutex_;
  std::optional<ns::Data> originalKeyData_;
  std::optional<ns::Data> alternateKeyData_;
  std::optional<Subkeys> originalSubkeys_;
  std::optional<Subkeys> alternateSubkeys_;
};
