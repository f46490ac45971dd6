// Encrypt64 / Decrypt64: the exact ciphertext format, key handling and the
// failure results.
#include <qn/crypto/encryption.h>
#include "support/test_support.h"

#include <set>

#include "crypto/openssl_base64.h"

namespace {

using qn::QNEncryption;
using qn::String;
using qn::test::bytesOf;
namespace tf = qn::twofish;

const String kKey = u"0123456789abcdeffedcba9876543210";
const String kOtherKey = u"00112233445566778899aabbccddeeff";

TEST(Encrypt64, NewKeysAreRandomLowerCaseHex) {
    std::set<String> keys;
    for (int i = 0; i < 4; ++i) {
        const String key = QNEncryption::getNewKey();
        ASSERT_EQ(key.size(), 32u);
        EXPECT_EQ(key.find_first_not_of(u"0123456789abcdef"), String::npos) << qn::toUtf8(key);
        keys.insert(key);
        EXPECT_EQ(QNEncryption::decrypt64Key(QNEncryption::encrypt64Key(u"x", key), key), u"x");
    }
    EXPECT_EQ(keys.size(), 4u);
}

TEST(Encrypt64, CiphertextIsSpacePaddedEcbBlocksInBase64) {
    // 16 NUL characters are 16 zero bytes: with the zero key the first block
    // is the published all-zero Twofish vector, the second is 16 spaces.
    const String zeroKey(32, u'0');
    const std::string bytes = bytesOf(QNEncryption::encrypt64Key(String(16, u'\0'), zeroKey));
    ASSERT_EQ(bytes.size(), 32u);
    EXPECT_EQ(bytes.substr(0, 16),
              "\x9F\x58\x9F\x5C\xF6\x12\x2C\x32\xB6\xBF\xEC\x2F\x2A\xE8\xC3\x5A");

    keyInstance key;
    cipherInstance cipher;
    ASSERT_EQ(makeKey(&key, tf::DIR_ENCRYPT, 128, nullptr), tf::TRUE);
    ASSERT_EQ(cipherInit(&cipher, tf::MODE_ECB, nullptr), tf::TRUE);
    const std::string spaces(16, ' ');
    std::string spaceBlock(16, '\0');
    ASSERT_EQ(blockEncrypt(&cipher, &key, reinterpret_cast<const std::uint8_t*>(spaces.data()), 128,
                           reinterpret_cast<std::uint8_t*>(spaceBlock.data())),
              128);
    EXPECT_EQ(bytes.substr(16), spaceBlock);

    // Block counts: always at least one byte of padding.
    const String empty = QNEncryption::encrypt64Key(u"", kKey);
    EXPECT_EQ(empty.size(), 24u);
    EXPECT_EQ(empty.substr(22), u"==");
    EXPECT_EQ(QNEncryption::encrypt64Key(String(15, u'a'), kKey).size(), 24u);
    EXPECT_EQ(QNEncryption::encrypt64Key(String(16, u'a'), kKey).size(), 44u);
    // UTF-8 bytes count, not characters: 8 x "é" is 16 bytes.
    EXPECT_EQ(QNEncryption::encrypt64Key(String(8, u'\u00e9'), kKey).size(), 44u);

    // Deterministic, without chaining: equal blocks encrypt alike.
    const String text(32, u'z');
    const String once = QNEncryption::encrypt64Key(text, kKey);
    EXPECT_EQ(QNEncryption::encrypt64Key(text, kKey), once);
    const std::string twice = bytesOf(once);
    ASSERT_EQ(twice.size(), 48u);
    EXPECT_EQ(twice.substr(0, 16), twice.substr(16, 16));
    EXPECT_NE(QNEncryption::encrypt64Key(text, kOtherKey), once);
}

TEST(Encrypt64, KeyTextHandling) {
    const String text = u"secret";
    const String expected = QNEncryption::encrypt64Key(text, kKey);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(QNEncryption::encrypt64Key(text, u"0123456789ABCDEFFEDCBA9876543210"), expected);
    EXPECT_EQ(QNEncryption::encrypt64Key(text, kKey + u".v2.anything"), expected);
    EXPECT_EQ(QNEncryption::decrypt64Key(expected, kKey + u"."), text);

    const String unusable[] = {
        kKey.substr(1),                            // 31
        kKey + u"0",                               // 33
        u"0123456789abcdeffedcba987654321g",       // not hexadecimal
        u"0123456789abcdeffedcba987654321\u00e9",  // 32 units, not ASCII
        u"0123456.89abcdeffedcba9876543210",       // too short once the suffix goes
        u""};
    for (const String& key : unusable) {
        EXPECT_EQ(QNEncryption::encrypt64Key(text, key), u"") << qn::toUtf8(key);
        EXPECT_EQ(QNEncryption::decrypt64Key(expected, key), u"") << qn::toUtf8(key);
        EXPECT_FALSE(QNEncryption::keyInstanceFromKeyStringDirection(key, 0)) << qn::toUtf8(key);
    }
    EXPECT_FALSE(QNEncryption::keyInstanceFromKeyStringDirection(kKey, 2));
}

TEST(Encrypt64, RoundTripsKeepTextButNotTrailingBlanksAndDecryptInputHandling) {
    const String texts[] = {
        u"",
        u"a",
        u"exactly sixteen!",
        u"  leading blanks and\ta tab inside",
        u"Ni\u00f1o, \u00e7a va, \u65e5\u672c\u8a9e, \U0001F600 and more than one block of text",
        u"line\nbreaks\r\nkept"};
    for (const String& text : texts) {
        const auto back = QNEncryption::decrypt64Key(QNEncryption::encrypt64Key(text, kKey), kKey);
        EXPECT_EQ(back, text) << qn::toUtf8(text);
    }
    const String padded = QNEncryption::encrypt64Key(u"trailing   \t", kKey);
    EXPECT_EQ(QNEncryption::decrypt64Key(padded, kKey), u"trailing");

    const String cipherText = QNEncryption::encrypt64Key(u"payload", kKey);
    EXPECT_EQ(QNEncryption::decrypt64Key(cipherText + u"   ", kKey), u"payload");

    const String broken = cipherText.substr(0, 8) + u"\n" + cipherText.substr(8);
    EXPECT_EQ(QNEncryption::decrypt64Key(broken, kKey), u"");
    EXPECT_EQ(QNEncryption::decrypt64Key(u"not base64!", kKey), u"");

    // A whole block plus a partial one is not something Encrypt64 made.
    std::string bytes = bytesOf(QNEncryption::encrypt64Key(String(20, u'q'), kKey));
    bytes.resize(20);
    EXPECT_EQ(QNEncryption::decrypt64Key(qn::test::base64(bytes), kKey), u"");

    // A wrong key never crashes: no text, or text that differs.
    for (int i = 0; i < 64; ++i) {
        String wrong = kKey;
        wrong[static_cast<std::size_t>(i % 32)] = u"0123456789abcdef"[i % 16];
        if (wrong == kKey) continue;
        const auto result = QNEncryption::decrypt64Key(cipherText, wrong);
        if (result) {
            EXPECT_NE(*result, u"payload");
        }
    }
}

TEST(Encrypt64, TwoFishKeyBytesAndByteArrays) {
    auto enc = QNEncryption::keyInstanceFromKeyStringDirection(kKey, tf::DIR_ENCRYPT);
    auto dec = QNEncryption::keyInstanceFromKeyStringDirection(kKey + u".x", tf::DIR_DECRYPT);
    ASSERT_TRUE(enc && dec);
    EXPECT_EQ(dec->direction, tf::DIR_DECRYPT);
    const qn::Bytes plain = {'h', 'i', 0xC3, 0xA9};
    const qn::Bytes cipherText = QNEncryption::encryptTwoFishKey(plain, *enc);
    EXPECT_EQ(qn::test::base64(std::string(cipherText.begin(), cipherText.end())),
              QNEncryption::encrypt64Key(u"hi\u00e9", kKey));
    qn::Bytes expected = plain;
    expected.resize(16, ' ');
    EXPECT_EQ(QNEncryption::decryptTwoFishKey(cipherText, *dec), expected);
    EXPECT_TRUE(QNEncryption::decryptTwoFishKey(qn::Bytes(17, 0), *dec).empty());

    keyInstance unusable{};
    EXPECT_TRUE(QNEncryption::encryptTwoFishKey(plain, unusable).empty());
    EXPECT_TRUE(QNEncryption::decryptTwoFishKey(cipherText, unusable).empty());

    std::size_t length = 99;
    const auto array =
        QNEncryption::newByteArrayFromStringArrayLength(u"a\u00e9\U0001F600", length);
    ASSERT_EQ(length, 7u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(array.get()), length),
              "a\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_NE(QNEncryption::newByteArrayFromStringArrayLength(u"", length), nullptr);
    EXPECT_EQ(length, 0u);
}

// Each thread alternates keys, so its cached key schedule keeps changing.
TEST(Encrypt64, ConcurrentCallsWithChangingKeys) {
    const String text = u"shared text across threads";
    const String expectedA = QNEncryption::encrypt64Key(text, kKey);
    const String expectedB = QNEncryption::encrypt64Key(text, kOtherKey);
    std::vector<int> failures(4, 0);
    qn::test::onThreads(4, [&](int t) {
        for (int i = 0; i < 200; ++i) {
            const bool a = (i + t) % 3 != 0;
            const String& key = a ? kKey : kOtherKey;
            const String out = QNEncryption::encrypt64Key(text, key);
            if (out != (a ? expectedA : expectedB)) ++failures[t];
            if (QNEncryption::decrypt64Key(out, key) != text) ++failures[t];
        }
    });
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
