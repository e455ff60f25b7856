// Fuzz target: any bytes as one record line, on a reader in any state.
// Beyond not crashing, checks what a caller relies on.
#include "ihex.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks the reader's state; the rest is the line, in a
    // block of exactly its length plus the NUL so that any read past the
    // terminator is caught.
    ihex_reader_t reader;
    ihex_reader_init(&reader);
    reader.start_address_present = bytes[0] & 1;
    reader.base_address = (bytes[0] & 2) ? 0xFFFF0000u : (bytes[0] & 4) ? 0x000FFFF0u : 0;
    reader.record_count = (bytes[0] & 8) ? 0xFFFFFFFFu : 7;
    ihex_reader_t before = reader;

    char *line = static_cast<char *>(malloc(size));
    memcpy(line, bytes + 1, size - 1);
    line[size - 1] = '\0';

    uint8_t data[256];
    memset(data, 0xA5, sizeof data);
    uint32_t address = 0x12345678, length = 0;
    int result = ihex_parse_line(&reader, line, &address, &length, (bytes[0] & 16) ? nullptr : data);

    if (result < IHEX_RESULT_OK || result > IHEX_RESULT_DUPLICATE_START_ADDRESS || result == 2)
        abort();
    if (length > 255)
        abort();
    if (reader.record_count != before.record_count + 1)
        abort();
    // nothing is stored beyond the record's own bytes
    for (size_t i = length; i < sizeof data; i++)
        if (data[i] != 0xA5)
            abort();
    if (result == IHEX_RESULT_OK && line[0] != ':')
        abort();
    // only a data record moves the address
    if (address != 0x12345678 && (strlen(line) < 9 || line[7] != '0' || line[8] != '0'))
        abort();
    free(line);
    return 0;
}
