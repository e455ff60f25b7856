// SPDX-License-Identifier: MIT
// keys_none.cpp: where there is no OpenSSL (the Windows build): public keys
// alone, read from their PEM text, for the key's hash or the key in the
// image and a signature made elsewhere, put in unchecked.
#include "merge/keys.h"

#include <cstdio>
#include <cstring>

extern const bool keys_sign = false;

// The bytes of base64 text between `from` and `to` into `out`; false when
// there are more than `room` or a character is not base64.
static bool base64(const char *from, const char *to, uint8_t *out, size_t room, size_t *size)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    uint32_t bits = 0, count = 0;
    *size = 0;
    for (const char *p = from; p < to && *p != '='; p++) {
        if (*p == '\n' || *p == '\r' || *p == ' ')
            continue;
        const char *digit = *p != '\0' ? strchr(digits, *p) : nullptr;
        if (digit == nullptr)
            return false;
        bits = bits << 6 | uint32_t(digit - digits);
        if ((count += 6) >= 8) {
            if (*size == room)
                return false;
            out[(*size)++] = uint8_t(bits >> (count -= 8));
        }
    }
    return true;
}

// The DER element at *p (before `end`): its tag, and its contents' bounds.
static bool element(const uint8_t *&p, const uint8_t *end, uint8_t *tag, const uint8_t **contents, size_t *length)
{
    if (end - p < 2)
        return false;
    *tag = p[0];
    size_t n = p[1], header = 2;
    if (n & 0x80) {
        header += n & 0x7F;
        if ((n & 0x7F) > 2 || size_t(end - p) < header)
            return false;
        n = (n & 0x7F) == 1 ? p[2] : size_t(p[2]) << 8 | p[3];
    }
    if (size_t(end - p) - header < n)
        return false;
    *contents = p + header;
    *length = n;
    p += header + n;
    return true;
}

static bool refuse(char (&why)[160], const char *what)
{
    snprintf(why, sizeof why, "%s", what);
    return false;
}

bool key_parse(signing_key_t *key, const uint8_t *bytes, size_t size, char (&why)[160])
{
    *key = signing_key_t{};
    static const char begin[] = "-----BEGIN PUBLIC KEY-----", end_label[] = "-----END PUBLIC KEY-----";
    const char *text = reinterpret_cast<const char *>(bytes), *text_end = text + size;
    auto find = [&](const char *from, const char *label) -> const char * {
        for (size_t n = strlen(label); from + n <= text_end; from++)
            if (memcmp(from, label, n) == 0)
                return from;
        return nullptr;
    };
    if (find(text, "PRIVATE KEY") != nullptr)
        return refuse(why, "a private key, and this build signs no images: sign the digest= elsewhere "
                           "(openssl pkeyutl -sign) and give signature= with key= naming the public key");
    const char *from = find(text, begin), *to = from != nullptr ? find(from, end_label) : nullptr;
    from = from != nullptr ? from + sizeof begin - 1 : nullptr;
    uint8_t der[sizeof key->der];
    size_t der_size;
    if (to == nullptr || !base64(from, to, der, sizeof der, &der_size))
        return refuse(why, "no key: not a PEM public key");
    // SubjectPublicKeyInfo: SEQUENCE { SEQUENCE { algorithm, parameters }, BIT STRING key }
    static const uint8_t ed25519[] = {0x06, 0x03, 0x2B, 0x65, 0x70};
    static const uint8_t p256[] = {0x06, 0x07, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x02, 0x01, 0x06, 0x08,
                                   0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
    static const uint8_t rsa[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
    const uint8_t *p = der, *info, *algorithm, *bits, *rest;
    size_t info_length, algorithm_length, bits_length;
    uint8_t tag;
    if (!element(p, der + der_size, &tag, &info, &info_length) || tag != 0x30 ||
        !element(rest = info, info + info_length, &tag, &algorithm, &algorithm_length) || tag != 0x30 ||
        !element(rest, info + info_length, &tag, &bits, &bits_length) || tag != 0x03 || bits_length < 2)
        return refuse(why, "no key: its public key info cannot be read");
    auto is = [&](const uint8_t *oid, size_t n) { return algorithm_length >= n && memcmp(algorithm, oid, n) == 0; };
    if (is(ed25519, sizeof ed25519) || is(p256, sizeof p256)) {
        key->kind = is(ed25519, sizeof ed25519) ? KEY_ED25519 : KEY_ECDSA_P256;
        memcpy(key->der, der, der_size);
        key->der_size = der_size;
        return true;
    }
    if (!is(rsa, sizeof rsa))
        return refuse(why, "a key of a kind MCUboot does not take (Ed25519, ECDSA P-256, RSA-2048, RSA-3072)");
    // RSA: the PKCS#1 key inside the BIT STRING, its modulus 2048 or 3072 bits
    const uint8_t *pkcs1 = bits + 1, *sequence, *modulus;
    size_t sequence_length, modulus_length;
    p = pkcs1;
    if (!element(p, bits + bits_length, &tag, &sequence, &sequence_length) ||
        !element(rest = sequence, sequence + sequence_length, &tag, &modulus, &modulus_length) ||
        (modulus_length != 257 && modulus_length != 385))
        return refuse(why, "an RSA key of another size than 2048 or 3072 bits");
    key->kind = modulus_length == 257 ? KEY_RSA2048 : KEY_RSA3072;
    key->der_size = bits_length - 1;
    memcpy(key->der, pkcs1, key->der_size);
    return true;
}

void key_free(signing_key_t *)
{
}

size_t key_sign(const signing_key_t *, const uint8_t *, uint8_t *, size_t)
{
    return 0;
}

bool key_verify(const signing_key_t *, const uint8_t *, const uint8_t *, size_t)
{
    return true; // unchecked: the caller says so
}
