#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/security/CommonCrypto.h"
#include "platform/security/SecRandom.h"

namespace {

using sec::Bytes;

Bytes hex(std::string_view text) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

Bytes sequence(std::size_t n) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return out;
}

// NIST SP 800-38A, F.2.5 / F.2.6 (CBC-AES256).
const Bytes kNistKey = hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
const Bytes kNistIv = hex("000102030405060708090a0b0c0d0e0f");
const Bytes kNistPlain = hex(
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
const Bytes kNistCipher = hex(
    "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
    "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b");

TEST(SecDigest, Sha256KnownAnswers) {
  EXPECT_EQ(sec::sha256(sec::asBytes("abc")),
            hex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
  EXPECT_EQ(sec::sha256({}),
            hex("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
  unsigned char md[sec::CC_SHA256_DIGEST_LENGTH];
  EXPECT_EQ(sec::CC_SHA256("abc", 3, md), md);
  EXPECT_EQ(Bytes(md, md + sizeof md), sec::sha256(sec::asBytes("abc")));
}

TEST(SecDigest, HmacSha256Rfc4231) {
  // Case 1.
  EXPECT_EQ(sec::hmacSha256(Bytes(20, 0x0b), sec::asBytes("Hi There")),
            hex("b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"));
  // Case 2.
  EXPECT_EQ(sec::hmacSha256(sec::asBytes("Jefe"), sec::asBytes("what do ya want for nothing?")),
            hex("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"));
  // Case 6: a key longer than the block is hashed first.
  EXPECT_EQ(sec::hmacSha256(Bytes(131, 0xaa),
                            sec::asBytes("Test Using Larger Than Block-Size Key - Hash Key First")),
            hex("60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"));
}

TEST(SecDigest, CCHmacSelectsAlgorithmAndAcceptsEmptyInputs) {
  EXPECT_EQ(sec::CCHmacOutputLength(sec::kCCHmacAlgSHA1), 20u);
  EXPECT_EQ(sec::CCHmacOutputLength(sec::kCCHmacAlgSHA256), 32u);
  EXPECT_EQ(sec::CCHmacOutputLength(sec::kCCHmacAlgSHA512), 64u);
  EXPECT_EQ(sec::CCHmacOutputLength(99), 0u);

  const Bytes key(20, 0x0b);
  unsigned char mac[64];
  sec::CCHmac(sec::kCCHmacAlgSHA1, key.data(), key.size(), "Hi There", 8, mac);  // RFC 2202
  EXPECT_EQ(Bytes(mac, mac + 20), hex("b617318655057264e28bc0b6fb378c8ef146be00"));

  // Empty key and message (null pointers) give HMAC("", "").
  sec::CCHmac(sec::kCCHmacAlgSHA256, nullptr, 0, nullptr, 0, mac);
  EXPECT_EQ(Bytes(mac, mac + 32),
            hex("b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad"));

  std::memset(mac, 0x5a, sizeof mac);
  sec::CCHmac(99, key.data(), key.size(), "x", 1, mac);  // unknown: untouched
  EXPECT_EQ(mac[0], 0x5a);
}

TEST(SecAes, Nist80038aCbcAes256WithoutPadding) {
  Bytes out(kNistPlain.size());
  std::size_t moved = 0;
  ASSERT_EQ(sec::CCCrypt(sec::kCCEncrypt, sec::kCCAlgorithmAES, 0, kNistKey.data(),
                         kNistKey.size(), kNistIv.data(), kNistPlain.data(), kNistPlain.size(),
                         out.data(), out.size(), &moved),
            sec::kCCSuccess);
  EXPECT_EQ(moved, kNistCipher.size());
  EXPECT_EQ(out, kNistCipher);

  ASSERT_EQ(sec::CCCrypt(sec::kCCDecrypt, sec::kCCAlgorithmAES, 0, kNistKey.data(),
                         kNistKey.size(), kNistIv.data(), kNistCipher.data(), kNistCipher.size(),
                         out.data(), out.size(), &moved),
            sec::kCCSuccess);
  EXPECT_EQ(out, kNistPlain);
}

TEST(SecAes, PaddedEncryptionExtendsTheNistVectorByOneBlock) {
  const auto encrypted = sec::aes256CbcEncrypt(kNistKey, kNistIv, kNistPlain);
  ASSERT_TRUE(encrypted.ok());
  ASSERT_EQ(encrypted.bytes.size(), 80u);
  EXPECT_EQ(Bytes(encrypted.bytes.begin(), encrypted.bytes.begin() + 64), kNistCipher);
  const auto decrypted = sec::aes256CbcDecrypt(kNistKey, kNistIv, encrypted.bytes);
  ASSERT_TRUE(decrypted.ok());
  EXPECT_EQ(decrypted.bytes, kNistPlain);
}

TEST(SecAes, OtherKeySizesAndEcbAndNullIv) {
  // F.2.1 (CBC-AES128), first block.
  const Bytes key128 = hex("2b7e151628aed2a6abf7158809cf4f3c");
  unsigned char out[16];
  std::size_t moved = 0;
  ASSERT_EQ(sec::CCCrypt(sec::kCCEncrypt, sec::kCCAlgorithmAES128, 0, key128.data(), 16,
                         kNistIv.data(), kNistPlain.data(), 16, out, sizeof out, &moved),
            sec::kCCSuccess);
  EXPECT_EQ(Bytes(out, out + 16), hex("7649abac8119b246cee98e9b12e9197d"));

  // F.1.5 (ECB-AES256), first block.
  ASSERT_EQ(sec::CCCrypt(sec::kCCEncrypt, sec::kCCAlgorithmAES, sec::kCCOptionECBMode,
                         kNistKey.data(), 32, nullptr, kNistPlain.data(), 16, out, sizeof out,
                         &moved),
            sec::kCCSuccess);
  EXPECT_EQ(Bytes(out, out + 16), hex("f3eed1bdb5d2a03c064b5a7e3db181f8"));

  // A null IV is the all-zero IV.
  const Bytes zeroIv(16, 0);
  const auto withZeroIv = sec::aes256CbcEncrypt(kNistKey, zeroIv, sec::asBytes("secret"));
  Bytes viaNull(16);
  ASSERT_EQ(sec::CCCrypt(sec::kCCEncrypt, sec::kCCAlgorithmAES, sec::kCCOptionPKCS7Padding,
                         kNistKey.data(), 32, nullptr, "secret", 6, viaNull.data(), viaNull.size(),
                         &moved),
            sec::kCCSuccess);
  EXPECT_EQ(viaNull, withZeroIv.bytes);
}

TEST(SecAes, Pkcs7PaddingAtBlockEdges) {
  for (const std::size_t size : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u}) {
    SCOPED_TRACE(size);
    const Bytes plain = sequence(size);
    const auto encrypted = sec::aes256CbcEncrypt(kNistKey, kNistIv, plain);
    ASSERT_TRUE(encrypted.ok());
    const std::size_t expected = (size / 16 + 1) * 16;
    ASSERT_EQ(encrypted.bytes.size(), expected);

    // The raw decryption shows the padding bytes themselves.
    Bytes raw(expected);
    std::size_t moved = 0;
    ASSERT_EQ(sec::CCCrypt(sec::kCCDecrypt, sec::kCCAlgorithmAES, 0, kNistKey.data(), 32,
                           kNistIv.data(), encrypted.bytes.data(), expected, raw.data(),
                           raw.size(), &moved),
              sec::kCCSuccess);
    const auto pad = static_cast<std::uint8_t>(expected - size);
    EXPECT_EQ(Bytes(raw.begin(), raw.begin() + size), plain);
    EXPECT_EQ(Bytes(raw.begin() + size, raw.end()), Bytes(pad, pad));

    const auto decrypted = sec::aes256CbcDecrypt(kNistKey, kNistIv, encrypted.bytes);
    ASSERT_TRUE(decrypted.ok());
    EXPECT_EQ(decrypted.bytes, plain);
  }
}

// Encrypts one raw block (no padding) so its decryption ends in `last`.
Bytes cipherOfBlock(const Bytes& last) {
  Bytes out(16);
  std::size_t moved = 0;
  EXPECT_EQ(sec::CCCrypt(sec::kCCEncrypt, sec::kCCAlgorithmAES, 0, kNistKey.data(), 32,
                         kNistIv.data(), last.data(), 16, out.data(), 16, &moved),
            sec::kCCSuccess);
  return out;
}

TEST(SecAes, MalformedPaddingIsADecodeError) {
  Bytes zeroPad(16, 0x41);
  zeroPad[15] = 0;
  Bytes tooLong(16, 17);
  Bytes mismatched(16, 0x41);
  mismatched[15] = 3;
  mismatched[14] = 3;  // third-to-last byte should be 3 too
  Bytes fullButOneOff(16, 16);
  fullButOneOff[0] = 15;
  for (const auto& block : {zeroPad, tooLong, mismatched, fullButOneOff}) {
    const auto result = sec::aes256CbcDecrypt(kNistKey, kNistIv, cipherOfBlock(block));
    EXPECT_EQ(result.status, sec::kCCDecodeError);
    EXPECT_TRUE(result.bytes.empty());
  }
  // A whole block of padding is valid and decrypts to nothing.
  const auto empty = sec::aes256CbcDecrypt(kNistKey, kNistIv, cipherOfBlock(Bytes(16, 16)));
  ASSERT_TRUE(empty.ok());
  EXPECT_TRUE(empty.bytes.empty());
}

TEST(SecAes, WrongSizesAndWrongKeyAreRefused) {
  const auto ciphertext = sec::aes256CbcEncrypt(kNistKey, kNistIv, sec::asBytes("attack at dawn"));
  ASSERT_TRUE(ciphertext.ok());

  EXPECT_EQ(sec::aes256CbcDecrypt(kNistKey, kNistIv, Bytes(15, 1)).status,
            sec::kCCAlignmentError);
  EXPECT_EQ(sec::aes256CbcDecrypt(kNistKey, kNistIv, Bytes(17, 1)).status,
            sec::kCCAlignmentError);
  EXPECT_EQ(sec::aes256CbcDecrypt(kNistKey, kNistIv, Bytes()).status, sec::kCCDecodeError);
  EXPECT_EQ(sec::aes256CbcDecrypt(Bytes(31, 1), kNistIv, ciphertext.bytes).status,
            sec::kCCParamError);
  EXPECT_EQ(sec::aes256CbcEncrypt(Bytes(16, 1), kNistIv, ciphertext.bytes).status,
            sec::kCCParamError);
  EXPECT_EQ(sec::aes256CbcDecrypt(kNistKey, Bytes(15, 0), ciphertext.bytes).status,
            sec::kCCParamError);

  Bytes wrongKey = kNistKey;
  wrongKey[0] ^= 1;
  const auto wrong = sec::aes256CbcDecrypt(wrongKey, kNistIv, ciphertext.bytes);
  EXPECT_EQ(wrong.status, sec::kCCDecodeError);
  EXPECT_TRUE(wrong.bytes.empty());
}

TEST(SecAes, CCCryptReportsTheSizeItNeedsAndStaysInItsBuffer) {
  const Bytes plain = sequence(17);
  Bytes out(48, 0xEE);
  std::size_t moved = 0;
  EXPECT_EQ(sec::CCCrypt(sec::kCCEncrypt, sec::kCCAlgorithmAES, sec::kCCOptionPKCS7Padding,
                         kNistKey.data(), 32, kNistIv.data(), plain.data(), plain.size(),
                         out.data(), 31, &moved),
            sec::kCCBufferTooSmall);
  EXPECT_EQ(moved, 32u);
  EXPECT_EQ(out, Bytes(48, 0xEE));

  ASSERT_EQ(sec::CCCrypt(sec::kCCEncrypt, sec::kCCAlgorithmAES, sec::kCCOptionPKCS7Padding,
                         kNistKey.data(), 32, kNistIv.data(), plain.data(), plain.size(),
                         out.data(), 32, &moved),
            sec::kCCSuccess);
  const Bytes ciphertext(out.begin(), out.begin() + 32);
  EXPECT_EQ(out[32], 0xEE);

  Bytes back(17, 0);
  back.resize(24, 0xEE);
  EXPECT_EQ(sec::CCCrypt(sec::kCCDecrypt, sec::kCCAlgorithmAES, sec::kCCOptionPKCS7Padding,
                         kNistKey.data(), 32, kNistIv.data(), ciphertext.data(), 32, back.data(),
                         16, &moved),
            sec::kCCBufferTooSmall);
  EXPECT_EQ(moved, 17u);
  EXPECT_EQ(back[16], 0);
  ASSERT_EQ(sec::CCCrypt(sec::kCCDecrypt, sec::kCCAlgorithmAES, sec::kCCOptionPKCS7Padding,
                         kNistKey.data(), 32, kNistIv.data(), ciphertext.data(), 32, back.data(),
                         17, &moved),
            sec::kCCSuccess);
  EXPECT_EQ(Bytes(back.begin(), back.begin() + 17), plain);
  EXPECT_EQ(back[17], 0xEE);
}

TEST(SecAes, CCCryptRejectsBadParameters) {
  unsigned char out[32] = {};
  std::size_t moved = 7;
  EXPECT_EQ(sec::CCCrypt(2, sec::kCCAlgorithmAES, 0, kNistKey.data(), 32, nullptr, out, 16, out,
                         32, &moved),
            sec::kCCParamError);
  EXPECT_EQ(moved, 0u);
  EXPECT_EQ(sec::CCCrypt(sec::kCCEncrypt, 5, 0, kNistKey.data(), 32, nullptr, out, 16, out, 32,
                         &moved),
            sec::kCCParamError);
  EXPECT_EQ(sec::CCCrypt(sec::kCCEncrypt, sec::kCCAlgorithmAES, 0x80, kNistKey.data(), 32,
                         nullptr, out, 16, out, 32, &moved),
            sec::kCCParamError);
  EXPECT_EQ(sec::CCCrypt(sec::kCCEncrypt, sec::kCCAlgorithmAES, 0, nullptr, 32, nullptr, out, 16,
                         out, 32, &moved),
            sec::kCCParamError);
  EXPECT_EQ(sec::CCCrypt(sec::kCCEncrypt, sec::kCCAlgorithmAES, 0, kNistKey.data(), 32, nullptr,
                         nullptr, 16, out, 32, &moved),
            sec::kCCParamError);
  EXPECT_EQ(sec::CCCrypt(sec::kCCEncrypt, sec::kCCAlgorithmAES, 0, kNistKey.data(), 32, nullptr,
                         out, 15, out, 32, &moved),
            sec::kCCAlignmentError);
  // Encrypting nothing without padding is a successful no-op.
  EXPECT_EQ(sec::CCCrypt(sec::kCCEncrypt, sec::kCCAlgorithmAES, 0, kNistKey.data(), 32, nullptr,
                         nullptr, 0, nullptr, 0, &moved),
            sec::kCCSuccess);
  EXPECT_EQ(moved, 0u);
}

class SecRandom : public ::testing::Test {
 protected:
  void TearDown() override { sec::setRandomSourceForTesting(nullptr); }
};

TEST_F(SecRandom, DrawsFreshBytes) {
  const auto first = sec::randomBytes(32);
  const auto second = sec::randomBytes(32);
  ASSERT_TRUE(first.ok());
  ASSERT_TRUE(second.ok());
  EXPECT_EQ(first.bytes.size(), 32u);
  EXPECT_NE(first.bytes, second.bytes);

  const auto none = sec::randomBytes(0);
  EXPECT_TRUE(none.ok());
  EXPECT_TRUE(none.bytes.empty());
  EXPECT_EQ(sec::SecRandomCopyBytes(sec::kSecRandomDefault, 4, nullptr), sec::errSecParam);
}

TEST_F(SecRandom, AFailingSourceReportsItsStatusAndLeavesNoPartialBytes) {
  sec::setRandomSourceForTesting([](std::uint8_t* bytes, std::size_t count) {
    std::memset(bytes, 0xAB, count / 2);
    return sec::errSecInternalComponent;
  });
  const auto failed = sec::randomBytes(16);
  EXPECT_EQ(failed.status, sec::errSecInternalComponent);
  EXPECT_TRUE(failed.bytes.empty());

  unsigned char buffer[8];
  std::memset(buffer, 0x11, sizeof buffer);
  EXPECT_EQ(sec::SecRandomCopyBytes(sec::kSecRandomDefault, sizeof buffer, buffer),
            sec::errSecInternalComponent);
  EXPECT_EQ(Bytes(buffer, buffer + 8), Bytes(8, 0));

  sec::setRandomSourceForTesting(nullptr);
  EXPECT_TRUE(sec::randomBytes(16).ok());
}

}  // namespace
