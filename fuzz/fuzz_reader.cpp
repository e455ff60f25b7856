// SPDX-License-Identifier: MIT
// Fuzz target: any bytes as one record line, on a reader in any state; the
// line sits in a block of exactly its size, so a read past the NUL is seen.
#include "ihex.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 1)
        return 0;
    ihex_reader_t reader; // the first byte picks its state
    ihex_reader_init(&reader);
    reader.start_address_present = bytes[0] & 1;
    reader.base_address = (bytes[0] & 2) ? 0xFFFF0000u : (bytes[0] & 4) ? 0x000FFFF0u : 0;
    uint32_t count = reader.record_count = (bytes[0] & 8) ? 0xFFFFFFFFu : 7;
    std::vector<char> line(bytes + 1, bytes + size);
    line.push_back('\0');
    uint8_t data[256];
    memset(data, 0xA5, sizeof data);
    uint32_t address = 0x12345678, length = 0;
    int result = ihex_parse_line(&reader, line.data(), &address, &length, (bytes[0] & 16) ? nullptr : data);

    bool data_record = strlen(line.data()) >= 9 && line[7] == '0' && line[8] == '0';
    if (result < 0 || result > IHEX_RESULT_DUPLICATE_START_ADDRESS || result == 2 || length > 255 ||
        reader.record_count != count + 1 || (result == IHEX_RESULT_OK && line[0] != ':') ||
        (address != 0x12345678 && !data_record))
        abort();
    for (size_t i = length; i < sizeof data; i++) // nothing stored beyond the record's bytes
        if (data[i] != 0xA5)
            abort();
    return 0;
}
