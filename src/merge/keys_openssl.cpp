// SPDX-License-Identifier: MIT
// keys_openssl.cpp: keys read and signatures made and checked with OpenSSL's
// libcrypto.
#include "merge/keys.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

extern const bool keys_sign = true;

static bool refuse(char (&why)[160], const char *what)
{
    snprintf(why, sizeof why, "%s", what);
    ERR_clear_error();
    return false;
}

bool key_parse(signing_key_t *key, const uint8_t *bytes, size_t size, char (&why)[160])
{
    *key = signing_key_t{};
    const char *text = reinterpret_cast<const char *>(bytes);
    auto holds = [&](const char *label) {
        size_t n = strlen(label);
        for (size_t i = 0; i + n <= size; i++)
            if (memcmp(text + i, label, n) == 0)
                return true;
        return false;
    };
    if (holds("ENCRYPTED"))
        return refuse(why, "an encrypted key; give its key unencrypted (openssl pkey -in KEY -out PLAIN)");
    BIO *bio = BIO_new_mem_buf(bytes, int(size));
    // no password callback: an encrypted key is refused above, not asked for
    EVP_PKEY *pkey = bio == nullptr ? nullptr : PEM_read_bio_PrivateKey(bio, nullptr, nullptr, const_cast<char *>(""));
    key->is_private = pkey != nullptr;
    if (pkey == nullptr && bio != nullptr && BIO_reset(bio) > 0)
        pkey = PEM_read_bio_PUBKEY(bio, nullptr, nullptr, const_cast<char *>(""));
    BIO_free(bio);
    if (pkey == nullptr)
        return refuse(why, "no key: neither a PEM private key nor a public one");
    key->handle = pkey;
    char group[64] = "";
    size_t group_length = 0;
    switch (EVP_PKEY_get_base_id(pkey)) {
    case EVP_PKEY_ED25519:
        key->kind = KEY_ED25519;
        break;
    case EVP_PKEY_EC:
        EVP_PKEY_get_group_name(pkey, group, sizeof group, &group_length);
        if (strcmp(group, "prime256v1") != 0) {
            key_free(key);
            return refuse(why, "an EC key of another curve than P-256");
        }
        key->kind = KEY_ECDSA_P256;
        break;
    case EVP_PKEY_RSA:
        if (EVP_PKEY_get_bits(pkey) != 2048 && EVP_PKEY_get_bits(pkey) != 3072) {
            key_free(key);
            return refuse(why, "an RSA key of another size than 2048 or 3072 bits");
        }
        key->kind = EVP_PKEY_get_bits(pkey) == 2048 ? KEY_RSA2048 : KEY_RSA3072;
        break;
    default:
        key_free(key);
        return refuse(why, "a key of a kind MCUboot does not take (Ed25519, ECDSA P-256, RSA-2048, RSA-3072)");
    }
    // the public key's DER: SubjectPublicKeyInfo, or for RSA its PKCS#1 form
    unsigned char *out = key->der;
    int length = key->kind >= KEY_RSA2048 ? i2d_PublicKey(pkey, nullptr) : i2d_PUBKEY(pkey, nullptr);
    if (length <= 0 || size_t(length) > sizeof key->der) {
        key_free(key);
        return refuse(why, "a key whose public part cannot be written");
    }
    key->der_size = size_t(key->kind >= KEY_RSA2048 ? i2d_PublicKey(pkey, &out) : i2d_PUBKEY(pkey, &out));
    return true;
}

void key_free(signing_key_t *key)
{
    EVP_PKEY_free(static_cast<EVP_PKEY *>(key->handle)); // clears a private key's memory
    key->handle = nullptr;
}

// A context for signing or checking the digest with the key's scheme.
static EVP_PKEY_CTX *digest_context(const signing_key_t *key, bool sign)
{
    EVP_PKEY_CTX *context = EVP_PKEY_CTX_new(static_cast<EVP_PKEY *>(key->handle), nullptr);
    if (context == nullptr || (sign ? EVP_PKEY_sign_init(context) : EVP_PKEY_verify_init(context)) <= 0 ||
        EVP_PKEY_CTX_set_signature_md(context, EVP_sha256()) <= 0 ||
        (key->kind >= KEY_RSA2048 && (EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PSS_PADDING) <= 0 ||
                                      EVP_PKEY_CTX_set_rsa_pss_saltlen(context, 32) <= 0 ||
                                      EVP_PKEY_CTX_set_rsa_mgf1_md(context, EVP_sha256()) <= 0))) {
        EVP_PKEY_CTX_free(context);
        return nullptr;
    }
    return context;
}

size_t key_sign(const signing_key_t *key, const uint8_t digest[32], uint8_t *signature, size_t room)
{
    size_t size = room;
    if (key->kind == KEY_ED25519) { // Ed25519 signs the digest as its message
        EVP_MD_CTX *context = EVP_MD_CTX_new();
        bool signed_ = context != nullptr &&
                       EVP_DigestSignInit(context, nullptr, nullptr, nullptr, static_cast<EVP_PKEY *>(key->handle)) > 0 &&
                       EVP_DigestSign(context, signature, &size, digest, 32) > 0;
        EVP_MD_CTX_free(context);
        return signed_ ? size : 0;
    }
    EVP_PKEY_CTX *context = digest_context(key, true);
    bool signed_ = context != nullptr && EVP_PKEY_sign(context, signature, &size, digest, 32) > 0;
    EVP_PKEY_CTX_free(context);
    return signed_ ? size : 0;
}

bool key_verify(const signing_key_t *key, const uint8_t digest[32], const uint8_t *signature, size_t size)
{
    bool good;
    if (key->kind == KEY_ED25519) {
        EVP_MD_CTX *context = EVP_MD_CTX_new();
        good = context != nullptr &&
               EVP_DigestVerifyInit(context, nullptr, nullptr, nullptr, static_cast<EVP_PKEY *>(key->handle)) > 0 &&
               EVP_DigestVerify(context, signature, size, digest, 32) == 1;
        EVP_MD_CTX_free(context);
    } else {
        EVP_PKEY_CTX *context = digest_context(key, false);
        good = context != nullptr && EVP_PKEY_verify(context, signature, size, digest, 32) == 1;
        EVP_PKEY_CTX_free(context);
    }
    ERR_clear_error();
    return good;
}
