// `qn encrypt64`, `qn decrypt64` and `qn newkey`: the Encrypt64 built-ins
// from the command line; and the demo's section on cryptography.

#include <qn/crypto.h>

#include <iostream>
#include <string>
#include <vector>

#include "commands.h"

namespace qntool {

using qn::QNEncryption;
using qn::String;
using qn::toUtf8;

namespace {

int usage(const char* text) {
    std::cerr << "usage: " << text << "\n";
    return 2;
}

}  // namespace

int runEncrypt64(const std::vector<std::string>& args) {
    if (args.size() != 2) return usage("qn encrypt64 TEXT KEY");
    const String result = QNEncryption::encrypt64Key(qn::fromUtf8(args[0]), qn::fromUtf8(args[1]));
    if (result.empty()) {
        std::cerr << "qn encrypt64: the key must be 32 hexadecimal digits\n";
        return 1;
    }
    std::cout << toUtf8(result) << "\n";
    return 0;
}

int runDecrypt64(const std::vector<std::string>& args) {
    if (args.size() != 2) return usage("qn decrypt64 BASE64 KEY");
    auto result = QNEncryption::decrypt64Key(qn::fromUtf8(args[0]), qn::fromUtf8(args[1]));
    if (!result) {
        std::cerr << "qn decrypt64: the text does not decrypt to UTF-8 with that key\n";
        return 1;
    }
    std::cout << toUtf8(*result) << "\n";
    return 0;
}

int runNewkey(const std::vector<std::string>& args) {
    if (!args.empty()) return usage("qn newkey");
    std::cout << toUtf8(QNEncryption::getNewKey()) << "\n";
    return 0;
}

void showCrypto(std::ostream& out) {
    // A fixed key keeps the demo's output the same from run to run.
    const String key = u"00112233445566778899aabbccddeeff";
    const String text = u"Viaje a Montevideo: 1250,50 \u20ac";
    const String sealed = QNEncryption::encrypt64Key(text, key);
    out << "   Encrypt64(\"" << toUtf8(text) << "\", " << toUtf8(key)
        << ")\n     = " << toUtf8(sealed) << "\n";
    out << "   Decrypt64 with the same key:       \""
        << toUtf8(QNEncryption::decrypt64Key(sealed, key).value_or(u"(not UTF-8)")) << "\"\n";
    out << "   the key in upper case, with a suffix: \""
        << toUtf8(QNEncryption::decrypt64Key(sealed, u"00112233445566778899AABBCCDDEEFF.v2")
                      .value_or(u"(not UTF-8)"))
        << "\"\n";
    auto wrong = QNEncryption::decrypt64Key(sealed, u"ffeeddccbbaa99887766554433221100");
    out << "   a wrong key:                       "
        << (wrong ? "\"" + toUtf8(*wrong) + "\"" : std::string("no text (not UTF-8)")) << "\n";
    out << "   a key of 31 digits:                \""
        << toUtf8(QNEncryption::encrypt64Key(text, key.substr(1))) << "\"\n";
    const String fresh = QNEncryption::getNewKey();
    out << "   GetNewKey:                         " << fresh.size()
        << " hexadecimal digits, new on every call ("
        << (fresh != QNEncryption::getNewKey() ? "two calls differ" : "two calls agree!") << ")\n";

    // AES with a key and vector of its own: sizes, and the round trip.
    qn::QNCryptoSymmetricEncrypt aes;
    const String cipherText = aes.encrypt(text);
    out << "   AES-256-CBC (new object): key " << aes.key().size() << " Base64 characters, iv "
        << aes.iv().size() << ", ciphertext " << cipherText.size() << "; decrypts back to \""
        << toUtf8(aes.decrypt(cipherText)) << "\" (errCode " << aes.errCode() << ")\n";
    qn::QNCryptoHash hash;
    hash.setAlgorithm(String(u"SHA256"));
    hash.compute(u"abc", u"");
    out << "   QNCryptoHash.compute: errCode " << hash.errCode() << " \""
        << toUtf8(hash.errDescription()) << "\"\n";
}

}  // namespace qntool
