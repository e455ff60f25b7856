// SPDX-License-Identifier: MIT
// keys.h: the keys of MCUboot images, read from PEM files, and the
// signatures made or checked with them; within this folder only. Built
// with OpenSSL's libcrypto where the system has it (keys_openssl.cpp), else
// public keys alone (keys_none.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

enum key_kind_t { KEY_ED25519, KEY_ECDSA_P256, KEY_RSA2048, KEY_RSA3072 };

struct signing_key_t {
    key_kind_t kind;
    bool is_private;
    uint8_t der[2048]; // the public key: SubjectPublicKeyInfo, or PKCS#1 for RSA
    size_t der_size;
    void *handle;      // the library's key, when it has one
};

// Whether this build makes and checks signatures.
extern const bool keys_sign;

// Reads a key from the `size` bytes of a PEM file: false, with *why saying
// what the bytes are, for anything but an unencrypted private or public key
// of the four kinds.
bool key_parse(signing_key_t *key, const uint8_t *bytes, size_t size, char (&why)[160]);
// key_parse of a file; its failure ends the run naming the file. The file's
// bytes are cleared once read.
void key_read(signing_key_t *key, const char *path);
void key_free(signing_key_t *key);

// The kind's name and the type of its signature's TLV.
inline const char *key_kind_name(key_kind_t kind)
{
    static const char *const names[] = {"ed25519", "ecdsa-p256", "rsa-2048", "rsa-3072"};
    return names[kind];
}
inline uint8_t key_signature_type(key_kind_t kind)
{
    static const uint8_t types[] = {0x24, 0x22, 0x20, 0x23};
    return types[kind];
}

// Signs the image's SHA-256 `digest` as imgtool does (Ed25519 over the
// digest, ECDSA P-256 of it as DER, RSA-PSS with MGF1-SHA256 and a 32-byte
// salt); returns the signature's length, 0 when signing failed.
size_t key_sign(const signing_key_t *key, const uint8_t digest[32], uint8_t *signature, size_t room);
// Whether `signature` is the key's of `digest`.
bool key_verify(const signing_key_t *key, const uint8_t digest[32], const uint8_t *signature, size_t size);
