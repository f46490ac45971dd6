// Cryptography: Encrypt64 on the library's Twofish, and the crypto objects
// (hashing, symmetric and asymmetric encryption, certificates) on OpenSSL.
#pragma once

#include <qn/crypto/certificate.h>
#include <qn/crypto/crypto_error.h>
#include <qn/crypto/encryption.h>
#include <qn/crypto/hash.h>
#include <qn/crypto/symmetric.h>
#include <qn/crypto/twofish.h>
