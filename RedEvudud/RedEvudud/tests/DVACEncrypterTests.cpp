#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "RedEvudud/RedEvudud/Internals/Util/DVACEncrypter.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACKeychainUtil.h"
#include "RedEvudud/RedEvudud/Internals/Util/DVACRedEvududUserDefaults.h"
#include "RedEvudud/RedEvudud/tests/DVACStorageTestSupport.h"
#include "platform/foundation/Base64.h"
#include "platform/security/Keychain.h"
#include "platform/security/SecRandom.h"

namespace {

using dvac_test::LogRecorder;

const std::string kOriginal = kDVACEncryptionKeyTagOriginal;
const std::string kAlternate = kDVACEncryptionKeyTagAlternate;

using dvac_test::bytes;
ns::Data concat(std::initializer_list<ns::Data> parts) {
  ns::Data out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A keychain that cannot be read at all.
class BrokenKeychainStore final : public sec::KeychainStore {
 protected:
  sec::OSStatus loadService(const std::string&, std::vector<sec::KeychainItem>&) override { return sec::errSecIO; }
  sec::OSStatus loadAllServices(ServiceMap&) override { return sec::errSecIO; }
  sec::OSStatus saveService(const std::string&, const std::vector<sec::KeychainItem>&) override {
    ++saves;
    return sec::errSecIO;
  }

 public:
  std::atomic<int> saves{0};
};

class DVACEncrypterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DVACRedEvududUserDefaults::resetSharedInstance();
    sec::setCurrentKeychain(keychain_);
  }
  void TearDown() override {
    sec::setRandomSourceForTesting(nullptr);
    sec::setCurrentKeychain(nullptr);
    DVACRedEvududUserDefaults::resetSharedInstance();
  }
  std::optional<std::string> metadata() const {
    auto value = DVACRedEvududUserDefaults::shared()->objectForKey("EncryptionKeyMetadata");
    return value ? value->asString() : std::nullopt;
  }
  void setMetadata(const ns::Value& value) {
    DVACRedEvududUserDefaults::shared()->setObject(value, "EncryptionKeyMetadata");
  }
  std::optional<ns::Data> storedKey(const std::string& tag) const {
    auto text = DVACKeychainUtil::stringForKey(tag);
    return text ? ns::base64Decode(*text) : std::nullopt;
  }
  static std::string isoIn(double seconds) {
    return DVACUtility::dateToISO8601(ns::Date::now().addingTimeInterval(seconds));
  }

  ns::test::ScopedStandardDefaults defaults_;
  std::shared_ptr<sec::MemoryKeychainStore> keychain_ = std::make_shared<sec::MemoryKeychainStore>();
  LogRecorder log_;
};

TEST_F(DVACEncrypterTest, FirstUseMakesTheAlternateKeyCurrentAndWritesTheMacLayout) {
  DVACEncrypter encrypter;
  const double before = ns::Date::now().timeIntervalSince1970();
  auto encrypted = encrypter.encryptString("target-token-1234");
  ASSERT_TRUE(encrypted);
  EXPECT_EQ(encrypted->find('\n'), std::string::npos);

  auto record = metadata();
  ASSERT_TRUE(record);
  ASSERT_EQ(record->substr(0, kAlternate.size() + 1), kAlternate + "/");
  auto expiry = DVACUtility::dateFromISO8601(record->substr(kAlternate.size() + 1));
  ASSERT_TRUE(expiry);
  EXPECT_NEAR(expiry->timeIntervalSince1970() - before, 31536000, 5);

  // Take the value apart and check every field independently.
  auto raw = ns::base64Decode(*encrypted);
  ASSERT_TRUE(raw);
  const std::string header = "kDVEncryptionKeyTagAlternate/AES/HmacSHA256/CBC/PKCS7/32";
  ASSERT_EQ(header.size(), 56u);
  ASSERT_GT(raw->size(), 56u + 1 + 16 + 32);
  EXPECT_EQ(std::string(raw->begin(), raw->begin() + 56), header);
  EXPECT_EQ((*raw)[56], ':');
  const sec::Bytes iv(raw->begin() + 57, raw->begin() + 73);
  const sec::Bytes mac(raw->begin() + 73, raw->begin() + 105);
  const sec::Bytes cipherText(raw->begin() + 105, raw->end());

  auto master = storedKey(kAlternate);
  ASSERT_TRUE(master);
  ASSERT_EQ(master->size(), 32u);
  const sec::Bytes t0 = sec::hmacSha256(*master, sec::Bytes{0x00});
  const sec::Bytes macKey(t0.begin(), t0.begin() + 16);
  EXPECT_EQ(sec::hmacSha256(macKey, cipherText), mac);
  auto plain = sec::aes256CbcDecrypt(t0, iv, cipherText);
  ASSERT_TRUE(plain.ok());
  EXPECT_EQ(std::string(plain.bytes.begin(), plain.bytes.end()), "target-token-1234");

  EXPECT_EQ(encrypter.decryptString(*encrypted), "target-token-1234");
  // A second instance finds the stored key.
  DVACEncrypter other;
  EXPECT_EQ(other.decryptString(*encrypted), "target-token-1234");
  // Two encryptions of one text differ (fresh IV).
  EXPECT_NE(encrypter.encryptString("target-token-1234"), encrypted);
  EXPECT_EQ(encrypter.decryptString(*encrypter.encryptString("")), "");
}

TEST_F(DVACEncrypterTest, SubkeysCountFromZeroAndShareTheirFirstBlock) {
  const ns::Data key = bytes("0123456789abcdef0123456789abcdef");
  const ns::Data t0 = DVACEncrypter::getMacBytes(key, ns::Data{0x00});
  ns::Data t0AndOne = t0;
  t0AndOne.push_back(0x01);
  const ns::Data t1 = DVACEncrypter::getMacBytes(key, t0AndOne);
  EXPECT_EQ(DVACEncrypter::getSubkey(key, 32), t0);
  EXPECT_EQ(DVACEncrypter::getSubkey(key, 16), ns::Data(t0.begin(), t0.begin() + 16));
  EXPECT_EQ(DVACEncrypter::getSubkey(key, 40), concat({t0, ns::Data(t1.begin(), t1.begin() + 8)}));
  EXPECT_THROW(DVACEncrypter::getSubkey(key, 0), DVACInvalidOutputLengthException);
  EXPECT_EQ(std::string(DVACInvalidOutputLengthException::name()), "Invalid output data length.");
  EXPECT_EQ(DVACEncrypter::getMetadataStringWithKeyTag(kOriginal).size(), 36u);
  EXPECT_EQ(DVACEncrypter::getMetadataStringWithKeyTag(kOriginal, "AES/HmacSHA256").size(), 47u);
}

TEST_F(DVACEncrypterTest, KeysRotateAfterAYearAndOldValuesStayReadable) {
  DVACEncrypter encrypter;
  setMetadata(ns::Value(kAlternate + "/" + isoIn(1000)));
  EXPECT_EQ(DVACEncrypter::getCurrentKeyTag(), kAlternate);
  auto underAlternate = encrypter.encryptString("first");

  setMetadata(ns::Value(kAlternate + "/" + isoIn(-1)));
  EXPECT_EQ(DVACEncrypter::getCurrentKeyTag(), kOriginal);
  EXPECT_EQ(metadata()->substr(0, kOriginal.size() + 1), kOriginal + "/");
  auto underOriginal = encrypter.encryptString("second");
  const ns::Data originalValue = *ns::base64Decode(*underOriginal);
  EXPECT_EQ(std::string(originalValue.begin(), originalValue.begin() + 48),
            "kDVEncryptionKeyTag/AES/HmacSHA256/CBC/PKCS7/32:");
  EXPECT_NE(storedKey(kOriginal), storedKey(kAlternate));

  DVACEncrypter fresh;
  EXPECT_EQ(fresh.decryptString(*underAlternate), "first");
  EXPECT_EQ(fresh.decryptString(*underOriginal), "second");

  // Back to the alternate tag: its key is reused, not replaced.
  const auto alternateKey = storedKey(kAlternate);
  setMetadata(ns::Value(kOriginal + "/" + isoIn(-1)));
  EXPECT_EQ(DVACEncrypter::getCurrentKeyTag(), kAlternate);
  EXPECT_EQ(storedKey(kAlternate), alternateKey);
  EXPECT_EQ(fresh.decryptString(*fresh.encryptString("third")), "third");
}

TEST_F(DVACEncrypterTest, UnreadableKeyRecordsRotateToAKnownTag) {
  const std::vector<ns::Value> records = {
      ns::Value(kAlternate),                           // no expiry
      ns::Value(kAlternate + "/not a date"),           // unparsable expiry
      ns::Value("kDVSomethingElse/" + isoIn(100000)),  // unknown tag, valid expiry
      ns::Value(int64_t{42}),                          // not text
  };
  for (const auto& record : records) {
    SCOPED_TRACE(record.description());
    setMetadata(record);
    const std::string tag = DVACEncrypter::getCurrentKeyTag();
    EXPECT_TRUE(DVACEncrypter::isKnownKeyTag(tag));
    EXPECT_EQ(DVACEncrypter::getCurrentKeyTag(), tag);  // the new record holds
  }
}

TEST_F(DVACEncrypterTest, OlderLayoutsAreStillRead) {
  DVACEncrypter encrypter;
  auto originalKey = encrypter.getKeyWithKeyTag(kOriginal);
  ASSERT_TRUE(originalKey);
  const sec::Bytes iv(16, 0x11);

  // Header with "AES" alone, IV, ciphertext under the master key itself.
  auto cipher = sec::aes256CbcEncrypt(*originalKey, iv, sec::asBytes("plain layout"));
  ASSERT_TRUE(cipher.ok());
  ns::Data plainLayout = concat({DVACEncrypter::getMetadataStringWithKeyTag(kOriginal), bytes(":"),
                                 ns::Data(iv.begin(), iv.end()), ns::Data(cipher.bytes.begin(), cipher.bytes.end())});
  EXPECT_EQ(encrypter.decryptString(ns::base64Encode(plainLayout)), "plain layout");

  // Bare ciphertext under the original key with a zero IV, also when it
  // happens to contain a ":" byte.
  const sec::Bytes zeroIv(16, 0);
  bool sawColon = false;
  for (int i = 0; i < 400; ++i) {
    const std::string text = "legacy-" + std::to_string(i);
    auto legacy = sec::aes256CbcEncrypt(*originalKey, zeroIv, sec::asBytes(text));
    ASSERT_TRUE(legacy.ok());
    const bool hasColon = std::find(legacy.bytes.begin(), legacy.bytes.end(), ':') != legacy.bytes.end();
    sawColon = sawColon || hasColon;
    ASSERT_EQ(encrypter.decryptString(ns::base64Encode(ns::Data(legacy.bytes.begin(), legacy.bytes.end()))), text)
        << (hasColon ? "with a colon" : "");
  }
  EXPECT_TRUE(sawColon);

  // Bare ciphertext whose first bytes happen to read "a/:" is still ciphertext:
  // the first block is chosen, the rest chains from it, so the text after the
  // first block is known.
  ns::Data firstBlock = bytes("a/:");
  firstBlock.resize(16, 0x5A);
  const std::string known = "0123456789abcdef";
  auto chained = sec::aes256CbcEncrypt(*originalKey, sec::Bytes(firstBlock.begin(), firstBlock.end()),
                                       sec::asBytes(known));
  ASSERT_TRUE(chained.ok());
  auto decrypted = encrypter.decryptData(concat({firstBlock, ns::Data(chained.bytes.begin(), chained.bytes.end())}));
  ASSERT_TRUE(decrypted);
  ASSERT_EQ(decrypted->size(), 32u);
  EXPECT_EQ(std::string(decrypted->begin() + 16, decrypted->end()), known);
}

TEST_F(DVACEncrypterTest, AlteredValuesAreRefusedWithoutTheirText) {
  DVACEncrypter encrypter;
  auto raw = ns::base64Decode(*encrypter.encryptString("secret token"));
  ASSERT_TRUE(raw);
  for (size_t position : {size_t{57} + 16 + 3 /* MAC */, raw->size() - 1 /* ciphertext */, size_t{57} /* IV */}) {
    SCOPED_TRACE(position);
    ns::Data altered = *raw;
    altered[position] ^= 0x01;
    log_.clear();
    auto result = encrypter.decryptString(ns::base64Encode(altered));
    if (position == 57) {
      // The IV is not covered by the MAC: the first block changes, so the
      // text is not the original either way.
      EXPECT_NE(result, "secret token");
    } else {
      EXPECT_FALSE(result);
      EXPECT_TRUE(log_.exactly("Could not authenticate MAC value.", DVACLogLevelError));
    }
  }
}

TEST_F(DVACEncrypterTest, UnknownTagsNeverMakeOrReplaceKeys) {
  DVACEncrypter encrypter;
  auto value = encrypter.encryptString("x");  // makes the alternate key
  const auto alternateKey = storedKey(kAlternate);
  ns::Data forged = concat({bytes("kDVEvilTag/AES/HmacSHA256/CBC/PKCS7/32:"), ns::Data(64, 0x42)});
  EXPECT_FALSE(encrypter.decryptData(forged));
  EXPECT_TRUE(log_.contains("unknown key tag", DVACLogLevelError));
  forged = concat({bytes("kDVEncryptionKeyTagAlternate/ROT13/CBC/PKCS7/32:"), ns::Data(64, 0x42)});
  EXPECT_FALSE(encrypter.decryptData(forged));
  EXPECT_TRUE(log_.contains("unknown layout", DVACLogLevelError));
  EXPECT_FALSE(encrypter.getKeyWithKeyTag("kDVEvilTag"));

  EXPECT_FALSE(DVACKeychainUtil::stringForKey("kDVEvilTag"));
  EXPECT_EQ(storedKey(kAlternate), alternateKey);
  EXPECT_EQ(encrypter.decryptString(*value), "x");
}

TEST_F(DVACEncrypterTest, ShortAndMalformedValuesAreRefused) {
  DVACEncrypter encrypter;
  const ns::Data header = DVACEncrypter::getMetadataStringWithKeyTag(kAlternate, "AES/HmacSHA256");
  for (size_t extra : {size_t{0}, size_t{1}, size_t{47}, size_t{48 + 15}}) {
    SCOPED_TRACE(extra);
    EXPECT_FALSE(encrypter.decryptData(concat({header, bytes(":"), ns::Data(extra, 0x07)})));
  }
  EXPECT_FALSE(encrypter.decryptData(
      concat({DVACEncrypter::getMetadataStringWithKeyTag(kOriginal), bytes(":"), ns::Data(20, 0x07)})));
  EXPECT_FALSE(encrypter.decryptData(ns::Data{}));
  EXPECT_FALSE(encrypter.decryptData(ns::Data(17, 0x01)));  // not whole blocks
  EXPECT_TRUE(log_.contains("shorter than its layout requires"));

  EXPECT_FALSE(encrypter.decryptString("AAAA\nAAAA"));
  EXPECT_TRUE(log_.exactly("Conversion of encrypted string to NSData failed.", DVACLogLevelWarning));
  EXPECT_FALSE(encrypter.decryptString("not base64!"));

  auto binary = encrypter.encryptData(ns::Data{0xff, 0xfe, 0x80});
  ASSERT_TRUE(binary);
  EXPECT_EQ(encrypter.decryptData(*binary), (ns::Data{0xff, 0xfe, 0x80}));
  EXPECT_FALSE(encrypter.decryptString(ns::base64Encode(*binary)));
  EXPECT_TRUE(log_.exactly("Converting decrypted NSData to NSString failed.", DVACLogLevelWarning));
}

TEST_F(DVACEncrypterTest, ARandomSourceFailureRefusesToEncrypt) {
  sec::setRandomSourceForTesting([](uint8_t*, size_t) { return sec::errSecInternalComponent; });
  {
    DVACEncrypter encrypter;
    EXPECT_FALSE(encrypter.encryptString("token"));
    EXPECT_TRUE(log_.exactly("Error generating encryption key. Error code: -2070", DVACLogLevelError));
    EXPECT_FALSE(DVACKeychainUtil::stringForKey(kAlternate));
  }
  sec::setRandomSourceForTesting(nullptr);
  DVACEncrypter encrypter;
  ASSERT_TRUE(encrypter.encryptString("token"));  // the key exists now
  sec::setRandomSourceForTesting([](uint8_t*, size_t) { return sec::errSecInternalComponent; });
  EXPECT_FALSE(encrypter.encryptString("token"));
  EXPECT_TRUE(log_.exactly("Error generating initialization vector. Error code: -2070", DVACLogLevelError));
}

TEST_F(DVACEncrypterTest, AKeychainThatCannotBeReadGetsNoNewKey) {
  auto broken = std::make_shared<BrokenKeychainStore>();
  sec::setCurrentKeychain(broken);
  DVACEncrypter encrypter;
  EXPECT_FALSE(encrypter.encryptString("token"));
  EXPECT_EQ(broken->saves.load(), 0);
  EXPECT_TRUE(log_.contains("Could not read the encryption key with the tag", DVACLogLevelError));
}

TEST_F(DVACEncrypterTest, AStoredKeyThatIsNotAKeyIsRefusedAndKept) {
  DVACKeychainUtil::storeString("bm90IGEga2V5", kAlternate);  // "not a key"
  setMetadata(ns::Value(kAlternate + "/" + isoIn(1000)));
  DVACEncrypter encrypter;
  EXPECT_FALSE(encrypter.encryptString("token"));
  EXPECT_TRUE(log_.contains("is unreadable", DVACLogLevelError));
  EXPECT_EQ(DVACKeychainUtil::stringForKey(kAlternate), "bm90IGEga2V5");
}

TEST_F(DVACEncrypterTest, ThreadsOnACleanMachineShareOneKeyPerTag) {
  constexpr int kThreads = 8;
  std::vector<std::optional<std::string>> values(kThreads);
  std::vector<std::thread> threads;
  std::atomic<bool> go{false};
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      while (!go.load()) std::this_thread::yield();
      DVACEncrypter encrypter;  // one instance each: only the shared lock helps
      values[i] = encrypter.encryptString("token-" + std::to_string(i));
    });
  }
  go = true;
  for (auto& t : threads) t.join();
  sec::SecItemResult all;
  auto query = sec::SecItemQuery::genericPassword(DVACKeychainUtil::defaultServiceName(), kAlternate);
  query.matchLimit = sec::kSecMatchLimitAll;
  ASSERT_EQ(keychain_->copyMatching(query, &all), sec::errSecSuccess);
  EXPECT_EQ(all.items.size(), 1u);
  DVACEncrypter reader;
  for (int i = 0; i < kThreads; ++i) {
    ASSERT_TRUE(values[i]);
    EXPECT_EQ(reader.decryptString(*values[i]), "token-" + std::to_string(i));
  }
}

}  // namespace
