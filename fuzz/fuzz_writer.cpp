// SPDX-License-Identifier: MIT
// Fuzz target: a random block through the writer and every line back through
// the reader; each byte comes back once at its address, except the fill runs
// that begin a line, and the counters and start address agree.
#include "ihex.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 12)
        return 0;
    auto take32 = [&](size_t at) { return uint32_t(bytes[at] << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 | bytes[at + 3]); };
    ihex_writer_t writer;
    ihex_writer_init(&writer);
    writer.address_mode = ihex_address_mode_t(1 + bytes[0] % 3);
    writer.max_record_bytes = bytes[1] == 0 ? 1 : bytes[1];
    writer.skip_fill = bytes[2] & 1;
    writer.fill_value = bytes[3];
    uint64_t limit = uint64_t(1) << (writer.address_mode == IHEX_ADDRESS_MODE_16BIT ? 16 : writer.address_mode == IHEX_ADDRESS_MODE_SEGMENT ? 20 : 32);
    bool start = (bytes[2] & 2) && writer.address_mode != IHEX_ADDRESS_MODE_16BIT;
    writer.start_address_present = start;
    writer.start_address = uint32_t(take32(8) % (limit == 0x100000 ? limit : uint64_t(1) << 32));
    uint32_t length = uint32_t(size - 12);
    if (length > limit)
        return 0;
    uint32_t base = uint32_t(take32(4) % (limit - length + 1));
    writer.data = bytes + 12;
    writer.address = base;
    writer.remaining = length;

    ihex_reader_t reader;
    ihex_reader_init(&reader);
    std::vector<uint8_t> seen(length);
    char line[600];
    uint8_t data[256];
    uint32_t lines = 0, data_bytes = 0, address, count;
    for (int result = 0; result != IHEX_WRITE_END_OF_BLOCK; lines++) {
        result = ihex_write_line(&writer, line, 1);
        size_t n = strlen(line);
        int parsed = ihex_parse_line(&reader, line, &address, &count, data);
        if (lines > 3 * length + 10 || result == IHEX_WRITE_START_ADDRESS_DROPPED || n < 13 || line[n - 2] != '\r' ||
            line[n - 1] != '\n' || parsed != (result == IHEX_WRITE_END_OF_BLOCK ? IHEX_RESULT_EOF : IHEX_RESULT_OK) ||
            (count != 0 && (address < base || uint64_t(address) + count > uint64_t(base) + length)))
            abort();
        for (uint32_t i = 0; i < count; i++) // each byte once, and as it was
            if (seen[address - base + i]++ || data[i] != bytes[12 + address - base + i])
                abort();
        data_bytes += count;
    }
    for (uint32_t i = 0; i < length; i++)
        if (!seen[i] && !(writer.skip_fill && bytes[12 + i] == writer.fill_value))
            abort();
    if (writer.remaining != 0 || writer.line_count != lines || writer.data_byte_count != data_bytes ||
        reader.start_address_present != start || (start && reader.start_address != writer.start_address))
        abort();
    return 0;
}
