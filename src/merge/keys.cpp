// SPDX-License-Identifier: MIT
// keys.cpp: a key file read whole, its bytes cleared once parsed.
#include "merge/keys.h"

#include "cli/command.h"
#include "platform/platform.h"

#include <cstdio>

void key_read(signing_key_t *key, const char *path)
{
    FILE *file = platform_open(path, "rb");
    if (file == nullptr)
        file_error("cannot open key file", path);
    static uint8_t bytes[1 << 16];
    size_t size = fread(bytes, 1, sizeof bytes, file);
    bool failed = ferror(file) != 0;
    fclose(file);
    char why[160];
    bool read = !failed && size < sizeof bytes && key_parse(key, bytes, size, why);
    for (volatile uint8_t *p = bytes; p < bytes + size; p++) // a private key's bytes stay nowhere
        *p = 0;
    if (failed)
        file_error("cannot read key file", path);
    if (!read)
        command_error("'%s' is %s", path, size == sizeof bytes ? "longer than any key file" : why);
}
