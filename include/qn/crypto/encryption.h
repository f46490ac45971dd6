// Encrypt64 and Decrypt64: the built-in symmetric encryption of generated
// code. A text is encrypted with a shared 128-bit key given as 32 hexadecimal
// digits and travels as Base64 text.
//
// The ciphertext format is fixed because stored data and server peers read
// it: the text's UTF-8 bytes, padded with spaces to the next whole 16-byte
// block (always at least one space), encrypted block by block with Twofish in
// ECB mode, then standard Base64. Decryption drops trailing blanks, so
// trailing spaces of the original text do not survive the round trip.
//
// Key text: everything from the first "." on is ignored; what remains must be
// exactly 32 UTF-16 units, all hexadecimal digits (either case). Any other key
// is unusable and both directions answer "". A decoded ciphertext that is
// not a whole number of blocks is not something Encrypt64 produced, so it
// counts as undecodable and also gives "".
//
// Thread-safety: all operations are static and may run on any thread at
// once. Each thread keeps the schedule of the last key it used, so calls in
// a loop with one key do not pay for the key schedule again.
#pragma once

#include <qn/core/string.h>
#include <qn/crypto/twofish.h>
#include <qn/export.h>
#include <qn/value.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace qn {

class QN_API QNEncryption {
public:
    // A fresh random key: 32 lower-case hexadecimal digits from the system's
    // secure random generator; "" in the unlikely case that it fails.
    static String getNewKey();

    // Base64 of the ciphertext of `text`, or "" when the key is unusable.
    static String encrypt64Key(StringView text, StringView key);

    // The plain text with trailing blanks removed; "" for an unusable key or
    // Base64 text that does not decode to whole blocks (trailing blanks of the
    // Base64 text are ignored, anything else outside its alphabet is not);
    // absent when the decrypted bytes are not UTF-8, as with a wrong key.
    static std::optional<String> decrypt64Key(StringView text, StringView key);

    // The ciphertext of `bytes` padded with spaces to whole blocks; empty
    // when the key record is not usable.
    static Bytes encryptTwoFishKey(std::span<const std::uint8_t> bytes, const keyInstance& key);

    // The decrypted blocks, padding included; empty when `bytes` is not a
    // whole number of blocks or the key record is not usable.
    static Bytes decryptTwoFishKey(std::span<const std::uint8_t> bytes, const keyInstance& key);

    // A new array holding the UTF-8 form of `text` (no terminator); `length`
    // receives its size in bytes. The caller owns the array.
    static std::unique_ptr<std::uint8_t[]> newByteArrayFromStringArrayLength(StringView text,
                                                                             std::size_t& length);

    // A 128-bit key record for the key text (suffix removed as above) and
    // direction (0 encrypt, 1 decrypt); absent when the key is unusable.
    static std::optional<keyInstance> keyInstanceFromKeyStringDirection(StringView key,
                                                                        std::uint8_t direction);
};

}  // namespace qn
