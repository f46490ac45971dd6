// The crypto objects: error pairs, hashing, symmetric ciphers (checked
// against the openssl command line) and RSA-OAEP with certificates made by
// OpenSSL in each run.
#include <qn/crypto.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/proverr.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "core/base64.h"
#include "crypto/openssl_base64.h"
#include "crypto/openssl_error.h"
#include "support/test_support.h"

namespace qn {
namespace {

const String kText = u"Grüße, 世界! 🎉 plain ASCII too";

using test::base64;
using test::bytesOf;

std::size_t decodedSize(StringView text) {
    return bytesOf(text).size();
}

TEST(CryptoErrorTest, FactoriesCrossingOpenSSLErrorsAndHashesThatAreInvalidAlgorithms) {
    const auto status =
        QNCryptoError::QNCryptoSymmetricErrorTemplate_CouldNotPerformOperation(-4301);
    EXPECT_EQ(status->code(), 202);
    EXPECT_EQ(status->desc(), u"Could not perform operation (-4301)");

    const auto platform = QNCryptoError::cryptoErrorFromNSError(QNError(u"D", -25, u"went wrong"));
    EXPECT_EQ(platform->code(), 975);
    EXPECT_EQ(platform->desc(), u"Error: went wrong");

    const auto a = QNCryptoError::QNCryptoError_NotImplemented();
    const auto b = QNCryptoError::QNCryptoError_NotImplemented();
    a->setCode(1);
    a->setDesc(u"changed");
    EXPECT_EQ(b->code(), 11);
    EXPECT_EQ(b->desc(), u"Algorithm not implemented");

    // The first queued error is taken and the queue left empty.
    ERR_clear_error();
    EXPECT_FALSE(internal::takeOpenSSLError());
    EXPECT_EQ(EVP_CIPHER_fetch(nullptr, "NO-SUCH-CIPHER", nullptr), nullptr);
    const std::optional<QNError> error = internal::takeOpenSSLError();
    ASSERT_TRUE(error);
    EXPECT_NE(error->code(), 0);
    EXPECT_NE(error->localizedDescription().find(u"unsupported"), String::npos);
    EXPECT_EQ(ERR_peek_error(), 0u);

    QNCryptoHash hash;
    for (const std::optional<String>& name :
         {std::optional<String>(), std::optional<String>(u"SHA256")}) {
        hash.setAlgorithm(name);
        EXPECT_EQ(hash.compute(u"abc", u""), u"");
        EXPECT_EQ(test::errorOf(hash), test::ErrorPair(103, u"Specified algorithm is not valid"));
    }
}

TEST(SymmetricEncryptTest, AlgorithmsSizesAndRoundTrips) {
    struct Case {
        std::optional<String> name;
        std::int64_t keySize;
        std::size_t keyBytes, blockBytes;
    };
    const Case cases[] = {
        {std::nullopt, 0, 32, 16}, {u"", 0, 32, 16},         {u"Twofish", 16, 32, 16},
        {u"DES", 0, 8, 8},         {u"TripleDES", 0, 24, 8}, {u"Rijndael", 16, 16, 16},
        {u"Rijndael", 24, 24, 16}, {u"Rijndael", 0, 32, 16}, {u"rijndael", 16, 32, 16}};
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.name.value_or(u"(absent)")) + " " + std::to_string(c.keySize));
        QNCryptoSymmetricEncrypt cipher;
        cipher.setAlgorithm(c.name);
        cipher.setKeySize(c.keySize);
        EXPECT_EQ(cipher.keySizeInBits(), std::int64_t(c.keyBytes * 8));
        EXPECT_EQ(cipher.blockSizeInBits(), std::int64_t(c.blockBytes * 8));
        EXPECT_EQ(decodedSize(cipher.key()), c.keyBytes);
        EXPECT_EQ(decodedSize(cipher.iv()), c.blockBytes);

        EXPECT_EQ(decodedSize(cipher.encrypt(u"")), c.blockBytes);
        EXPECT_EQ(decodedSize(cipher.encrypt(u"0123456789abcdef")), 16 + c.blockBytes);
        for (const String& text : {String(), kText}) {
            EXPECT_EQ(cipher.decrypt(cipher.encrypt(text)), text);
            EXPECT_EQ(cipher.errCode(), 0);
        }
    }

    QNCryptoSymmetricEncrypt other;
    EXPECT_NE(other.key(), QNCryptoSymmetricEncrypt().key());
    other.setKeySizeInBits(130);
    EXPECT_EQ(other.keySize(), 16);
}

TEST(SymmetricEncryptTest, FailuresGiveTheirErrorPairs) {
    QNCryptoSymmetricEncrypt cipher;
    cipher.setAlgorithm(u"DES");
    const String desKey = cipher.key();
    cipher.setAlgorithm(u"TripleDES");
    EXPECT_EQ(cipher.key(), desKey);
    EXPECT_EQ(cipher.encrypt(u"text"), u"");
    EXPECT_EQ(test::errorOf(cipher), test::ErrorPair(201, u"Invalid Key length"));

    // Not Base64: no cipher run, and a failure of its own.
    EXPECT_EQ(cipher.decrypt(u"abc"), u"");
    EXPECT_EQ(test::errorOf(cipher), test::ErrorPair(102, u"Could not read input string"));

    QNCryptoSymmetricEncrypt aes;
    EXPECT_EQ(aes.decrypt(base64("12345")), u"");
    EXPECT_EQ(aes.errCode(), 202);

    // A wrong key (fixed, so the padding check fails in every run) is
    // OpenSSL's bad-decrypt, its packed code in the text.
    QNCryptoSymmetricEncryptAES256Algorithm algorithm;
    const String right = base64(std::string(32, 'k'));
    const String wrong = base64(std::string(32, 'w'));
    const String vector = base64(std::string(16, 'v'));
    const std::optional<String> sealed = algorithm.encryptString(kText, right, vector);
    ASSERT_TRUE(sealed);
    EXPECT_EQ(algorithm.decryptString(*sealed, right, vector), kText);
    EXPECT_FALSE(algorithm.decryptString(*sealed, wrong, vector));
    ASSERT_TRUE(algorithm.error());
    EXPECT_EQ(algorithm.error()->desc(),
              u"Could not perform operation (" +
                  asciiString(std::to_string(ERR_PACK(ERR_LIB_PROV, 0, PROV_R_BAD_DECRYPT))) +
                  u")");
    // Key material that is not Base64 is refused as such, for both calls.
    EXPECT_FALSE(algorithm.encryptString(kText, u"not base64", vector));
    EXPECT_EQ(algorithm.error()->code(), 5);
    EXPECT_FALSE(algorithm.decryptString(*sealed, right, String(u"not base64")));
    EXPECT_EQ(algorithm.error()->desc(), u"Invalid key");

    // Bytes that are no UTF-8, sealed with the right key by OpenSSL itself:
    // the cipher run succeeds, yet there is no text to answer.
    unsigned char out[32];
    int written = 0, last = 0;
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    const std::string keyBytes(32, 'k'), vectorBytes(16, 'v'), plain("\xff\xfe text");
    ASSERT_EQ(EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr,
                                 reinterpret_cast<const unsigned char*>(keyBytes.data()),
                                 reinterpret_cast<const unsigned char*>(vectorBytes.data())),
              1);
    ASSERT_EQ(EVP_EncryptUpdate(ctx.get(), out, &written,
                                reinterpret_cast<const unsigned char*>(plain.data()),
                                static_cast<int>(plain.size())),
              1);
    ASSERT_EQ(EVP_EncryptFinal_ex(ctx.get(), out + written, &last), 1);
    const std::string sealedBytes(reinterpret_cast<const char*>(out),
                                  static_cast<std::size_t>(written + last));
    EXPECT_FALSE(algorithm.decryptString(base64(sealedBytes), right, vector));
    EXPECT_EQ(algorithm.error()->code(), 305);
    EXPECT_EQ(algorithm.error()->desc(), u"Could not decrypt text");
}

std::string hex(StringView base64) {
    std::string out;
    for (unsigned char byte : bytesOf(base64)) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", byte);
        out += digits;
    }
    return out;
}

TEST(SymmetricEncryptTest, MatchesOpenSSLCommandLine) {
    // Long runs of ASCII and of non-ASCII (surrogate pairs across every
    // 4096-unit boundary, a lone surrogate) besides the short text.
    String mixed(5000, u'a');
    mixed += u"é";
    for (int i = 0; i < 3000; ++i)
        mixed += u"🎉";
    mixed += char16_t(0xD800);
    mixed += u"ü tail";
    test::TempDir dir;
    QNCryptoSymmetricEncrypt cipher;
    for (const String& text : {kText, mixed}) {
        const auto plain = dir.write("plain.txt", toUtf8(text));
        const auto sealed = dir.path() / "sealed.txt";
        const std::string command = "openssl enc -aes-256-cbc -K " + hex(cipher.key()) + " -iv " +
                                    hex(cipher.iv()) + " -base64 -A -in '" + plain.string() +
                                    "' -out '" + sealed.string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
        std::string expected = test::readFile(sealed);
        while (!expected.empty() && expected.back() == '\n')
            expected.pop_back();
        // Compared whole, reported briefly: the texts run to 30 KB.
        EXPECT_TRUE(toUtf8(cipher.encrypt(text)) == expected) << text.size() << " units";
    }
}

// The library's Base64 writer (keys, ciphertexts, files), narrow and UTF-16,
// against OpenSSL's for every length around its six-byte steps.
TEST(SymmetricEncryptTest, Base64OfEveryLengthMatchesOpenSSL) {
    std::string bytes;
    for (int i = 0; i < 40; ++i) {
        std::string narrow = "<";
        String wide = u"<";
        internal::appendBase64(narrow, bytes.data(), bytes.size());
        internal::appendBase64(wide, bytes.data(), bytes.size());
        EXPECT_EQ(wide, u"<" + base64(bytes)) << i << " bytes";
        EXPECT_EQ(narrow, "<" + toUtf8(base64(bytes))) << i << " bytes";
        bytes += static_cast<char>(i * 97 + 251);
    }
}

TEST(SymmetricEncryptTest, MissingLegacyProviderFailsDESOnly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("OPENSSL_MODULES", "/nonexistent", 1);
            QNCryptoSymmetricEncrypt des;
            des.setAlgorithm(u"DES");
            const bool failed = des.encrypt(u"x").empty() && des.errCode() == 202;
            QNCryptoSymmetricEncrypt aes;
            const bool aesWorks = !aes.encrypt(u"x").empty();
            std::exit(failed && aesWorks ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------------------
// Certificates

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;

X509Ptr selfSigned(EVP_PKEY* key) {
    X509Ptr certificate(X509_new(), X509_free);
    X509* c = certificate.get();
    X509_set_version(c, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(c), 1);
    X509_gmtime_adj(X509_getm_notBefore(c), 0);
    X509_gmtime_adj(X509_getm_notAfter(c), 3600);
    X509_set_pubkey(c, key);
    X509_NAME* name = X509_get_subject_name(c);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("qn test"), -1, -1, 0);
    X509_set_issuer_name(c, name);
    if (X509_sign(c, key, EVP_sha256()) == 0) return {nullptr, X509_free};
    return certificate;
}

// Writes <stem>.cer (DER) and <stem>.pfx (password "secret") for `key`.
void writeCertificateFiles(const test::TempDir& dir, const std::string& stem, EVP_PKEY* key) {
    const auto certificate = selfSigned(key);
    ASSERT_TRUE(certificate);
    unsigned char* der = nullptr;
    const int derSize = i2d_X509(certificate.get(), &der);
    ASSERT_GT(derSize, 0);
    dir.write(stem + ".cer", std::string(reinterpret_cast<char*>(der), derSize));
    OPENSSL_free(der);

    std::unique_ptr<PKCS12, decltype(&PKCS12_free)> bundle(
        PKCS12_create("secret", "qn", key, certificate.get(), nullptr, 0, 0, 0, 0, 0), PKCS12_free);
    ASSERT_TRUE(bundle);
    unsigned char* bytes = nullptr;
    const int size = i2d_PKCS12(bundle.get(), &bytes);
    ASSERT_GT(size, 0);
    dir.write(stem + ".pfx", std::string(reinterpret_cast<char*>(bytes), size));
    OPENSSL_free(bytes);
}

class CertificateTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new test::TempDir;
        KeyPtr rsa(EVP_RSA_gen(2048), EVP_PKEY_free), ec(EVP_EC_gen("P-256"), EVP_PKEY_free);
        ASSERT_TRUE(rsa && ec);
        writeCertificateFiles(*dir_, "rsa", rsa.get());
        writeCertificateFiles(*dir_, "ec", ec.get());
        const std::string pfx = test::readFile(dir_->path() / "rsa.pfx");
        for (const char* name : {"upper.PFX", "rsa.p12", "rsa.crt"})
            dir_->write(name, pfx);
        dir_->write("garbage.cer", "not a certificate");
    }
    static void TearDownTestSuite() { delete dir_; }

    static String path(const std::string& name) { return fromUtf8((dir_->path() / name).string()); }

    static Ref<QNCryptoCertificate> loaded(const std::string& name,
                                           std::optional<String> password = u"secret") {
        auto certificate = makeRef<QNCryptoCertificate>();
        EXPECT_EQ(certificate->load(path(name), password), 0);
        return certificate;
    }

    static QNCryptoAsymmetricEncrypt with(Ref<QNCryptoCertificate> certificate) {
        QNCryptoAsymmetricEncrypt rsa;
        rsa.setCertificate(std::move(certificate));
        return rsa;
    }

    static inline test::TempDir* dir_ = nullptr;
};

TEST_F(CertificateTest, LoadOutcomes) {
    QNCryptoCertificate certificate;
    EXPECT_EQ(certificate.load(std::nullopt, u"secret"), 204);
    EXPECT_EQ(certificate.errDescription(), u"Could not find certificate's file");
    for (const char* name : {"rsa.p12", "rsa.crt"}) {
        EXPECT_EQ(certificate.load(path(name), u"secret"), 203);
        EXPECT_EQ(certificate.errDescription(), u"Unsupported certificate type");
    }

    EXPECT_TRUE(loaded("rsa.pfx")->hasIdentity());
    EXPECT_TRUE(loaded("upper.PFX")->hasTrust());
    EXPECT_TRUE(loaded("rsa.cer")->hasCertificate());
    // Each failure loads nothing, also after an earlier success, and says why
    // at once: a missing password or file by its code, a wrong password or a
    // file that is no certificate by OpenSSL's error.
    ASSERT_EQ(certificate.load(path("rsa.pfx"), u"secret"), 0);
    const std::tuple<std::string, std::optional<String>, std::int64_t> failures[] = {
        {"rsa.pfx", u"wrong", -1},
        {"rsa.pfx", std::nullopt, 302},
        {"missing.pfx", u"secret", 204},
        {"garbage.cer", std::nullopt, -1}};
    for (const auto& [name, password, code] : failures) {
        const std::int64_t answer = certificate.load(path(name), password);
        EXPECT_EQ(answer, certificate.errCode()) << name;
        if (code > 0) {
            EXPECT_EQ(answer, code) << name;
        } else {
            EXPECT_GT(answer, 1000) << name;
            EXPECT_EQ(certificate.errDescription().rfind(u"Error: ", 0), 0u) << name;
        }
        EXPECT_FALSE(certificate.hasIdentity() || certificate.hasTrust() ||
                     certificate.hasCertificate())
            << name;
    }

    // A bundle resource of that name comes before the file system.
    test::ScopedBundle bundle(dir_->path());
    EXPECT_EQ(certificate.load(u"rsa.pfx", u"secret"), 0);
    EXPECT_TRUE(certificate.hasIdentity());

    certificate.fromBase64(u"AAAA");
    EXPECT_EQ(certificate.errCode(), 11);
}

TEST_F(CertificateTest, RoundTripAndBlockRules) {
    auto rsa = with(loaded("rsa.pfx"));
    // Success clears an earlier error pair.
    rsa.setErrCode(42);
    rsa.setErrDescription(u"before");
    const String sealed = rsa.encrypt(kText);
    EXPECT_EQ(test::errorOf(rsa), test::ErrorPair(0, u""));
    EXPECT_EQ(decodedSize(sealed), 256u);
    EXPECT_NE(rsa.encrypt(kText), sealed);  // OAEP is randomised
    rsa.setErrCode(42);
    EXPECT_EQ(rsa.decrypt(sealed), kText);
    EXPECT_EQ(test::errorOf(rsa), test::ErrorPair(0, u""));

    // Public key from the DER file, private key from the bundle.
    EXPECT_EQ(rsa.decrypt(with(loaded("rsa.cer")).encrypt(u"from the DER file")),
              u"from the DER file");

    // OAEP-SHA-256 holds at most 256 - 66 bytes.
    EXPECT_EQ(decodedSize(rsa.encrypt(String(190, u'a'))), 256u);
    EXPECT_EQ(rsa.encrypt(String(191, u'a')), u"");
    EXPECT_GT(rsa.errCode(), 1000);
    EXPECT_EQ(rsa.errDescription().rfind(u"Error: ", 0), 0u);

    // Not one key block: "" and the decryption failure.
    const std::string bytes = bytesOf(sealed);
    for (const std::string& wrongSize : {bytes.substr(1), bytes + "x", std::string()}) {
        rsa.setErrCode(0);
        EXPECT_EQ(rsa.decrypt(base64(wrongSize)), u"");
        EXPECT_EQ(test::errorOf(rsa), test::ErrorPair(305, u"Could not decrypt text"));
    }
    std::string tampered = bytes;
    tampered[100] ^= 1;
    EXPECT_EQ(rsa.decrypt(base64(tampered)), u"");
    EXPECT_GT(rsa.errCode(), 1000);
}

TEST_F(CertificateTest, MissingAndUnsuitableKeys) {
    test::ScopedCapturingLogger log;
    QNCryptoAsymmetricEncrypt none;
    EXPECT_EQ(none.encrypt(u"x"), u"");
    EXPECT_EQ(none.errCode(), 301);
    EXPECT_EQ(none.decrypt(u"x"), u"");
    EXPECT_EQ(none.errCode(), 302);

    auto unloaded = makeRef<QNCryptoCertificate>();
    EXPECT_GT(unloaded->load(path("rsa.pfx"), u"wrong"), 1000);
    auto wrongPassword = with(unloaded);
    EXPECT_EQ(wrongPassword.encrypt(u"x"), u"");
    EXPECT_EQ(wrongPassword.errCode(), 301);
    EXPECT_TRUE(log->contains(u"Certificate object not available"));

    auto publicOnly = with(loaded("rsa.cer"));
    const String sealed = publicOnly.encrypt(u"x");
    EXPECT_EQ(decodedSize(sealed), 256u);
    EXPECT_EQ(publicOnly.decrypt(sealed), u"");
    EXPECT_EQ(test::errorOf(publicOnly),
              test::ErrorPair(302, u"Could not get private key from certificate"));
    EXPECT_TRUE(log->contains(u"Identity object not available"));

    auto ecPublic = with(loaded("ec.cer"));
    EXPECT_EQ(ecPublic.encrypt(u"x"), u"");
    EXPECT_EQ(ecPublic.errCode(), 303);
    auto ecIdentity = with(loaded("ec.pfx"));
    EXPECT_EQ(ecIdentity.decrypt(sealed), u"");
    EXPECT_EQ(ecIdentity.errCode(), 303);
    EXPECT_EQ(ecIdentity.errDescription(),
              u"Specified algorithm is not valid for current certificate");
}

}  // namespace
}  // namespace qn
