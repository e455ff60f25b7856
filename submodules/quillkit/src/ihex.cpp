// SPDX-License-Identifier: MIT
// ihex.cpp: the Intel HEX record reader (one line in, one result code out), the record
// writer (a block of memory in, a line out per call) and the line buffer (bytes in, a line out).
#include "ihex.h"

#include <cassert>
#include <cstddef>

namespace {

// Both builds give digit_value, a hexadecimal digit's value (above 15 for every other character,
// NUL and everything above 127 included), and read_byte, which reads the two digits of one byte
// at *p and advances past them. The second character is only looked at when the first one is a
// digit, so a NUL in the first place is never passed.
#ifdef __OPTIMIZE_SIZE__
// Built for size (a bootloader's flash), digits are judged by arithmetic.
inline uint32_t digit_value(uint32_t c)
{
    if (c - '0' < 10)
        return c - '0';
    c = (c | 0x20) - 'a'; // 'A' to 'F' as 'a' to 'f'
    return c < 6 ? c + 10 : 0x100;
}

inline bool read_byte(const unsigned char *&p, uint32_t *byte)
{
    uint32_t high = digit_value(p[0]);
    if (high > 15)
        return false;
    uint32_t low = digit_value(p[1]);
    if (low > 15)
        return false;
    *byte = (high << 4) | low;
    p += 2;
    return true;
}

#else
// Built for speed, digits come from tables: each character's value as a
// hexadecimal digit, or not_a_digit.
constexpr uint8_t not_a_digit = 0xFF;

struct hex_digit_table_t {
    uint8_t value[256];
};

constexpr hex_digit_table_t make_hex_digit_table()
{
    hex_digit_table_t table{};
    for (int c = 0; c < 256; c++)
        table.value[c] = not_a_digit;
    for (int c = '0'; c <= '9'; c++)
        table.value[c] = uint8_t(c - '0');
    for (int c = 'A'; c <= 'F'; c++)
        table.value[c] = uint8_t(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; c++)
        table.value[c] = uint8_t(c - 'a' + 10);
    return table;
}

constexpr hex_digit_table_t hex_digits = make_hex_digit_table();

inline uint32_t digit_value(uint32_t c)
{
    return hex_digits.value[c] == not_a_digit ? 0x100 : hex_digits.value[c];
}

// The same as 16-bit entries, one table per digit position of a byte: the
// high digit's value shifted into place, the low digit's as it is, and bit 8
// set for a non-digit. One OR then gives the byte, or bit 8 for a fault.
constexpr uint32_t bad_digit = 0x100;

struct hex_pair_tables_t {
    uint16_t high[256];
    uint16_t low[256];
};

constexpr hex_pair_tables_t make_hex_pair_tables()
{
    hex_pair_tables_t tables{};
    for (int c = 0; c < 256; c++) {
        uint8_t v = hex_digits.value[c];
        tables.high[c] = v == not_a_digit ? bad_digit : uint16_t(v << 4);
        tables.low[c] = v == not_a_digit ? bad_digit : v;
    }
    return tables;
}

constexpr hex_pair_tables_t hex_pairs = make_hex_pair_tables();

inline bool read_byte(const unsigned char *&p, uint32_t *byte)
{
    uint32_t high = hex_pairs.high[p[0]];
    if (high & bad_digit)
        return false;
    uint32_t value = high | hex_pairs.low[p[1]];
    if (value & bad_digit)
        return false;
    *byte = value;
    p += 2;
    return true;
}

#endif

// Reads a 16-bit value, four digits, most significant first.
inline bool read_word(const unsigned char *&p, uint32_t *word)
{
    uint32_t high, low;
    if (!read_byte(p, &high) || !read_byte(p, &low))
        return false;
    *word = (high << 8) | low;
    return true;
}

} // namespace

void ihex_reader_init(ihex_reader_t *reader)
{
    reader->record_count = 0;
    reader->data_byte_count = 0;
    reader->start_address_present = 0;
    reader->start_address = 0;
    reader->base_address = 0;
}

int ihex_parse_line(ihex_reader_t *reader, const char *line, uint32_t *address,
                    uint32_t *length, uint8_t *data)
{
    reader->record_count++;

    const unsigned char *p = reinterpret_cast<const unsigned char *>(line);
    if (p[0] == '\0')
        return IHEX_RESULT_INVALID_LINE;
    if (p[0] != ':')
        return IHEX_RESULT_INVALID_START_CODE;
    p++;

    uint32_t count, record_address, type;
    if (!read_byte(p, &count) || !read_word(p, &record_address) || !read_byte(p, &type))
        return IHEX_RESULT_INVALID_LINE;
    if (type > IHEX_RECORD_START_LINEAR_ADDRESS)
        return IHEX_RESULT_INVALID_RECORD;

    uint32_t sum = count + (record_address >> 8) + (record_address & 0xFF) + type;

    switch (type) {
    case IHEX_RECORD_DATA: {
        *address = reader->base_address + record_address;
        *length = count;
        reader->data_byte_count += count;
        uint32_t byte;
        if (data != nullptr) {
            // The hot loop of a conversion.
#pragma GCC unroll 4
            for (uint32_t i = 0; i < count; i++) {
                if (!read_byte(p, &byte))
                    return IHEX_RESULT_INVALID_LINE;
                data[i] = uint8_t(byte);
            }
            // summed apart, where the loop vectorises
            for (uint32_t i = 0; i < count; i++)
                sum += data[i];
        } else {
            for (uint32_t i = 0; i < count; i++) {
                if (!read_byte(p, &byte))
                    return IHEX_RESULT_INVALID_LINE;
                sum += byte;
            }
        }
        break;
    }

    case IHEX_RECORD_END_OF_FILE:
        if (record_address != 0 || count != 0)
            return IHEX_RESULT_INVALID_RECORD;
        *length = 0;
        break;

    case IHEX_RECORD_EXTENDED_SEGMENT_ADDRESS:
    case IHEX_RECORD_EXTENDED_LINEAR_ADDRESS: {
        *length = 0;
        if (count != 2)
            return IHEX_RESULT_INVALID_RECORD;
        // The value is built up in base_address itself, digit by digit, so a
        // record that breaks off leaves the digits read so far.
        reader->base_address = 0;
        for (int i = 0; i < 4; i++) {
            uint32_t digit = digit_value(*p);
            if (digit > 15)
                return IHEX_RESULT_INVALID_LINE;
            reader->base_address = reader->base_address * 16 + digit;
            p++;
        }
        uint32_t value = reader->base_address;
        sum += (value >> 8) + (value & 0xFF);
        reader->base_address = type == IHEX_RECORD_EXTENDED_SEGMENT_ADDRESS ? value << 4 : value << 16;
        break;
    }

    case IHEX_RECORD_START_SEGMENT_ADDRESS:
    case IHEX_RECORD_START_LINEAR_ADDRESS: {
        *length = 0;
        if (count != 4)
            return IHEX_RESULT_INVALID_RECORD;
        if (reader->start_address_present)
            return IHEX_RESULT_DUPLICATE_START_ADDRESS;
        uint32_t first, second;
        if (!read_word(p, &first))
            return IHEX_RESULT_INVALID_LINE;
        reader->start_address = type == IHEX_RECORD_START_SEGMENT_ADDRESS ? first << 4 : first << 16;
        if (!read_word(p, &second))
            return IHEX_RESULT_INVALID_LINE;
        reader->start_address_present = 1;
        reader->start_address += second;
        sum += (first >> 8) + (first & 0xFF) + (second >> 8) + (second & 0xFF);
        break;
    }
    }

    uint32_t checksum;
    if (!read_byte(p, &checksum))
        return IHEX_RESULT_INVALID_LINE;
    if (((sum + checksum) & 0xFF) != 0)
        return IHEX_RESULT_CHECKSUM_MISMATCH;
    if (type == IHEX_RECORD_END_OF_FILE)
        return IHEX_RESULT_EOF;

    while (*p == '\r' || *p == '\n')
        p++;
    return *p == '\0' ? IHEX_RESULT_OK : IHEX_RESULT_EXTRA_CHARACTERS;
}

namespace {

constexpr char upper_hex[] = "0123456789ABCDEF";

inline char *put_byte(char *out, uint32_t byte)
{
    out[0] = upper_hex[(byte >> 4) & 0xF];
    out[1] = upper_hex[byte & 0xF];
    return out + 2;
}

inline char *put_word(char *out, uint32_t word)
{
    return put_byte(put_byte(out, word >> 8), word);
}

inline void put_line_end(char *out, uint32_t sum)
{
    out = put_byte(out, (0x100 - (sum & 0xFF)) & 0xFF);
    out[0] = '\r';
    out[1] = '\n';
    out[2] = '\0';
}

constexpr char end_of_file_record[] = ":00000001FF\r\n";

} // namespace

// Writes an address record of type 2, 3, 4 or 5 carrying `value`: the
// segment or upper half of the address for types 2 and 4, both halves of the
// start address for types 3 and 5. The address field is always 0000.
static void ihex_format_address_record(ihex_writer_t *writer, char *line, uint32_t type, uint32_t value)
{
    bool is_start = type == IHEX_RECORD_START_SEGMENT_ADDRESS || type == IHEX_RECORD_START_LINEAR_ADDRESS;
    bool is_linear = type == IHEX_RECORD_EXTENDED_LINEAR_ADDRESS || type == IHEX_RECORD_START_LINEAR_ADDRESS;
    uint32_t count = is_start ? 4 : 2;
    uint32_t first = is_linear ? value >> 16 : (value >> 4) & 0xF000;

    char *out = line;
    *out++ = ':';
    out = put_byte(out, count);
    out = put_word(out, 0);
    out = put_byte(out, type);
    out = put_word(out, first);
    uint32_t sum = count + type + (first >> 8) + (first & 0xFF);
    if (is_start) {
        uint32_t second = value & 0xFFFF;
        out = put_word(out, second);
        sum += (second >> 8) + (second & 0xFF);
    }
    put_line_end(out, sum);
    writer->line_count++;
}

void ihex_writer_init(ihex_writer_t *writer)
{
    writer->address_mode = IHEX_ADDRESS_MODE_LINEAR;
    writer->max_record_bytes = 32;
    writer->start_address_present = 0;
    writer->start_address = 0;
    writer->skip_fill = 1;
    writer->fill_value = 0xFF;
    writer->data = nullptr;
    writer->address = 0;
    writer->remaining = 0;
    writer->line_count = 0;
    writer->data_byte_count = 0;
}

// The block is used up: either wait for the next one or close the stream
// with the pending start record and the end-of-file record.
static int ihex_close_block(ihex_writer_t *writer, char *line, uint8_t last_block)
{
    if (!last_block)
        return IHEX_WRITE_END_OF_BLOCK;
    if (!writer->start_address_present) {
        for (size_t i = 0; i < sizeof end_of_file_record; i++)
            line[i] = end_of_file_record[i];
        writer->line_count++;
        return IHEX_WRITE_END_OF_BLOCK;
    }
    writer->start_address_present = 0;
    switch (writer->address_mode) {
    case IHEX_ADDRESS_MODE_SEGMENT:
        ihex_format_address_record(writer, line, IHEX_RECORD_START_SEGMENT_ADDRESS, writer->start_address);
        return IHEX_WRITE_LINE_READY;
    case IHEX_ADDRESS_MODE_LINEAR:
        ihex_format_address_record(writer, line, IHEX_RECORD_START_LINEAR_ADDRESS, writer->start_address);
        return IHEX_WRITE_LINE_READY;
    default:
        return IHEX_WRITE_START_ADDRESS_DROPPED;
    }
}

int ihex_write_line(ihex_writer_t *writer, char *line, uint8_t last_block)
{
    if (writer->remaining == 0)
        return ihex_close_block(writer, line, last_block);

    // A run of fill bytes that would begin a line is left out.
    if (writer->skip_fill && writer->data[0] == writer->fill_value) {
        const uint8_t *p = writer->data;
        const uint8_t *end = p + writer->remaining;
        while (p != end && *p == writer->fill_value)
            p++;
        uint32_t skipped = uint32_t(p - writer->data);
        writer->data = p;
        writer->address += skipped;
        writer->remaining -= skipped;
        if (writer->remaining == 0)
            return ihex_close_block(writer, line, last_block);
    }

    // The 16-bit mode has no address records: upper_address, never set in
    // that mode, is not even looked at.
    if (writer->address_mode != IHEX_ADDRESS_MODE_16BIT &&
        (writer->line_count == 0 || (writer->address >> 16) != writer->upper_address)) {
        switch (writer->address_mode) {
        case IHEX_ADDRESS_MODE_SEGMENT:
            writer->upper_address = writer->address >> 16;
            ihex_format_address_record(writer, line, IHEX_RECORD_EXTENDED_SEGMENT_ADDRESS, writer->address);
            return IHEX_WRITE_LINE_READY;
        case IHEX_ADDRESS_MODE_LINEAR:
            writer->upper_address = writer->address >> 16;
            ihex_format_address_record(writer, line, IHEX_RECORD_EXTENDED_LINEAR_ADDRESS, writer->address);
            return IHEX_WRITE_LINE_READY;
        default:
            assert(0);
        }
    }

    uint32_t count = writer->remaining < writer->max_record_bytes ? writer->remaining : writer->max_record_bytes;
    uint32_t low_address = writer->address & 0xFFFF;
    char *out = line;
    *out++ = ':';
    out = put_byte(out, count);
    out = put_word(out, low_address);
    out = put_byte(out, IHEX_RECORD_DATA);
    uint32_t sum = count + (low_address >> 8) + (low_address & 0xFF);
    for (uint32_t i = 0; i < count; i++) {
        out = put_byte(out, writer->data[i]);
        sum += writer->data[i];
    }
    put_line_end(out, sum);

    writer->data_byte_count += count;
    writer->line_count++;
    writer->data += count;
    writer->address += count;
    writer->remaining -= count;
    return IHEX_WRITE_LINE_READY;
}

void ihex_line_buffer_init(ihex_line_buffer_t *buffer, char *storage, uint32_t capacity)
{
    buffer->storage = storage;
    buffer->capacity = capacity;
    buffer->length = 0;
    buffer->too_long = 0;
}

int ihex_line_buffer_feed(ihex_line_buffer_t *buffer, const char *chunk, uint32_t size, uint32_t *used)
{
    uint32_t i = 0;
    // The end of the input ends a line as a line end does.
    bool begun = buffer->length != 0 || buffer->too_long;
    int result = chunk == nullptr && begun ? IHEX_FEED_LINE : IHEX_FEED_MORE;
    while (i < size) {
        char c = chunk[i++];
        if (c == '\r' || c == '\n') {
            if (buffer->length != 0 || buffer->too_long) {
                result = IHEX_FEED_LINE;
                break;
            }
        } else if (buffer->too_long || buffer->length + 1 >= buffer->capacity) {
            buffer->too_long = 1; // dropped up to its end
        } else {
            buffer->storage[buffer->length++] = c;
        }
    }
    *used = i;
    if (result == IHEX_FEED_LINE) {
        if (buffer->too_long)
            result = IHEX_FEED_TOO_LONG;
        else
            buffer->storage[buffer->length] = '\0';
        buffer->length = 0;
        buffer->too_long = 0;
    }
    return result;
}

uint32_t ihex_hex_decode(const char *text, uint8_t *bytes, uint32_t count)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    for (uint32_t i = 0; i < count; i++) {
        uint32_t byte;
        if (!read_byte(p, &byte))
            return i;
        bytes[i] = uint8_t(byte);
    }
    return count;
}

void ihex_hex_encode(char *text, const uint8_t *bytes, uint32_t count)
{
    for (uint32_t i = 0; i < count; i++)
        text = put_byte(text, bytes[i]);
}

const char *ihex_result_text(int result)
{
    switch (result) {
    case IHEX_RESULT_OK:
        return "ok";
    case IHEX_RESULT_EOF:
        return "end-of-file record";
    case IHEX_RESULT_EXTRA_CHARACTERS:
        return "extra characters";
    case IHEX_RESULT_INVALID_START_CODE:
        return "invalid start code";
    case IHEX_RESULT_INVALID_LINE:
        return "invalid IHEX line";
    case IHEX_RESULT_INVALID_RECORD:
        return "invalid record";
    case IHEX_RESULT_CHECKSUM_MISMATCH:
        return "checksum mismatch";
    case IHEX_RESULT_DUPLICATE_START_ADDRESS:
        return "duplicate start address record";
    case IHEX_RESULT_ADDRESS_OUT_OF_RANGE:
        return "address out of range";
    default:
        return "unknown error";
    }
}
