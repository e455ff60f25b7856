// SPDX-License-Identifier: MIT
// A user of the installed library: parses a data record and writes its bytes
// back as a record; exit status 0 when the two lines agree. Each header comes
// first somewhere (ihex.h in the fuzz targets), to show it needs nothing before it.
#include <quillkit/quillkit.h>
#include <quillkit/ihex.h>

#include <cstring>

int main()
{
    const char *record = ":0300300002337A1E\r\n";
    ihex_reader_t reader;
    ihex_writer_t writer;
    uint8_t data[255];
    char line[32] = "";
    ihex_reader_init(&reader);
    ihex_writer_init(&writer);
    writer.address_mode = IHEX_ADDRESS_MODE_16BIT;
    writer.data = data;
    bool read = ihex_parse_line(&reader, record, &writer.address, &writer.remaining, data) == IHEX_RESULT_OK;
    return read && ihex_write_line(&writer, line, 0) == IHEX_WRITE_LINE_READY && strcmp(line, record) == 0 ? 0 : 1;
}
