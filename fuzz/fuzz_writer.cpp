// Fuzz target: a random block through the writer, every line parsed back by
// the reader; the bytes and addresses recovered must be the block's, less
// only the fill runs that begin a line.
#include "ihex.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

uint32_t take32(const uint8_t *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 12)
        return 0;
    ihex_writer_t writer;
    ihex_writer_init(&writer);
    writer.address_mode = static_cast<ihex_address_mode_t>(1 + bytes[0] % 3);
    writer.max_record_bytes = uint8_t(bytes[1] == 0 ? 1 : bytes[1]);
    writer.skip_fill = bytes[2] & 1;
    writer.fill_value = bytes[3];
    bool with_start = (bytes[2] & 2) && writer.address_mode != IHEX_ADDRESS_MODE_16BIT;
    uint32_t start = take32(bytes + 8);
    if (writer.address_mode == IHEX_ADDRESS_MODE_SEGMENT)
        start &= 0xFFFFF; // the start segment record reaches 1 MiB
    writer.start_address_present = with_start;
    writer.start_address = start;

    const uint8_t *block = bytes + 12;
    uint32_t length = uint32_t(size - 12);
    uint64_t limit = writer.address_mode == IHEX_ADDRESS_MODE_16BIT ? 0x10000
                     : writer.address_mode == IHEX_ADDRESS_MODE_SEGMENT ? 0x100000
                                                                        : uint64_t(1) << 32;
    if (length > limit)
        return 0;
    uint32_t base = uint32_t(take32(bytes + 4) % (limit - length + 1));
    writer.data = block;
    writer.address = base;
    writer.remaining = length;

    ihex_reader_t reader;
    ihex_reader_init(&reader);
    std::vector<int> seen(length, 0);
    char line[600];
    uint8_t data[256];
    uint32_t lines = 0, data_bytes = 0;
    bool ended = false;
    for (int calls = 0; !ended; calls++) {
        if (calls > 3 * int(length) + 10)
            abort(); // the stream must end
        int result = ihex_write_line(&writer, line, 1);
        if (result == IHEX_WRITE_START_ADDRESS_DROPPED)
            abort(); // no start address is asked for in 16-bit mode
        lines++;
        size_t n = strlen(line);
        if (n < 13 || line[n - 2] != '\r' || line[n - 1] != '\n')
            abort();
        uint32_t address = 0, count = 0;
        int parsed = ihex_parse_line(&reader, line, &address, &count, data);
        if (result == IHEX_WRITE_END_OF_BLOCK) {
            if (parsed != IHEX_RESULT_EOF || writer.remaining != 0)
                abort();
            ended = true;
            continue;
        }
        if (parsed != IHEX_RESULT_OK)
            abort();
        if (count == 0)
            continue;
        if (address < base || uint64_t(address) + count > uint64_t(base) + length)
            abort();
        for (uint32_t i = 0; i < count; i++) {
            uint32_t at = address - base + i;
            if (seen[at]++ || data[i] != block[at])
                abort();
        }
        data_bytes += count;
    }
    // every byte that is not a skipped fill byte came through
    for (uint32_t i = 0; i < length; i++)
        if (!seen[i] && !(writer.skip_fill && block[i] == writer.fill_value))
            abort();
    if (writer.line_count != lines || writer.data_byte_count != data_bytes)
        abort();
    if (with_start != bool(reader.start_address_present) || (with_start && reader.start_address != start))
        abort();
    return 0;
}
