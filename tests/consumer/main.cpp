// SPDX-License-Identifier: MIT
// Parses one data record and writes its bytes back as a record.
#include <quillkit/ihex.h>
#include <quillkit/quillkit.h>

#include <cstdio>
#include <cstring>

int main()
{
    ihex_reader_t reader;
    ihex_reader_init(&reader);
    uint32_t address = 0, length = 0;
    uint8_t data[255];
    if (ihex_parse_line(&reader, ":0300300002337A1E\r\n", &address, &length, data) != IHEX_RESULT_OK)
        return 1;

    ihex_writer_t writer;
    ihex_writer_init(&writer);
    writer.address_mode = IHEX_ADDRESS_MODE_16BIT;
    writer.data = data;
    writer.address = address;
    writer.remaining = length;
    char line[32];
    if (ihex_write_line(&writer, line, 0) != IHEX_WRITE_LINE_READY)
        return 1;
    fputs(line, stdout);
    return strcmp(line, ":0300300002337A1E\r\n") == 0 ? 0 : 1;
}
