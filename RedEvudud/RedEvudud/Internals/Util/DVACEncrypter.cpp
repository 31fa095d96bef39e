#include "RedEvudud/RedEvudud/Internals/Util/DVACEncrypter.h"

#include <algorithm>

#include "RedEvudud/RedEvudud/Internals/Util/DVACKeychainUtil.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACLogger.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACUtility.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Utf16.h"
#include "platform/security/SecRandom.h"

namespace {

// Covers the current-tag check with its rotation and key generation, for
// every instance, so two threads never make two keys for one tag.
std::recursive_mutex& encrypterLock() {
  static std::recursive_mutex mutex;
  return mutex;
}

constexpr uint8_t kHeaderSeparator = ':';
// Every header this code ever wrote is far longer ("<tag>/AES/CBC/PKCS7/32").
constexpr size_t kMinimumHeaderLength = 8;

ns::Data bytesOf(std::string_view text) { return ns::Data(text.begin(), text.end()); }

bool constantTimeEqual(const ns::Data& a, const ns::Data& b) {
  if (a.size() != b.size()) return false;
  uint8_t difference = 0;
  for (size_t i = 0; i < a.size(); ++i) difference |= static_cast<uint8_t>(a[i] ^ b[i]);
  return difference == 0;
}

void refuse(const std::string& why) { DVACLogError(kDVACLogTag, "Could not decrypt the value: " + why); }

}  // namespace

// ---- String and byte forms ----------------------------------------------------

std::optional<std::string> DVACEncrypter::encryptString(const std::string& string) {
  auto encrypted = encryptData(bytesOf(string));
  if (!encrypted) return std::nullopt;
  return ns::base64Encode(*encrypted);
}

std::optional<std::string> DVACEncrypter::decryptString(const std::string& string) {
  auto data = ns::base64Decode(string);
  if (!data) {
    DVACLogWarning(kDVACLogTag, "Conversion of encrypted string to NSData failed.");
    return std::nullopt;
  }
  auto decrypted = decryptData(*data);
  if (!decrypted) return std::nullopt;
  std::string text(decrypted->begin(), decrypted->end());
  if (!ns::isValidUtf8(text)) {
    DVACLogWarning(kDVACLogTag, "Converting decrypted NSData to NSString failed.");
    return std::nullopt;
  }
  return text;
}

std::optional<ns::Data> DVACEncrypter::encryptData(const ns::Data& data) {
  const std::string keyTag = getCurrentKeyTag();
  auto key = getKeyWithKeyTag(keyTag);
  if (!key) return std::nullopt;
  const Subkeys keys = subkeys(keyTag, *key);
  const ns::Data& encryptionKey = keys.encryption;
  const ns::Data& macKey = keys.mac;
  auto initializationVector = generateInitializationVector();
  if (!initializationVector) return std::nullopt;
  auto cipherText = performCryptoOperation(sec::kCCEncrypt, data, *initializationVector, encryptionKey);
  if (!cipherText) return std::nullopt;
  const ns::Data mac = getMacBytes(macKey, *cipherText);

  ns::Data result = getMetadataStringWithKeyTag(keyTag, kDVACEncryptionAndMacAlgorithmName);
  result.reserve(result.size() + 1 + initializationVector->size() + mac.size() + cipherText->size());
  result.push_back(kHeaderSeparator);
  result.insert(result.end(), initializationVector->begin(), initializationVector->end());
  result.insert(result.end(), mac.begin(), mac.end());
  result.insert(result.end(), cipherText->begin(), cipherText->end());
  return result;
}

std::optional<ns::Data> DVACEncrypter::decryptData(const ns::Data& data) {
  // A header is printable ASCII with "/"-separated fields before the first
  // ":". Bare ciphertext of the oldest layout may hold a ":" byte by chance;
  // a few random bytes before it may even look like text, so a header must
  // also be longer than any such accident is likely to be.
  const auto separator = std::find(data.begin(), data.end(), kHeaderSeparator);
  std::optional<std::string> header;
  if (separator != data.end()) {
    std::string text(data.begin(), separator);
    const bool printable =
        std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7F; });
    if (printable && text.size() >= kMinimumHeaderLength && text.find('/') != std::string::npos) {
      header = std::move(text);
    }
  }

  ns::Data key;
  ns::Data initializationVector;
  ns::Data cipherText;
  if (!header) {
    auto originalKey = getKeyWithKeyTag(kDVACEncryptionKeyTagOriginal);
    if (!originalKey) return std::nullopt;
    key = std::move(*originalKey);
    initializationVector.assign(kDVACInitializationVectorSize, 0);
    cipherText = data;
  } else {
    const std::string keyTag = header->substr(0, header->find('/'));
    if (!isKnownKeyTag(keyTag)) {
      refuse("its header names an unknown key tag.");
      return std::nullopt;
    }
    const bool macLayout = bytesOf(*header) == getMetadataStringWithKeyTag(keyTag, kDVACEncryptionAndMacAlgorithmName);
    const bool plainLayout = bytesOf(*header) == getMetadataStringWithKeyTag(keyTag);
    if (!macLayout && !plainLayout) {
      refuse("its header names an unknown layout.");
      return std::nullopt;
    }
    const ns::Data body(separator + 1, data.end());
    const size_t minimumSize = kDVACInitializationVectorSize + (macLayout ? kDVACMacSize : 0) + sec::kCCBlockSizeAES128;
    if (body.size() < minimumSize) {
      refuse("it is shorter than its layout requires.");
      return std::nullopt;
    }
    auto masterKey = getKeyWithKeyTag(keyTag);
    if (!masterKey) return std::nullopt;
    auto field = body.begin();
    initializationVector.assign(field, field + kDVACInitializationVectorSize);
    field += kDVACInitializationVectorSize;
    if (plainLayout) {
      key = std::move(*masterKey);
      cipherText.assign(field, body.end());
    } else {
      const Subkeys keys = subkeys(keyTag, *masterKey);
      key = keys.encryption;
      const ns::Data& macKey = keys.mac;
      const ns::Data mac(field, field + kDVACMacSize);
      field += kDVACMacSize;
      cipherText.assign(field, body.end());
      // A value that fails authentication is refused, never half-trusted.
      if (!constantTimeEqual(mac, getMacBytes(macKey, cipherText))) {
        DVACLogError(kDVACLogTag, "Could not authenticate MAC value.");
        return std::nullopt;
      }
    }
  }
  return performCryptoOperation(sec::kCCDecrypt, cipherText, initializationVector, key);
}

// ---- Keys -----------------------------------------------------------------------

bool DVACEncrypter::isKnownKeyTag(const std::string& keyTag) {
  return keyTag == kDVACEncryptionKeyTagOriginal || keyTag == kDVACEncryptionKeyTagAlternate;
}

std::string DVACEncrypter::getCurrentKeyTag() {
  std::lock_guard<std::recursive_mutex> lock(encrypterLock());
  auto metadata = DVACRedEvududUserDefaults::shared()->objectForKey(kDVACEncryptionKeyMetadataKey);
  if (!metadata) {
    rotateToNewKeyTag(kDVACEncryptionKeyTagAlternate);
    return kDVACEncryptionKeyTagAlternate;
  }
  // The record is read for every encryption; it changes once a year.
  static std::string parsedRecord;
  static std::string keyTag;
  static std::optional<ns::Date> expiry;
  const std::string* text = metadata->string();
  if (!text) {
    parsedRecord.clear();
    keyTag.clear();
    expiry.reset();
  } else if (*text != parsedRecord || keyTag.empty()) {
    parsedRecord = *text;
    const size_t slash = text->find('/');
    keyTag = text->substr(0, slash);
    expiry.reset();
    if (slash != std::string::npos) expiry = DVACUtility::dateFromISO8601(std::string_view(*text).substr(slash + 1));
  }
  if (isKnownKeyTag(keyTag) && expiry && *expiry >= ns::Date::now()) return keyTag;
  const std::string newKeyTag =
      keyTag == kDVACEncryptionKeyTagOriginal ? kDVACEncryptionKeyTagAlternate : kDVACEncryptionKeyTagOriginal;
  rotateToNewKeyTag(newKeyTag);
  return newKeyTag;
}

void DVACEncrypter::rotateToNewKeyTag(const std::string& newKeyTag) {
  std::lock_guard<std::recursive_mutex> lock(encrypterLock());
  const ns::Date expiry = ns::Date::now().addingTimeInterval(kDVACEncryptionKeyLifetimeInSeconds);
  DVACRedEvududUserDefaults::shared()->setObject(ns::Value(newKeyTag + "/" + DVACUtility::dateToISO8601(expiry)),
                                                 kDVACEncryptionKeyMetadataKey);
}

std::optional<ns::Data> DVACEncrypter::cachedKey(const std::string& keyTag) const {
  std::lock_guard<std::mutex> lock(cacheMutex_);
  return keyTag == kDVACEncryptionKeyTagOriginal ? originalKeyData_ : alternateKeyData_;
}

void DVACEncrypter::cacheKey(const std::string& keyTag, const ns::Data& key) {
  std::lock_guard<std::mutex> lock(cacheMutex_);
  (keyTag == kDVACEncryptionKeyTagOriginal ? originalKeyData_ : alternateKeyData_) = key;
}

DVACEncrypter::Subkeys DVACEncrypter::subkeys(const std::string& keyTag, const ns::Data& key) {
  std::lock_guard<std::mutex> lock(cacheMutex_);
  std::optional<Subkeys>& cached = keyTag == kDVACEncryptionKeyTagOriginal ? originalSubkeys_ : alternateSubkeys_;
  const std::optional<ns::Data>& master = keyTag == kDVACEncryptionKeyTagOriginal ? originalKeyData_ : alternateKeyData_;
  // Only a key this encrypter keeps is remembered with its subkeys.
  if (cached && master == key) return *cached;
  Subkeys derived{getSubkey(key, kDVACEncryptionKeySize), getSubkey(key, kDVACMacKeySize)};
  if (master == key) cached = derived;
  return derived;
}

std::optional<ns::Data> DVACEncrypter::getKeyWithKeyTag(const std::string& keyTag) {
  if (!isKnownKeyTag(keyTag)) {
    DVACLogError(kDVACLogTag, "There is no encryption key with the tag \"" + keyTag + "\".");
    return std::nullopt;
  }
  if (auto key = cachedKey(keyTag)) return key;

  // A stored key must decode to a whole key; anything else is refused rather
  // than replaced, since values made with the real key may still exist.
  auto decodeStoredKey = [&](const std::string& text) -> std::optional<ns::Data> {
    auto key = ns::base64Decode(text);
    if (!key || key->size() != kDVACEncryptionKeySize) {
      DVACLogError(kDVACLogTag, "The stored encryption key with the tag \"" + keyTag + "\" is unreadable.");
      return std::nullopt;
    }
    return key;
  };

  sec::OSStatus status = sec::errSecSuccess;
  if (auto text = DVACKeychainUtil::stringForKey(keyTag, &status)) return decodeStoredKey(*text);

  std::lock_guard<std::recursive_mutex> lock(encrypterLock());
  std::optional<ns::Data> key;
  if (auto text = DVACKeychainUtil::stringForKey(keyTag, &status)) {
    key = decodeStoredKey(*text);
  } else if (status == sec::errSecItemNotFound) {
    key = generateAndSaveKeyWithTag(keyTag);
  } else {
    // The keychain could not be read; a new key now would replace one that
    // exists.
    DVACLogError(kDVACLogTag, "Could not read the encryption key with the tag \"" + keyTag + "\". OS Status code " +
                                  std::to_string(status));
  }
  if (key) cacheKey(keyTag, *key);
  return key;
}

std::optional<ns::Data> DVACEncrypter::generateAndSaveKeyWithTag(const std::string& keyTag) {
  sec::RandomResult random = sec::randomBytes(kDVACEncryptionKeySize);
  if (!random.ok()) {
    DVACLogError(kDVACLogTag, "Error generating encryption key. Error code: " + std::to_string(random.status));
    return std::nullopt;
  }
  // A failure to store is logged by the keychain utility; the key still
  // serves this run.
  DVACKeychainUtil::storeString(ns::base64Encode(random.bytes), keyTag);
  return ns::Data(random.bytes.begin(), random.bytes.end());
}

std::optional<ns::Data> DVACEncrypter::generateInitializationVector() {
  sec::RandomResult random = sec::randomBytes(kDVACInitializationVectorSize);
  if (!random.ok()) {
    DVACLogError(kDVACLogTag, "Error generating initialization vector. Error code: " + std::to_string(random.status));
    return std::nullopt;
  }
  return ns::Data(random.bytes.begin(), random.bytes.end());
}

// ---- Primitives -------------------------------------------------------------------

ns::Data DVACEncrypter::getSubkey(const ns::Data& key, size_t outputSize) {
  if (outputSize < 1) throw DVACInvalidOutputLengthException();
  ns::Data output;
  ns::Data block;
  for (uint8_t counter = 0; output.size() < outputSize; ++counter) {
    ns::Data input = block;
    input.push_back(counter);
    block = getMacBytes(key, input);
    output.insert(output.end(), block.begin(), block.end());
  }
  output.resize(outputSize);
  return output;
}

ns::Data DVACEncrypter::getMacBytes(const ns::Data& key, const ns::Data& data) {
  sec::Bytes mac = sec::hmacSha256(key, data);
  return ns::Data(mac.begin(), mac.end());
}

std::optional<ns::Data> DVACEncrypter::performCryptoOperation(sec::CCOperation operation, const ns::Data& input,
                                                              const ns::Data& initializationVector,
                                                              const ns::Data& key) {
  ns::Data output(input.size() + sec::kCCBlockSizeAES128 + 1);
  size_t moved = 0;
  static const uint8_t kNoBytes = 0;  // an empty input still needs a buffer
  sec::CCCryptorStatus status =
      sec::CCCrypt(operation, sec::kCCAlgorithmAES, sec::kCCOptionPKCS7Padding, key.data(), key.size(),
                   initializationVector.size() == kDVACInitializationVectorSize ? initializationVector.data() : nullptr,
                   input.empty() ? &kNoBytes : input.data(), input.size(), output.data(), output.size(), &moved);
  if (status != sec::kCCSuccess || initializationVector.size() != kDVACInitializationVectorSize) {
    DVACLogError(kDVACLogTag, "Error performing encryption or decryption.");
    return std::nullopt;
  }
  output.resize(moved);
  return output;
}

ns::Data DVACEncrypter::getMetadataStringWithKeyTag(const std::string& keyTag) {
  return getMetadataStringWithKeyTag(keyTag, kDVACEncryptionAlgorithmName);
}

ns::Data DVACEncrypter::getMetadataStringWithKeyTag(const std::string& keyTag,
                                                    const std::string& encryptionAlgorithmName) {
  return bytesOf(keyTag + "/" + encryptionAlgorithmName + "/CBC/PKCS7/32");
}
