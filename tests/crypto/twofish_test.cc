// Twofish through its C interface: the published known-answer values, the
// chaining modes, and every return code.
#include <qn/crypto/twofish.h>
#include "support/test_support.h"

#include <cstring>

namespace {

namespace tf = qn::twofish;
using Block = std::vector<std::uint8_t>;

std::string hex(const std::uint8_t* bytes, std::size_t size) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0xF];
    }
    return text;
}

Block bytesOf(const std::string& hexText) {
    Block bytes;
    for (std::size_t i = 0; i + 1 < hexText.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(hexText.substr(i, 2), nullptr, 16)));
    return bytes;
}

Block pattern(std::size_t size) {
    Block data(size);
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<std::uint8_t>(i * 37 + 11);
    return data;
}

struct Cipher {
    keyInstance key{};
    cipherInstance cipher{};
    explicit Cipher(const char* keyHex, int bits = 128, std::uint8_t mode = tf::MODE_ECB,
                    const char* iv = nullptr) {
        std::memset(&key, 0xAB, sizeof key);  // no leftovers may leak into the result
        EXPECT_EQ(makeKey(&key, tf::DIR_ENCRYPT, bits, keyHex), tf::TRUE);
        EXPECT_EQ(cipherInit(&cipher, mode, iv), tf::TRUE);
    }
    Block encrypt(const Block& in, int bits = -1) {
        Block out(in.size());
        if (bits < 0) bits = static_cast<int>(in.size() * 8);
        EXPECT_EQ(blockEncrypt(&cipher, &key, in.data(), bits, out.data()), bits);
        return out;
    }
    Block decrypt(const Block& in, int bits = -1) {
        Block out(in.size());
        if (bits < 0) bits = static_cast<int>(in.size() * 8);
        EXPECT_EQ(blockDecrypt(&cipher, &key, in.data(), bits, out.data()), bits);
        return out;
    }
};

// The published intermediate-value tables: key and plaintext start at zero;
// each step's ciphertext becomes the next plaintext, and the next key is the
// previous plaintext followed by the leading part of the previous key.
TEST(Twofish, PublishedVectors) {
    const struct {
        int bits;
        const char* key;
        const char* cipherText;
    } single[] = {{128, "00000000000000000000000000000000", "9F589F5CF6122C32B6BFEC2F2AE8C35A"},
                  // An absent or empty key text is the zero key.
                  {128, nullptr, "9F589F5CF6122C32B6BFEC2F2AE8C35A"},
                  {128, "", "9F589F5CF6122C32B6BFEC2F2AE8C35A"},
                  {192, "0123456789ABCDEFFEDCBA98765432100011223344556677",
                   "CFD1D2E5A9BE9CDF501F13B892BD2248"},
                  {256, "0123456789ABCDEFFEDCBA987654321000112233445566778899AABBCCDDEEFF",
                   "37527BE0052334B89F0CFCCAE87CFA20"}};
    const Block zero(16, 0);
    for (const auto& c : single) {
        Cipher cipher(c.key, c.bits);
        const Block out = cipher.encrypt(zero);
        EXPECT_EQ(hex(out.data(), 16), c.cipherText) << c.bits;
        EXPECT_EQ(cipher.decrypt(out), zero) << c.bits;
    }

    const struct {
        int bits;
        const char* second;
        const char* last;
    } chained[] = {{128, "D491DB16E7B1C39E86CB086B789F5419", "5D9D4EEFFA9151575524F115815A12E0"},
                   {192, "88B2B2706B105E36B446BB6D731A1E88", "E75449212BEEF9F4A390BD860A640941"},
                   {256, "D43BB7556EA32E46F2A282B7D45B4E0D", "37FE26FF1CF66175F5DDF4C33B97A205"}};
    for (const auto& c : chained) {
        const std::size_t keyBytes = static_cast<std::size_t>(c.bits / 8);
        Block key(keyBytes, 0), plain(16, 0), cipherText;
        for (int step = 1; step <= 49; ++step) {
            Cipher cipher(hex(key.data(), key.size()).c_str(), c.bits);
            cipherText = cipher.encrypt(plain);
            ASSERT_EQ(cipher.decrypt(cipherText), plain) << c.bits << " step " << step;
            if (step == 2) {
                EXPECT_EQ(hex(cipherText.data(), 16), c.second) << c.bits;
            }
            Block nextKey(plain);
            nextKey.insert(nextKey.end(), key.begin(), key.begin() + (keyBytes - 16));
            key = nextKey;
            plain = cipherText;
        }
        EXPECT_EQ(hex(cipherText.data(), 16), c.last) << c.bits;
    }
}

TEST(Twofish, ManyBlocksInOneCallMatchBlockByBlockAndWorkInPlace) {
    Cipher cipher("0123456789abcdeffedcba9876543210");
    const Block data = pattern(16 * 5);  // odd count: the paired and the single path
    Block oneByOne;
    for (std::size_t i = 0; i < data.size(); i += 16) {
        const Block out = cipher.encrypt(Block(data.begin() + i, data.begin() + i + 16));
        oneByOne.insert(oneByOne.end(), out.begin(), out.end());
    }
    EXPECT_EQ(cipher.encrypt(data), oneByOne);

    Block inPlace = data;
    const int bits = static_cast<int>(inPlace.size() * 8);
    ASSERT_EQ(blockEncrypt(&cipher.cipher, &cipher.key, inPlace.data(), bits, inPlace.data()),
              bits);
    EXPECT_EQ(inPlace, oneByOne);
    ASSERT_EQ(blockDecrypt(&cipher.cipher, &cipher.key, inPlace.data(), bits, inPlace.data()),
              bits);
    EXPECT_EQ(inPlace, data);
}

TEST(Twofish, CbcChainsBlocksThroughTheVectorAcrossCalls) {
    const char* keyHex = "00112233445566778899aabbccddeeff";
    const char* ivHex = "000102030405060708090A0B0C0D0E0F";
    const Block data = pattern(16 * 4);

    Cipher cbc(keyHex, 128, tf::MODE_CBC, ivHex);
    const Block whole = cbc.encrypt(data);
    // First block: ECB of plaintext XOR vector.
    Block first(data.begin(), data.begin() + 16);
    const Block iv = bytesOf(ivHex);
    for (int i = 0; i < 16; ++i)
        first[i] ^= iv[i];
    EXPECT_EQ(Cipher(keyHex).encrypt(first), Block(whole.begin(), whole.begin() + 16));

    Cipher split(keyHex, 128, tf::MODE_CBC, ivHex);
    Block parts = split.encrypt(Block(data.begin(), data.begin() + 16));
    const Block rest = split.encrypt(Block(data.begin() + 16, data.end()));
    parts.insert(parts.end(), rest.begin(), rest.end());
    EXPECT_EQ(parts, whole);

    Cipher back(keyHex, 128, tf::MODE_CBC, ivHex);
    EXPECT_EQ(back.decrypt(whole), data);
}

TEST(Twofish, Cfb1RunsBitByBitOnAnyLength) {
    const char* keyHex = "00112233445566778899aabbccddeeff";
    const char* ivHex = "f0e0d0c0b0a090807060504030201000";
    const Block data = pattern(26);
    const int bits = 203;  // not a whole byte: the last byte's low bits stay as they were

    Cipher enc(keyHex, 128, tf::MODE_CFB1, ivHex);
    const Block cipherText = enc.encrypt(data, bits);
    // The first bit is the plaintext's leading bit XOR the leading bit of E(IV).
    const Block encryptedIv = Cipher(keyHex).encrypt(bytesOf(ivHex));
    EXPECT_EQ(cipherText[0] >> 7, (data[0] ^ encryptedIv[0]) >> 7);
    EXPECT_EQ(cipherText.back() & 0x1F, 0);

    Cipher split(keyHex, 128, tf::MODE_CFB1, ivHex);
    Block head(16), tail(10);
    ASSERT_EQ(blockEncrypt(&split.cipher, &split.key, data.data(), 128, head.data()), 128);
    ASSERT_EQ(blockEncrypt(&split.cipher, &split.key, data.data() + 16, bits - 128, tail.data()),
              bits - 128);
    head.insert(head.end(), tail.begin(), tail.end());
    EXPECT_EQ(head, cipherText);

    Cipher dec(keyHex, 128, tf::MODE_CFB1, ivHex);
    Block plain = dec.decrypt(cipherText, bits);
    EXPECT_EQ(Block(plain.begin(), plain.end() - 1), Block(data.begin(), data.end() - 1));
    EXPECT_EQ(plain.back() & 0xE0, data.back() & 0xE0);
}

TEST(Twofish, MakeKeyAndReKeyReturnCodes) {
    keyInstance key{};
    const char* hex128 = "00112233445566778899aabbccddeeff";
    EXPECT_EQ(makeKey(nullptr, 0, 128, hex128), tf::BAD_KEY_INSTANCE);
    EXPECT_EQ(makeKey(&key, 2, 128, hex128), tf::BAD_KEY_DIR);
    EXPECT_EQ(makeKey(&key, 0, 7, hex128), tf::BAD_KEY_MAT);
    EXPECT_EQ(makeKey(&key, 0, 257, hex128), tf::BAD_KEY_MAT);
    EXPECT_EQ(makeKey(&key, 0, 128, "00112233445566778899aabbccddeefg"), tf::BAD_KEY_MAT);
    EXPECT_EQ(makeKey(&key, 0, 128, "0011"), tf::BAD_KEY_MAT);  // text ends early
    EXPECT_EQ(key.keySig, 0u);
    // Only the first keyLen/4 characters count; the first digits are the
    // low byte.
    EXPECT_EQ(makeKey(&key, 1, 128, "00112233445566778899aabbccddeeff.xyz"), tf::TRUE);
    EXPECT_EQ(std::tuple(std::string(key.keyMaterial), key.keySig, key.direction, key.key32[0]),
              std::tuple(std::string(hex128), tf::VALID_SIG, std::uint8_t{1}, 0x33221100u));
    // Lengths round up to 64-bit multiples; 64 bits or fewer have no rounds.
    EXPECT_EQ(makeKey(&key, 0, 100, "0123456789abcdef012345678"), tf::TRUE);
    EXPECT_EQ(std::pair(key.keyLen, key.numRounds), std::pair(128, 16));
    EXPECT_EQ(makeKey(&key, 0, 64, "0123456789abcdef"), tf::BAD_KEY_INSTANCE);

    EXPECT_EQ(reKey(nullptr), tf::BAD_KEY_INSTANCE);
    ASSERT_EQ(makeKey(&key, 0, 128, hex128), tf::TRUE);
    key.numRounds = 18;
    EXPECT_EQ(reKey(&key), tf::BAD_KEY_INSTANCE);
    key.numRounds = 16;
    key.keyLen = 160;
    EXPECT_EQ(reKey(&key), tf::BAD_KEY_INSTANCE);
    key.keyLen = 192;  // a schedule for the same words read as a 192-bit key
    EXPECT_EQ(reKey(&key), tf::TRUE);
}

TEST(Twofish, CipherInitAndBlockReturnCodes) {
    cipherInstance cipher{};
    EXPECT_EQ(cipherInit(nullptr, tf::MODE_ECB, nullptr), tf::BAD_PARAMS);
    EXPECT_EQ(cipherInit(&cipher, 0, nullptr), tf::BAD_CIPHER_MODE);
    EXPECT_EQ(cipherInit(&cipher, 4, nullptr), tf::BAD_CIPHER_MODE);
    EXPECT_EQ(cipherInit(&cipher, tf::MODE_CBC, "000102030405060708090a0b0c0d0e0z"),
              tf::BAD_IV_MAT);
    EXPECT_EQ(cipherInit(&cipher, tf::MODE_ECB, "not read in ECB"), tf::TRUE);
    EXPECT_EQ(cipherInit(&cipher, tf::MODE_CBC, "000102030405060708090a0b0c0d0e0f"), tf::TRUE);
    EXPECT_EQ(std::pair(int{cipher.IV[15]}, cipher.iv32[0]), std::pair(0x0F, 0x03020100u));

    keyInstance key{};
    Block in(32, 1), out(32);
    // Uninitialised records first: the cipher is checked before the key.
    cipherInstance fresh{};
    EXPECT_EQ(blockEncrypt(&fresh, &key, in.data(), 128, out.data()), tf::BAD_CIPHER_STATE);
    EXPECT_EQ(blockDecrypt(nullptr, &key, in.data(), 128, out.data()), tf::BAD_CIPHER_STATE);
    ASSERT_EQ(cipherInit(&cipher, tf::MODE_ECB, nullptr), tf::TRUE);
    EXPECT_EQ(blockEncrypt(&cipher, &key, in.data(), 128, out.data()), tf::BAD_KEY_INSTANCE);
    EXPECT_EQ(blockDecrypt(&cipher, nullptr, in.data(), 128, out.data()), tf::BAD_KEY_INSTANCE);

    ASSERT_EQ(makeKey(&key, 0, 128, "00112233445566778899aabbccddeeff"), tf::TRUE);
    for (int rounds : {0, 7, 18}) {
        key.numRounds = rounds;
        EXPECT_EQ(blockEncrypt(&cipher, &key, in.data(), 128, out.data()), tf::BAD_KEY_INSTANCE)
            << rounds;
    }
    key.numRounds = 16;
    for (int bits : {100, 136, -128}) {
        EXPECT_EQ(blockEncrypt(&cipher, &key, in.data(), bits, out.data()), tf::BAD_INPUT_LEN);
        EXPECT_EQ(blockDecrypt(&cipher, &key, in.data(), bits, out.data()), tf::BAD_INPUT_LEN);
    }
    EXPECT_EQ(blockEncrypt(&cipher, &key, nullptr, 128, out.data()), tf::BAD_PARAMS);
    EXPECT_EQ(blockDecrypt(&cipher, &key, in.data(), 128, nullptr), tf::BAD_PARAMS);
    EXPECT_EQ(blockEncrypt(&cipher, &key, nullptr, 0, nullptr), 0);
    EXPECT_EQ(blockEncrypt(&cipher, &key, in.data(), 256, out.data()), 256);

    // Fewer rounds (a test setting of the record) still invert and differ.
    Block full(16), reduced(16), back(16);
    blockEncrypt(&cipher, &key, in.data(), 128, full.data());
    key.numRounds = 8;
    ASSERT_EQ(blockEncrypt(&cipher, &key, in.data(), 128, reduced.data()), 128);
    ASSERT_EQ(blockDecrypt(&cipher, &key, reduced.data(), 128, back.data()), 128);
    EXPECT_NE(reduced, full);
    EXPECT_EQ(back, Block(in.begin(), in.begin() + 16));
}

TEST(Twofish, TableUsageRecordsOnlyWhileEnabled) {
    keyInstance key{};
    EXPECT_EQ(TableOp(tf::TAB_RESET), tf::TRUE);
    ASSERT_EQ(makeKey(&key, 0, 128, "00112233445566778899aabbccddeeff"), tf::TRUE);
    EXPECT_EQ(tabUsed[0], 0) << "recorded while off";

    EXPECT_EQ(TableOp(tf::TAB_ENABLE), tf::TRUE);
    ASSERT_EQ(makeKey(&key, 0, 128, "00112233445566778899aabbccddeeff"), tf::TRUE);
    EXPECT_EQ(TableOp(tf::TAB_DISABLE), tf::TRUE);
    for (int query = 1; query < tf::TAB_MIN_QUERY; ++query)
        ASSERT_EQ(TableOp(tf::TAB_QUERY), tf::FALSE) << query;
    EXPECT_EQ(TableOp(tf::TAB_QUERY), tf::TRUE);  // a full key schedule uses every entry

    EXPECT_EQ(TableOp(tf::TAB_RESET), tf::TRUE);
    EXPECT_EQ(tabUsed[255], 0);
    for (int query = 1; query <= tf::TAB_MIN_QUERY; ++query)
        ASSERT_EQ(TableOp(tf::TAB_QUERY), tf::FALSE);
    EXPECT_EQ(TableOp(99), tf::TRUE);
}

}  // namespace
