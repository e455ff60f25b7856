// SPDX-License-Identifier: MIT
// quillkit.cpp: buffer padding, number reading and the CRC engine.
#include "quillkit.h"

#include <cassert>
#include <cstring>

#define QKIT_TEXT(x) #x
#define QKIT_VERSION_TEXT(major, minor, patch) QKIT_TEXT(major) "." QKIT_TEXT(minor) "." QKIT_TEXT(patch)

const char *qkit_version(void)
{
    return QKIT_VERSION_TEXT(QKIT_VERSION_MAJOR, QKIT_VERSION_MINOR, QKIT_VERSION_PATCH);
}

void qkit_pad(uint8_t *buffer, size_t size, uint32_t value, int32_t pad_granularity)
{
    assert((pad_granularity == 1) || (pad_granularity == 2) || (pad_granularity == 4));
    assert(((uintptr_t)buffer & (pad_granularity - 1)) == 0);
    assert((size & (pad_granularity - 1)) == 0);

    if (pad_granularity == 1) {
        memset(buffer, int(value & 0xFF), size);
        return;
    }
    // Spread the unit over eight bytes, least significant byte first, and
    // store that; the size is a whole number of units, so the tail is too.
    uint8_t pattern[8];
    for (int i = 0; i < 8; i++)
        pattern[i] = uint8_t(value >> (8 * (i & (pad_granularity - 1))));
    uint64_t word;
    memcpy(&word, pattern, sizeof word);
    size_t i = 0;
    for (; i + 8 <= size; i += 8)
        memcpy(buffer + i, &word, 8);
    memcpy(buffer + i, pattern, size - i);
}

static unsigned digit_value(char c)
{
    if (c >= '0' && c <= '9')
        return unsigned(c - '0');
    if (c >= 'a' && c <= 'z')
        return unsigned(c - 'a' + 10);
    if (c >= 'A' && c <= 'Z')
        return unsigned(c - 'A' + 10);
    return 99;
}

static bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

uint64_t qkit_parse_unsigned(const char *text, const char **end)
{
    const char *p = text;
    while (is_space(*p))
        p++;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        p++;
    }

    unsigned base = 10;
    if (p[0] == '0') {
        // A prefix counts only when a digit of its base follows it;
        // otherwise the "0" is an octal number on its own.
        if ((p[1] == 'x' || p[1] == 'X') && digit_value(p[2]) < 16) {
            base = 16;
            p += 2;
        } else if ((p[1] == 'b' || p[1] == 'B') && digit_value(p[2]) < 2) {
            base = 2;
            p += 2;
        } else {
            base = 8;
        }
    }

    const char *digits = p;
    uint64_t value = 0;
    bool overflow = false;
    for (unsigned digit; (digit = digit_value(*p)) < base; p++) {
        uint64_t next;
        if (__builtin_mul_overflow(value, base, &next) || __builtin_add_overflow(next, digit, &next))
            overflow = true;
        else
            value = next;
    }
    if (p == digits) {
        *end = text;
        return 0;
    }
    *end = p;
    if (overflow)
        return UINT64_MAX;
    return negative ? 0 - value : value;
}

// ---------------------------------------------------------------------------
// CRCs

extern "C" const qkit_crc_t qkit_crc_catalogue[] = {
    {"CRC-8/SMBUS", 8, 0x07, 0x00, 0, 0, 0x00, 0xF4},
    {"CRC-8/MAXIM-DOW", 8, 0x31, 0x00, 1, 1, 0x00, 0xA1},
    {"CRC-8/AUTOSAR", 8, 0x2F, 0xFF, 0, 0, 0xFF, 0xDF},
    {"CRC-8/SAE-J1850", 8, 0x1D, 0xFF, 0, 0, 0xFF, 0x4B},
    {"CRC-16/ARC", 16, 0x8005, 0x0000, 1, 1, 0x0000, 0xBB3D},
    {"CRC-16/MODBUS", 16, 0x8005, 0xFFFF, 1, 1, 0x0000, 0x4B37},
    {"CRC-16/UMTS", 16, 0x8005, 0x0000, 0, 0, 0x0000, 0xFEE8},
    {"CRC-16/XMODEM", 16, 0x1021, 0x0000, 0, 0, 0x0000, 0x31C3},
    {"CRC-16/IBM-3740", 16, 0x1021, 0xFFFF, 0, 0, 0x0000, 0x29B1},
    {"CRC-16/CCITT-FALSE", 16, 0x1021, 0xFFFF, 0, 0, 0x0000, 0x29B1},
    {"CRC-16/SPI-FUJITSU", 16, 0x1021, 0x1D0F, 0, 0, 0x0000, 0xE5CC},
    {"CRC-16/KERMIT", 16, 0x1021, 0x0000, 1, 1, 0x0000, 0x2189},
    {"CRC-16/IBM-SDLC", 16, 0x1021, 0xFFFF, 1, 1, 0xFFFF, 0x906E},
    {"CRC-16/MCRF4XX", 16, 0x1021, 0xFFFF, 1, 1, 0x0000, 0x6F91},
    {"CRC-32/ISO-HDLC", 32, 0x04C11DB7, 0xFFFFFFFF, 1, 1, 0xFFFFFFFF, 0xCBF43926},
    {"CRC-32", 32, 0x04C11DB7, 0xFFFFFFFF, 1, 1, 0xFFFFFFFF, 0xCBF43926},
    {"CRC-32/BZIP2", 32, 0x04C11DB7, 0xFFFFFFFF, 0, 0, 0xFFFFFFFF, 0xFC891918},
    {"CRC-32/MPEG-2", 32, 0x04C11DB7, 0xFFFFFFFF, 0, 0, 0x00000000, 0x0376E6E7},
    {"CRC-32/JAMCRC", 32, 0x04C11DB7, 0xFFFFFFFF, 1, 1, 0x00000000, 0x340BC6D9},
    {"CRC-32/CKSUM", 32, 0x04C11DB7, 0x00000000, 0, 0, 0xFFFFFFFF, 0x765E7680},
    {"CRC-32/ISCSI", 32, 0x1EDC6F41, 0xFFFFFFFF, 1, 1, 0xFFFFFFFF, 0xE3069283},
    {"CRC-32C", 32, 0x1EDC6F41, 0xFFFFFFFF, 1, 1, 0xFFFFFFFF, 0xE3069283},
    {},
};

static char upper_case(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

const qkit_crc_t *qkit_crc_find(const char *name)
{
    for (const qkit_crc_t *crc = qkit_crc_catalogue; crc->name != nullptr; crc++) {
        size_t i = 0;
        while (name[i] != '\0' && upper_case(name[i]) == crc->name[i])
            i++;
        if (name[i] == '\0' && crc->name[i] == '\0')
            return crc;
    }
    return nullptr;
}

// The low `width` bits of `value` in the opposite order.
static uint32_t reflect(uint32_t value, uint32_t width)
{
    uint32_t out = 0;
    for (uint32_t i = 0; i < width; i++, value >>= 1)
        out = (out << 1) | (value & 1);
    return out;
}

// A reflected register shifts right and holds its CRC in the low bits, in
// reverse; any other shifts left and holds it in the top bits, so that one
// shift and one XOR per bit serve every width.
static uint32_t aligned(const qkit_crc_t *crc, uint32_t value)
{
    return crc->reflect_in ? reflect(value, crc->width) : value << (32 - crc->width);
}

static uint32_t crc_byte(uint32_t state, uint32_t poly, uint8_t reflected, uint8_t byte)
{
    if (reflected) {
        state ^= byte;
        for (int bit = 0; bit < 8; bit++)
            state = (state >> 1) ^ (poly & (0 - (state & 1)));
    } else {
        state ^= uint32_t(byte) << 24;
        for (int bit = 0; bit < 8; bit++)
            state = (state << 1) ^ (poly & (0 - (state >> 31)));
    }
    return state;
}

uint32_t qkit_crc_begin(const qkit_crc_t *crc)
{
    return aligned(crc, crc->init);
}

uint32_t qkit_crc_update(const qkit_crc_t *crc, uint32_t state, const uint8_t *data, size_t size)
{
    uint32_t poly = aligned(crc, crc->poly);
    uint8_t reflected = crc->reflect_in;
    size_t i = 0;
#ifndef __OPTIMIZE_SIZE__
    // A byte at a time through a table of what each byte value does to the
    // register's top (or, reflected, bottom) byte.
    if (size >= 4096) {
        uint32_t table[256];
        for (uint32_t b = 0; b < 256; b++)
            table[b] = crc_byte(0, poly, reflected, uint8_t(b));
        if (reflected)
            for (; i < size; i++)
                state = table[(state ^ data[i]) & 0xFF] ^ (state >> 8);
        else
            for (; i < size; i++)
                state = table[(state >> 24) ^ data[i]] ^ (state << 8);
    }
#endif
    for (; i < size; i++)
        state = crc_byte(state, poly, reflected, data[i]);
    return state;
}

uint32_t qkit_crc_end(const qkit_crc_t *crc, uint32_t state)
{
    if (!crc->reflect_in)
        state >>= 32 - crc->width;
    if (crc->reflect_in != crc->reflect_out)
        state = reflect(state, crc->width);
    return (state ^ crc->xor_out) & (0xFFFFFFFF >> (32 - crc->width));
}

static const uint32_t sha256_rounds[64] = {
    0x428A2F98, 0x71374491, 0xB5C0FBCF, 0xE9B5DBA5, 0x3956C25B, 0x59F111F1, 0x923F82A4, 0xAB1C5ED5,
    0xD807AA98, 0x12835B01, 0x243185BE, 0x550C7DC3, 0x72BE5D74, 0x80DEB1FE, 0x9BDC06A7, 0xC19BF174,
    0xE49B69C1, 0xEFBE4786, 0x0FC19DC6, 0x240CA1CC, 0x2DE92C6F, 0x4A7484AA, 0x5CB0A9DC, 0x76F988DA,
    0x983E5152, 0xA831C66D, 0xB00327C8, 0xBF597FC7, 0xC6E00BF3, 0xD5A79147, 0x06CA6351, 0x14292967,
    0x27B70A85, 0x2E1B2138, 0x4D2C6DFC, 0x53380D13, 0x650A7354, 0x766A0ABB, 0x81C2C92E, 0x92722C85,
    0xA2BFE8A1, 0xA81A664B, 0xC24B8B70, 0xC76C51A3, 0xD192E819, 0xD6990624, 0xF40E3585, 0x106AA070,
    0x19A4C116, 0x1E376C08, 0x2748774C, 0x34B0BCB5, 0x391C0CB3, 0x4ED8AA4A, 0x5B9CCA4F, 0x682E6FF3,
    0x748F82EE, 0x78A5636F, 0x84C87814, 0x8CC70208, 0x90BEFFFA, 0xA4506CEB, 0xBEF9A3F7, 0xC67178F2,
};

static uint32_t rotate_right(uint32_t value, int count)
{
    return value >> count | value << (32 - count);
}

// Takes in one 64-byte block; the message schedule rolls through 16 words.
// Built for speed the rounds are unrolled, built for size they stay a loop.
static void sha256_block(uint32_t state[8], const uint8_t *block)
{
    uint32_t w[16], a = state[0], b = state[1], c = state[2], d = state[3], e = state[4], f = state[5],
                    g = state[6], h = state[7];
#ifndef __OPTIMIZE_SIZE__
#pragma GCC unroll 64
#endif
    for (int i = 0; i < 64; i++) {
        uint32_t word;
        if (i < 16) {
            word = uint32_t(block[4 * i]) << 24 | uint32_t(block[4 * i + 1]) << 16 | uint32_t(block[4 * i + 2]) << 8 |
                   block[4 * i + 3];
        } else {
            uint32_t x = w[(i - 15) & 15], y = w[(i - 2) & 15];
            word = w[i & 15] + (rotate_right(x, 7) ^ rotate_right(x, 18) ^ (x >> 3)) + w[(i - 7) & 15] +
                   (rotate_right(y, 17) ^ rotate_right(y, 19) ^ (y >> 10));
        }
        w[i & 15] = word;
        uint32_t t1 = h + (rotate_right(e, 6) ^ rotate_right(e, 11) ^ rotate_right(e, 25)) + (g ^ (e & (f ^ g))) +
                      sha256_rounds[i] + word;
        uint32_t t2 = (rotate_right(a, 2) ^ rotate_right(a, 13) ^ rotate_right(a, 22)) + ((a & b) | (c & (a | b)));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

void qkit_sha256_begin(qkit_sha256_t *sha)
{
    static const uint32_t initial[8] = {0x6A09E667, 0xBB67AE85, 0x3C6EF372, 0xA54FF53A,
                                        0x510E527F, 0x9B05688C, 0x1F83D9AB, 0x5BE0CD19};
    for (int i = 0; i < 8; i++)
        sha->state[i] = initial[i];
    sha->length = 0;
}

void qkit_sha256_update(qkit_sha256_t *sha, const uint8_t *data, size_t size)
{
    size_t held = size_t(sha->length % 64);
    sha->length += size;
    if (held != 0) {
        size_t n = size < 64 - held ? size : 64 - held;
        memcpy(sha->block + held, data, n);
        data += n;
        size -= n;
        if (held + n < 64)
            return;
        sha256_block(sha->state, sha->block);
    }
    for (; size >= 64; data += 64, size -= 64)
        sha256_block(sha->state, data);
    memcpy(sha->block, data, size);
}

void qkit_sha256_end(qkit_sha256_t *sha, uint8_t digest[32])
{
    // 80h, zeros up to 8 bytes before a block's end, then the length in bits
    uint64_t bits = sha->length * 8;
    uint8_t tail[72] = {0x80};
    size_t held = size_t(sha->length % 64), padding = held < 56 ? 56 - held : 120 - held;
    for (int i = 0; i < 8; i++)
        tail[padding + i] = uint8_t(bits >> (56 - 8 * i));
    qkit_sha256_update(sha, tail, padding + 8);
    for (int i = 0; i < 32; i++)
        digest[i] = uint8_t(sha->state[i / 4] >> (24 - 8 * (i % 4)));
}

uint32_t qkit_adler32(uint32_t adler, const uint8_t *data, size_t size)
{
    // Both sums stay below 65521 byte by byte: no division, and no table.
    uint32_t a = adler & 0xFFFF, b = adler >> 16;
    for (; size != 0; size--) {
        a += *data++;
        a -= a >= 65521 ? 65521 : 0;
        b += a;
        b -= b >= 65521 ? 65521 : 0;
    }
    return b << 16 | a;
}
