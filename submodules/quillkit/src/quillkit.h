// SPDX-License-Identifier: MIT
// quillkit.h: the helpers of quillkit that are not IHEX specific: buffer
// padding, number reading and CRCs. Nothing here allocates or does input or
// output. C99 and C++ include the same file.
#ifndef QUILLKIT_H
#define QUILLKIT_H

#include <stddef.h>
#include <stdint.h>

/*
 * The version of these headers: QKIT_VERSION_NUMBER is
 * MAJOR * 10000 + MINOR * 100 + PATCH, for a compile-time check such as
 * "#if QKIT_VERSION_NUMBER < 10002". qkit_version() gives the version of the
 * library that was linked, as "MAJOR.MINOR.PATCH", to compare at run time.
 */
#define QKIT_VERSION_MAJOR 1
#define QKIT_VERSION_MINOR 0
#define QKIT_VERSION_PATCH 2
#define QKIT_VERSION_NUMBER (QKIT_VERSION_MAJOR * 10000 + QKIT_VERSION_MINOR * 100 + QKIT_VERSION_PATCH)

#ifdef __cplusplus
extern "C" {
#endif

const char *qkit_version(void);

/*
 * Fills `size` bytes from `buffer` with `value` repeated in units of
 * `pad_granularity` bytes (1, 2 or 4): each unit receives the low 8, 16 or
 * all 32 bits of the value, least significant byte first. The pattern's phase
 * is fixed by the buffer's start. A size of 0 writes nothing.
 *
 * Preconditions, each checked by an assertion in this order: the granularity
 * is 1, 2 or 4; the buffer is aligned to it; the size is a multiple of it.
 */
void qkit_pad(uint8_t *buffer, size_t size, uint32_t value, int32_t pad_granularity);

/*
 * Reads an unsigned number the way C23's strtoul does with base 0: leading
 * white space, an optional '+' or '-', then "0x"/"0X" hexadecimal,
 * "0b"/"0B" binary, a leading "0" octal, else decimal. A '-' negates the
 * value modulo 2^64; a number too large for 64 bits reads as UINT64_MAX.
 * "0x" or "0b" without a valid digit after it reads as 0 and leaves the
 * letter unread.
 *
 * *end receives the first character not used. When the text holds no digit
 * at all, nothing is used and *end is `text` itself, so " " and "+" leave
 * characters unread while "" reads as 0 with nothing left.
 */
uint64_t qkit_parse_unsigned(const char *text, const char **end);

/*
 * CRCs
 * ----
 * One engine computes every CRC of the usual parametrised model: a register
 * of `width` bits (1 to 32) starting at `init`, the generator polynomial
 * `poly` (without its top bit), input bytes taken least significant bit first
 * when `reflect_in` is set, the final register reflected when `reflect_out`
 * is set, then XORed with `xor_out`. `check` is the CRC of the nine ASCII
 * bytes "123456789".
 *
 * A device may define its own record with an initialiser, in this order:
 *
 *   static const qkit_crc_t crc32 = {"CRC-32/ISO-HDLC", 32, 0x04C11DB7,
 *                                    0xFFFFFFFF, 1, 1, 0xFFFFFFFF, 0xCBF43926};
 *
 * and computes over data that arrives in pieces:
 *
 *   uint32_t state = qkit_crc_begin(&crc32);
 *   state = qkit_crc_update(&crc32, state, piece, piece_size);   (repeated)
 *   uint32_t crc = qkit_crc_end(&crc32, state);
 *
 * Fed in pieces, the engine gives what it gives fed whole. Built for size
 * (__OPTIMIZE_SIZE__, as -Os defines it) it works bit by bit and needs no
 * table; otherwise long pieces go through a 1 KiB table on the stack.
 */
typedef struct qkit_crc_t {
    const char *name;
    uint8_t width;
    uint32_t poly;
    uint32_t init;
    uint8_t reflect_in;
    uint8_t reflect_out;
    uint32_t xor_out;
    uint32_t check;
} qkit_crc_t;

// The catalogue: the common CRC-8, CRC-16 and CRC-32 algorithms by their
// catalogue names, and the aliases CRC-32, CRC-32C and CRC-16/CCITT-FALSE.
// The last entry's name is null.
extern const qkit_crc_t qkit_crc_catalogue[];

// The catalogue entry called `name`, in any letter case; null if none is.
const qkit_crc_t *qkit_crc_find(const char *name);

// The state before the first byte.
uint32_t qkit_crc_begin(const qkit_crc_t *crc);

// The state after `size` more bytes from `data`.
uint32_t qkit_crc_update(const qkit_crc_t *crc, uint32_t state, const uint8_t *data, size_t size);

// The CRC of everything fed, in the low `width` bits.
uint32_t qkit_crc_end(const qkit_crc_t *crc, uint32_t state);

/*
 * SHA-256 and Adler-32
 * --------------------
 * The digests a host stamps into an image and a device checks, computed over
 * data that arrives in pieces, in a state record the caller owns:
 *
 *   qkit_sha256_t sha;
 *   qkit_sha256_begin(&sha);
 *   qkit_sha256_update(&sha, piece, piece_size);                 (repeated)
 *   qkit_sha256_end(&sha, digest);            (uint8_t digest[32], FIPS 180-4)
 *
 *   uint32_t adler = 1;                           (zlib's value to start from)
 *   adler = qkit_adler32(adler, piece, piece_size);              (repeated)
 *
 * Fed in pieces, both give what they give fed whole. Neither needs a table
 * but SHA-256's 64 round constants, nor divides.
 */
typedef struct qkit_sha256_t {
    uint32_t state[8];
    uint64_t length;    // the bytes fed so far
    uint8_t block[64];  // the bytes of a block not yet taken in
} qkit_sha256_t;

// The state before the first byte.
void qkit_sha256_begin(qkit_sha256_t *sha);

// Takes `size` more bytes from `data`.
void qkit_sha256_update(qkit_sha256_t *sha, const uint8_t *data, size_t size);

// The digest of everything fed, in its own byte order; the state is spent.
void qkit_sha256_end(qkit_sha256_t *sha, uint8_t digest[32]);

// The Adler-32 of `size` more bytes after those that gave `adler` (1 for none).
uint32_t qkit_adler32(uint32_t adler, const uint8_t *data, size_t size);

#ifdef __cplusplus
}
#endif

#endif
