#include <qn/crypto/encryption.h>

#include <qn/runtime/strings.h>

#include "core/ascii.h"
#include "core/base64.h"

#include <openssl/err.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace qn {
namespace {

namespace tf = qn::twofish;

constexpr std::size_t kBlockBytes = tf::BLOCK_SIZE / 8;
// Bytes per block call, so the length in bits always fits the API's int.
constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
constexpr std::size_t kKeyDigits = 32;

// The key text before the first ".", as NUL-terminated ASCII, when it is 32
// hexadecimal digits. Its UTF-8 form is then the same ASCII; any other text of
// 32 units would make makeKey refuse it, and a refused key is unusable.
bool keyDigits(StringView key, char (&digits)[kKeyDigits + 1]) {
    if (const std::size_t dot = key.find(u'.'); dot != StringView::npos) key = key.substr(0, dot);
    if (key.size() != kKeyDigits) return false;
    for (std::size_t i = 0; i < kKeyDigits; ++i) {
        if (!internal::isHexDigit(key[i])) return false;
        digits[i] = static_cast<char>(key[i]);
    }
    digits[kKeyDigits] = '\0';
    return true;
}

// The last key schedule made on this thread: generated code encrypts in loops
// with one key, and the schedule costs far more than a short text.
struct ScheduledKey {
    bool valid = false;
    tf::DWORD words[4] = {};
    keyInstance key;
};

bool makeKeyRecord(keyInstance& key, const char* digits, std::uint8_t direction) {
    return makeKey(&key, direction, 128, digits) == tf::TRUE;
}

const keyInstance* keyFor(StringView keyText, std::uint8_t direction) {
    char digits[kKeyDigits + 1];
    if (!keyDigits(keyText, digits)) return nullptr;
    tf::DWORD words[4];
    ParseHexDword(128, digits, words, nullptr);
    thread_local std::unique_ptr<ScheduledKey> last;
    if (!last) last = std::make_unique<ScheduledKey>();
    if (!last->valid || std::memcmp(last->words, words, sizeof words) != 0) {
        last->valid = makeKeyRecord(last->key, digits, direction);
        if (!last->valid) return nullptr;
        std::memcpy(last->words, words, sizeof words);
    }
    last->key.direction = direction;
    return &last->key;
}

// ECB over whole blocks in place; false when a block call refuses.
bool runBlocks(const keyInstance& key, bool encrypt, void* buffer, std::size_t size) {
    cipherInstance cipher;
    if (cipherInit(&cipher, tf::MODE_ECB, nullptr) != tf::TRUE) return false;
    auto* data = static_cast<std::uint8_t*>(buffer);
    for (std::size_t done = 0; done < size;) {
        const std::size_t n = std::min(size - done, kChunkBytes);
        const int bits = static_cast<int>(n * 8);
        const int answer = encrypt ? blockEncrypt(&cipher, &key, data + done, bits, data + done)
                                   : blockDecrypt(&cipher, &key, data + done, bits, data + done);
        if (answer != bits) return false;
        done += n;
    }
    return true;
}

// Pads with spaces to the next whole block (at least one byte of padding)
// and encrypts in place; empty when the key refuses.
template <class Buffer>
void padAndEncrypt(Buffer& buffer, const keyInstance& key) {
    buffer.resize((buffer.size() / kBlockBytes + 1) * kBlockBytes, ' ');
    if (!runBlocks(key, true, buffer.data(), buffer.size())) buffer.clear();
}

// Trailing blanks as qnStringByTrimmingRight removes them, without a copy.
StringView trimmedRight(StringView s) {
    return s.substr(0, static_cast<std::size_t>(qnLength(s)));
}

}  // namespace

String QNEncryption::getNewKey() {
    constexpr const char* kDigits = internal::kLowerHexDigits;
    std::uint8_t bytes[kKeyDigits / 2];
    if (RAND_bytes(bytes, sizeof bytes) != 1) {
        ERR_clear_error();
        return {};
    }
    String key(kKeyDigits, u'0');
    for (std::size_t i = 0; i < sizeof bytes; ++i) {
        key[2 * i] = static_cast<char16_t>(kDigits[bytes[i] >> 4]);
        key[2 * i + 1] = static_cast<char16_t>(kDigits[bytes[i] & 0xF]);
    }
    return key;
}

String QNEncryption::encrypt64Key(StringView text, StringView key) {
    const keyInstance* record = keyFor(key, tf::DIR_ENCRYPT);
    if (record == nullptr) return {};
    std::string buffer = toUtf8(text);
    padAndEncrypt(buffer, *record);
    return internal::base64String(buffer.data(), buffer.size());
}

std::optional<String> QNEncryption::decrypt64Key(StringView text, StringView key) {
    const keyInstance* record = keyFor(key, tf::DIR_DECRYPT);
    if (record == nullptr) return String();
    std::optional<std::string> bytes = internal::base64DecodeStrict(trimmedRight(text));
    if (!bytes || bytes->size() % kBlockBytes != 0) return String();
    if (!runBlocks(*record, false, bytes->data(), bytes->size())) bytes->clear();
    if (!isValidUtf8(*bytes)) return std::nullopt;
    String plain = fromUtf8(*bytes);
    plain.resize(trimmedRight(plain).size());
    return plain;
}

Bytes QNEncryption::encryptTwoFishKey(std::span<const std::uint8_t> bytes, const keyInstance& key) {
    Bytes buffer(bytes.begin(), bytes.end());
    padAndEncrypt(buffer, key);
    return buffer;
}

Bytes QNEncryption::decryptTwoFishKey(std::span<const std::uint8_t> bytes, const keyInstance& key) {
    if (bytes.size() % kBlockBytes != 0) return {};
    Bytes buffer(bytes.begin(), bytes.end());
    if (!runBlocks(key, false, buffer.data(), buffer.size())) buffer.clear();
    return buffer;
}

std::unique_ptr<std::uint8_t[]> QNEncryption::newByteArrayFromStringArrayLength(
    StringView text, std::size_t& length) {
    const std::string utf8 = toUtf8(text);
    length = utf8.size();
    auto array = std::make_unique_for_overwrite<std::uint8_t[]>(length);
    std::memcpy(array.get(), utf8.data(), length);
    return array;
}

std::optional<keyInstance> QNEncryption::keyInstanceFromKeyStringDirection(StringView key,
                                                                           std::uint8_t direction) {
    char digits[kKeyDigits + 1];
    if (!keyDigits(key, digits)) return std::nullopt;
    std::optional<keyInstance> record(std::in_place);
    if (!makeKeyRecord(*record, digits, direction)) return std::nullopt;
    return record;
}

}  // namespace qn
