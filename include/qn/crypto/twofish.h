// Twofish, the 128-bit block cipher behind Encrypt64, with the calling
// interface of the AES candidate API (makeKey, cipherInit, blockEncrypt,
// blockDecrypt) and that API's key and cipher records.
//
// Generated code and older callers reach the cipher through these C names and
// records, so they keep the exact field order and the numeric return codes
// callers compare against. The key schedule ("full keying") folds the
// key-dependent S-boxes and the MDS matrix into four 256-entry tables held in
// the key record, so encrypting a block costs table look-ups only; a key
// record is about 4.4 KB and is best made once and reused.
//
// Constants: the API's names (DIR_ENCRYPT, MODE_CBC, BAD_KEY_MAT, ...) are
// `inline constexpr` values in namespace qn::twofish rather than macros, so
// they cannot collide with other C headers. TRUE, FALSE and BLOCK_SIZE are
// macros in several common headers; this header shields its own declarations
// from them, but where such a macro is in scope at the call site, use its
// value (TRUE is 1, BLOCK_SIZE is 128) or include this header's names
// before that header. BYTE and DWORD are aliases in the same namespace only,
// never global typedefs.
//
// Thread-safety: the functions keep no state of their own. A key record is
// immutable once made and may be shared by any number of threads; a cipher
// record carries the running vector of CBC and CFB1 and belongs to one
// thread at a time. The table-usage record (tabEnable, tabUsed, TableOp) is
// a test aid: nothing touches it while recording is off (the default), and
// recording itself is race-free among the module's own functions (atomic
// updates). Writing tabEnable or tabUsed directly while other threads use the
// module is outside that guarantee; use TableOp.
#pragma once

#include <qn/export.h>

#include <cstdint>

namespace qn::twofish {

using BYTE = std::uint8_t;
using DWORD = std::uint32_t;

#pragma push_macro("TRUE")
#pragma push_macro("FALSE")
#pragma push_macro("BLOCK_SIZE")
#undef TRUE
#undef FALSE
#undef BLOCK_SIZE

inline constexpr int TRUE = 1;
inline constexpr int FALSE = 0;

// Key direction and cipher modes.
inline constexpr BYTE DIR_ENCRYPT = 0;
inline constexpr BYTE DIR_DECRYPT = 1;
inline constexpr BYTE MODE_ECB = 1;
inline constexpr BYTE MODE_CBC = 2;
inline constexpr BYTE MODE_CFB1 = 3;

// Return codes (success is TRUE, or the input length for the block functions).
inline constexpr int BAD_KEY_DIR = -1;       // direction not 0 or 1
inline constexpr int BAD_KEY_MAT = -2;       // key length or key text unusable
inline constexpr int BAD_KEY_INSTANCE = -3;  // no key record, or not ready for use
inline constexpr int BAD_CIPHER_MODE = -4;   // mode not ECB, CBC or CFB1
inline constexpr int BAD_CIPHER_STATE = -5;  // cipher record missing or not initialised
inline constexpr int BAD_INPUT_LEN = -6;     // length negative or not whole blocks
inline constexpr int BAD_PARAMS = -7;        // missing cipher record or buffer
inline constexpr int BAD_IV_MAT = -8;        // vector text not hexadecimal

// Sizes: bits for blocks and keys, hexadecimal digits for MAX_KEY_SIZE,
// bytes for MAX_IV_SIZE.
inline constexpr int BLOCK_SIZE = 128;
inline constexpr int MAX_ROUNDS = 16;
inline constexpr int ROUNDS_128 = 16;
inline constexpr int ROUNDS_192 = 16;
inline constexpr int ROUNDS_256 = 16;
inline constexpr int MIN_KEY_BITS = 128;
inline constexpr int MAX_KEY_BITS = 256;
inline constexpr int MAX_KEY_SIZE = 64;
inline constexpr int MAX_IV_SIZE = 16;

// "FISH" in memory: the mark of an initialised record.
inline constexpr DWORD VALID_SIG = 0x48534946;

// Subkey layout and key schedule constants.
inline constexpr int INPUT_WHITEN = 0;
inline constexpr int OUTPUT_WHITEN = 4;
inline constexpr int ROUND_SUBKEYS = 8;
inline constexpr int TOTAL_SUBKEYS = ROUND_SUBKEYS + 2 * MAX_ROUNDS;
inline constexpr DWORD SK_STEP = 0x02020202;
inline constexpr DWORD SK_BUMP = 0x01010101;
inline constexpr int SK_ROTL = 9;
inline constexpr unsigned RS_GF_FDBK = 0x14D;   // Reed-Solomon field polynomial
inline constexpr unsigned MDS_GF_FDBK = 0x169;  // MDS field polynomial

// TableOp operation codes.
inline constexpr int TAB_DISABLE = 0;
inline constexpr int TAB_ENABLE = 1;
inline constexpr int TAB_RESET = 2;
inline constexpr int TAB_QUERY = 3;
inline constexpr int TAB_MIN_QUERY = 50;

#pragma pop_macro("BLOCK_SIZE")
#pragma pop_macro("FALSE")
#pragma pop_macro("TRUE")

}  // namespace qn::twofish

extern "C" {

// The key record. Filled by makeKey (and reKey); immutable afterwards.
struct keyInstance {
    qn::twofish::BYTE direction;                      // DIR_ENCRYPT or DIR_DECRYPT
    int keyLen;                                       // bits, rounded up to a multiple of 64
    char keyMaterial[qn::twofish::MAX_KEY_SIZE + 4];  // the key text read, NUL-terminated
    qn::twofish::DWORD keySig;                        // VALID_SIG once usable
    int numRounds;                                    // 16 for every valid key length
    qn::twofish::DWORD key32[qn::twofish::MAX_KEY_BITS / 32];     // the key, little-endian
    qn::twofish::DWORD sboxKeys[qn::twofish::MAX_KEY_BITS / 64];  // Reed-Solomon words, last first
    qn::twofish::DWORD subKeys[qn::twofish::TOTAL_SUBKEYS];       // whitening and round subkeys
    qn::twofish::DWORD sBox8x32[4][256];  // key-dependent S-boxes times the MDS columns
};

// The cipher record: the mode and, for CBC and CFB1, the running vector
// (kept both as bytes and as little-endian words).
struct cipherInstance {
    qn::twofish::BYTE mode;
    qn::twofish::BYTE IV[qn::twofish::MAX_IV_SIZE];
    qn::twofish::DWORD cipherSig;
    qn::twofish::DWORD iv32[qn::twofish::MAX_IV_SIZE / 4];
};

// Makes a key record from `keyLen` bits (8..256) of hexadecimal key text.
// TRUE; BAD_KEY_INSTANCE without a record or when the key schedule refuses
// the length (64 bits or fewer); BAD_KEY_DIR; BAD_KEY_MAT for a length
// outside 8..256 or a non-hexadecimal character among the first keyLen/4.
// Absent or empty text gives the all-zero key. A refused record is left
// unusable (the block functions answer BAD_KEY_INSTANCE).
QN_API int makeKey(keyInstance* key, std::uint8_t direction, int keyLen, const char* keyMaterial);

// Recomputes the S-box words, subkeys and tables from key32 and keyLen.
// TRUE, or BAD_KEY_INSTANCE for more than 16 rounds, a length below 128 or
// not a multiple of 64 (the record is then left unusable).
QN_API int reKey(keyInstance* key);

// Sets the mode and, for CBC and CFB1, the vector from 32 hexadecimal digits
// (absent: all zero). TRUE, BAD_PARAMS, BAD_CIPHER_MODE or BAD_IV_MAT.
QN_API int cipherInit(cipherInstance* cipher, std::uint8_t mode, const char* IV);

// Encrypt or decrypt `inputLen` bits (whole 128-bit blocks except in CFB1)
// from `input` to `outBuffer`, which may be the same buffer. CBC and CFB1
// advance the record's vector, so consecutive calls continue one stream.
// The input length in bits, or BAD_CIPHER_STATE, BAD_KEY_INSTANCE (record not
// ready, rounds not even in 2..16), BAD_INPUT_LEN (negative, or not whole
// blocks), BAD_PARAMS (a missing buffer for a non-empty input).
QN_API int blockEncrypt(cipherInstance* cipher, const keyInstance* key, const std::uint8_t* input,
                        int inputLen, std::uint8_t* outBuffer);
QN_API int blockDecrypt(cipherInstance* cipher, const keyInstance* key, const std::uint8_t* input,
                        int inputLen, std::uint8_t* outBuffer);

// Twofish's g function of `x` for the key words `k32` (the h function, then
// the MDS matrix). `keyLen` bits pick 2, 3 or 4 words; 128 or less uses 2.
QN_API std::uint32_t f32(std::uint32_t x, const std::uint32_t* k32, int keyLen);

// The Reed-Solomon remainder for the key pair (k0, k1): one S-box key word.
QN_API std::uint32_t RS_MDS_Encode(std::uint32_t k0, std::uint32_t k1);

// Reads `bits` bits of hexadecimal text into little-endian words `d` (two
// digits per byte, high nibble first), zeroing the words first, and copies
// the digits to `dstTxt` when given. 0, or BAD_KEY_MAT at the first
// non-hexadecimal character (or without text or words).
QN_API int ParseHexDword(int bits, const char* srcTxt, std::uint32_t* d, char* dstTxt);

// The table-usage test aid. While recording, every look-up of the fixed
// permutations q0/q1 sets a bit in tabUsed at the byte looked up: bit
// 2*stage + q, where stage 0 is the input side of the h function, 2 the
// output side and 1 the stages between. Operations: TAB_DISABLE (0) and
// TAB_ENABLE (1) stop and start recording; TAB_RESET (2) clears tabUsed and
// the query count; TAB_QUERY (3) counts a query and answers TRUE only when
// every entry is 63 and at least 50 queries were made since the last clear;
// any other code answers TRUE.
QN_API int TableOp(int op);

QN_API extern const int numRounds[4];  // rounds by (key bits - 1) / 64
QN_API extern const char moduleDescription[];
QN_API extern const char modeString[];
QN_API extern const std::uint8_t P8x8[2][256];  // the permutations q0 and q1
QN_API extern int tabEnable;
QN_API extern std::uint8_t tabUsed[256];

}  // extern "C"
