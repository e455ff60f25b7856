// SPDX-License-Identifier: MIT
// ihex.h: the Intel HEX record reader and writer of quillkit.
// Both work one text line at a time on a state record that the caller owns;
// neither allocates, prints nor touches a file. C99 and C++ include the
// same file; every function has C linkage.
#ifndef QUILLKIT_IHEX_H
#define QUILLKIT_IHEX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
 * The record line format
 * ----------------------
 * One record is one line of text:
 *
 *   :CCAAAATT<data>SS
 *
 *   ':'   the start code
 *   CC    byte count N, the number of bytes in the data field (0 to 255)
 *   AAAA  16-bit address, most significant byte first
 *   TT    record type, 00 to 05 (the IHEX_RECORD_* values below)
 *   data  N bytes
 *   SS    checksum: the two's complement of the low 8 bits of the sum of
 *         every byte before it, so that all bytes of a correct record,
 *         checksum included, add up to 0 modulo 256
 *
 * Every byte is two hexadecimal digits, high nibble first; upper and lower
 * case may be mixed freely. Values of more than one byte are big-endian.
 * The longest record, a data record of 255 bytes, has 521 characters before
 * its line end.
 */

// Record types.
enum {
    IHEX_RECORD_DATA = 0,                      // N data bytes at base + address
    IHEX_RECORD_END_OF_FILE = 1,               // byte count 00, address 0000
    IHEX_RECORD_EXTENDED_SEGMENT_ADDRESS = 2,  // 16-bit segment S: base = S * 16
    IHEX_RECORD_START_SEGMENT_ADDRESS = 3,     // CS and IP: start = CS * 16 + IP
    IHEX_RECORD_EXTENDED_LINEAR_ADDRESS = 4,   // upper half U: base = U * 65536
    IHEX_RECORD_START_LINEAR_ADDRESS = 5,      // 32-bit start address
};

// Results of ihex_parse_line. No result has the value 2. When a line has
// several faults, the code is that of the first check that fails, the checks
// running in the order of the line's characters from left to right.
enum {
    // A record of type 00, 02, 03, 04 or 05 was accepted.
    IHEX_RESULT_OK = 0,
    // A correct end-of-file record. Whatever follows its checksum is not
    // looked at.
    IHEX_RESULT_EOF = 1,
    // The record is correct up to and including its checksum, but a character
    // other than CR or LF follows it.
    IHEX_RESULT_EXTRA_CHARACTERS = 3,
    // The first character is neither ':' nor the end of the string.
    IHEX_RESULT_INVALID_START_CODE = 4,
    // The string is empty, or a position where a hexadecimal digit is due
    // holds another character or the end of the string.
    IHEX_RESULT_INVALID_LINE = 5,
    // The record type is above 05, the byte count is wrong for the type, or an
    // end-of-file record has an address other than 0000.
    IHEX_RESULT_INVALID_RECORD = 6,
    // The checksum byte is not the two's complement of the sum.
    IHEX_RESULT_CHECKSUM_MISMATCH = 7,
    // A start address record (type 03 or 05) after a start address was
    // already decoded.
    IHEX_RESULT_DUPLICATE_START_ADDRESS = 8,
    // For callers that refuse addresses: the reader itself never returns it.
    IHEX_RESULT_ADDRESS_OUT_OF_RANGE = 9,
};

// A short English message for a result, as a bootloader may print or send
// back: "checksum mismatch", "invalid start code"... ("ok" and "end-of-file
// record" for 0 and 1, "unknown error" for any other value). The text is a
// constant of the library; nothing is allocated.
const char *ihex_result_text(int result);

/*
 * The reader's state, owned by the caller: one per input, prepared by
 * ihex_reader_init and advanced by every ihex_parse_line call.
 */
typedef struct ihex_reader_t {
    // Calls of ihex_parse_line since ihex_reader_init, whatever their result.
    // Wraps at 2^32.
    uint32_t record_count;
    // Sum of the byte counts of the data records whose first nine characters
    // were correct, counted before their data and checksum are checked.
    // Wraps at 2^32.
    uint32_t data_byte_count;
    // Non-zero once a start address record (type 03 or 05) has been decoded.
    uint8_t start_address_present;
    // The start address; meaningful while start_address_present is set.
    // For type 03 it is the linear address CS * 16 + IP.
    uint32_t start_address;
    // Added to the 16-bit address of every data record: 0 after
    // ihex_reader_init, replaced whole by every record of type 02 or 04.
    uint32_t base_address;
} ihex_reader_t;

// Sets every field of *reader to zero: no records, no start address, base
// address 0. Call it once before the first line of an input; calling it again
// starts afresh.
void ihex_reader_init(ihex_reader_t *reader);

/*
 * Validates and decodes one record. `line` is a NUL-terminated string whose
 * first character must be the start code: nothing is skipped at the front.
 * After the checksum it may carry the line's own CR and LF characters, in any
 * number and order; anything else there gives IHEX_RESULT_EXTRA_CHARACTERS
 * (except after an end-of-file record, where nothing is looked at).
 *
 * For a data record, *address receives base_address + the record's address
 * (32-bit arithmetic, no range check), *length the byte count, and `data`,
 * unless it is null, the decoded bytes from its start; `data` must then have
 * room for 255 bytes, or for (C - 9) / 2 when no line is longer than C
 * characters (see the line buffer below). Records of other types set *length to 0 and leave
 * *address and `data` alone. Extended address records replace base_address;
 * start address records set start_address and start_address_present.
 *
 * Returns one of the IHEX_RESULT_* codes. record_count grows on every call.
 * Nothing is rolled back on a failure: the out-values and the state hold what
 * the checks before the failing one had written (a data record that fails in
 * its data or checksum has set *address and *length, counted its bytes and
 * stored the bytes before the fault; an extended address record that fails in
 * its value leaves the digits read so far in base_address).
 * The reader reads each character at most once and never past the NUL.
 */
int ihex_parse_line(ihex_reader_t *reader, const char *line, uint32_t *address,
                    uint32_t *length, uint8_t *data);

/*
 * The writer
 * ----------
 * Turns blocks of memory into IHEX record lines, one line per call of
 * ihex_write_line. Lines use upper-case digits and end with CR LF. The writer
 * adds the extended address records (type 02 or 04) that the address mode
 * needs, a start address record on closing if one is pending, and the
 * end-of-file record last.
 */

// Which address records a stream uses. No other value is allowed. The type
// is 32 bits wide in both languages (a plain C enum may be narrower: one
// byte on arm-none-eabi), so ihex_writer_t has one layout everywhere.
#ifdef __cplusplus
enum ihex_address_mode_t : uint32_t {
#else
typedef uint32_t ihex_address_mode_t;
enum {
#endif
    // No extended address records and no start record: addresses below
    // 0x10000; of a higher address only the low 16 bits reach the output.
    IHEX_ADDRESS_MODE_16BIT = 1,
    // Types 02 and 03: addresses below 0x100000.
    IHEX_ADDRESS_MODE_SEGMENT = 2,
    // Types 04 and 05: every 32-bit address.
    IHEX_ADDRESS_MODE_LINEAR = 3
};

// Results of ihex_write_line.
enum {
    // A line was written to the buffer: emit it and call again.
    IHEX_WRITE_LINE_READY = 0,
    // The current block is used up. With last_block false the buffer is
    // untouched; with last_block true it holds the end-of-file record, the
    // stream's last line.
    IHEX_WRITE_END_OF_BLOCK = 1,
    // A start address was pending in a mode that has no record for it
    // (16-bit): the request was dropped and nothing was written.
    IHEX_WRITE_START_ADDRESS_DROPPED = 2,
};

/*
 * The writer's state, owned by the caller for a whole output stream.
 */
typedef struct ihex_writer_t {
    // Address records to use; IHEX_ADDRESS_MODE_LINEAR after init.
    ihex_address_mode_t address_mode;
    // Most data bytes in one data record, 1 to 255; 32 after init.
    uint8_t max_record_bytes;
    // Non-zero while a start address record is still to be written; the
    // caller sets it, with start_address, before the first call.
    uint8_t start_address_present;
    // The start address that record carries.
    uint32_t start_address;
    // Non-zero (the default): a run of fill_value bytes that begins a line is
    // left out of the output.
    uint8_t skip_fill;
    // The byte that skip_fill leaves out; 0xFF after init.
    uint8_t fill_value;
    // Next byte of the current block; the caller sets it for each block.
    const uint8_t *data;
    // Address of the byte at data; the caller sets it for each block.
    uint32_t address;
    // Bytes of the current block not yet written; the caller sets it for
    // each block.
    uint32_t remaining;
    // Lines written on this stream so far, of every record type.
    uint32_t line_count;
    // Data bytes written in data records so far (skipped fill not included).
    uint32_t data_byte_count;
    // Bits 16 to 31 announced by the last extended address record. Not set
    // by init: it is compared only after the stream's first line.
    uint32_t upper_address;
} ihex_writer_t;

// Prepares *writer for a new stream: linear mode, 32 bytes per record, fill
// skipping of 0xFF on, no start address, no block, counters 0. The caller may
// then change address_mode, max_record_bytes, skip_fill and fill_value, and
// set start_address_present and start_address, before the first call.
void ihex_writer_init(ihex_writer_t *writer);

/*
 * Puts the next line of the stream into `line`, a buffer of at least
 * 14 + 2 * max_record_bytes characters and never fewer than 22 (a data record
 * takes 14 + 2 * N with its CR LF and NUL; the writer does not check).
 *
 * For each block in turn: set data, address and remaining, then call with
 * last_block false and emit the line after every IHEX_WRITE_LINE_READY until
 * the result is IHEX_WRITE_END_OF_BLOCK. To close the stream, call with
 * last_block true: a pending start record comes back as IHEX_WRITE_LINE_READY
 * (or, in 16-bit mode, as IHEX_WRITE_START_ADDRESS_DROPPED with nothing
 * written), then IHEX_WRITE_END_OF_BLOCK with the end-of-file record in
 * `line`, which is the stream's last line.
 *
 * An extended address record is written before the stream's first data
 * record and whenever bits 16 to 31 of the next line's address differ from
 * the last announced ones. Data records are never cut at a 64 KiB boundary.
 * When skipping fill uses up the rest of a block, the call ends as for a
 * used-up block; no data record with a byte count of 0 is ever written.
 *
 * An address_mode other than the three above fails an assertion as soon as
 * an extended address record is due.
 */
int ihex_write_line(ihex_writer_t *writer, char *line, uint8_t last_block);

/*
 * The line buffer
 * ---------------
 * Turns a byte stream that arrives in chunks of any size (from a UART, say)
 * into the lines ihex_parse_line takes. The caller owns the state and the
 * storage; nothing is allocated.
 *
 * A line holds at most capacity - 1 characters: `storage` needs room for
 * the line and its NUL. A correct record of C characters carries at most
 * (C - 11) / 2 data bytes (':', eight digits of byte count, address and
 * type, two of checksum); a broken one may have (C - 9) / 2 bytes stored by
 * ihex_parse_line before it fails. So storage of capacity C + 1 bounds the
 * data buffer a device needs to (C - 9) / 2 bytes, instead of 255;
 * a capacity of 522 takes every record.
 */
typedef struct ihex_line_buffer_t {
    char *storage;     // the caller's, capacity bytes
    uint32_t capacity; // 1 or more
    uint32_t length;   // characters of the line being gathered
    uint8_t too_long;  // the line being gathered did not fit: it is dropped
} ihex_line_buffer_t;

// Results of ihex_line_buffer_feed.
enum {
    // The chunk is used up and no line has ended in it: feed the next one.
    IHEX_FEED_MORE = 0,
    // A line has ended: it lies in storage, NUL-terminated and without its
    // line end, until the next call.
    IHEX_FEED_LINE = 1,
    // A line longer than capacity - 1 characters has ended. Its characters
    // were dropped; the next line is read normally.
    IHEX_FEED_TOO_LONG = 2
};

// Prepares *buffer to gather lines in `storage`, `capacity` bytes of it.
void ihex_line_buffer_init(ihex_line_buffer_t *buffer, char *storage, uint32_t capacity);

/*
 * Takes characters from `chunk` until a line ends or the chunk is used up,
 * and puts in *used how many it took; call again with the rest of the chunk
 * after every IHEX_FEED_LINE or IHEX_FEED_TOO_LONG. CR and LF each end a
 * line, so CR LF, LF and CR alone all work, also when a CR LF is split
 * between two chunks; empty lines are never returned. A NUL inside a line is
 * kept, and the line, as a string, ends there.
 *
 * A call with a null chunk and size 0 says that the input has ended: a line
 * still being gathered, which had no line end, comes back as IHEX_FEED_LINE
 * (or IHEX_FEED_TOO_LONG); with nothing pending the result is
 * IHEX_FEED_MORE.
 *
 *   while (size > 0) {
 *       int result = ihex_line_buffer_feed(&buffer, chunk, size, &used);
 *       chunk += used;
 *       size -= used;
 *       if (result == IHEX_FEED_LINE)
 *           ... ihex_parse_line(&reader, storage, ...) ...
 *   }
 */
int ihex_line_buffer_feed(ihex_line_buffer_t *buffer, const char *chunk, uint32_t size, uint32_t *used);

/*
 * Hexadecimal digits as records hold them, for other record formats on the
 * same digits (Motorola S-records).
 *
 * ihex_hex_decode reads `count` bytes, two digits each (either case), from
 * `text` into `bytes`, and returns `count`, or the index of the first byte
 * whose digits are not both hexadecimal. A byte's second character is only
 * looked at when its first one is a digit, so reading stops at a NUL.
 * ihex_hex_encode writes `count` bytes as 2 * count upper-case digits, with
 * no NUL after them.
 */
uint32_t ihex_hex_decode(const char *text, uint8_t *bytes, uint32_t count);
void ihex_hex_encode(char *text, const uint8_t *bytes, uint32_t count);

#ifdef __cplusplus
}
#endif

#endif
