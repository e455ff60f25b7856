// SPDX-License-Identifier: MIT
// c_array.cpp: an image view written as a C99 source that defines its bytes
// as an array, with the address of the first and their count.
#include "outputs/writers.h"

#include "cli/command.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char *c_array_name(const char *given, const char *path, char (&name)[128])
{
    // the output's base name without its ending, made an identifier
    const char *base = given != nullptr ? given : strrchr(path, '/') != nullptr ? strrchr(path, '/') + 1 : path;
    const char *dot = given != nullptr ? nullptr : strrchr(base, '.');
    size_t length = std::min(sizeof name - 2, dot != nullptr ? size_t(dot - base) : strlen(base)), n = 0;
    if (length == 0 || isdigit(static_cast<unsigned char>(base[0])))
        name[n++] = '_';
    for (size_t i = 0; i < length; i++)
        name[n++] = isalnum(static_cast<unsigned char>(base[i])) ? base[i] : '_';
    name[n] = '\0';
    if (strcmp(name, "_") == 0)
        snprintf(name, sizeof name, "image");
    return name;
}

void output_c_array(const image_view_t *view, output_t *output, const char *name, uint64_t *size)
{
    const image_piece_t *pieces = view->pieces.items;
    uint64_t first = view->pieces.count != 0 ? pieces[0].address : 0;
    *size = view->pieces.count != 0 ? pieces[view->pieces.count - 1].end - first : 0;
    output_sink_t *sink = output_sink_open(output);
    char *text = output_sink_room(sink, 1024);
    sink->used += size_t(snprintf(text, 1024,
                                  "/* The image of %s, from %08Xh: written by tesslar-merge. */\n"
                                  "#include <stdint.h>\n\n"
                                  "extern const uint32_t %s_address;\nextern const uint32_t %s_size;\n"
                                  "extern const uint8_t %s[];\n\n"
                                  "const uint32_t %s_address = 0x%08Xu;\nconst uint32_t %s_size = %lluu;\n"
                                  "const uint8_t %s[%llu] = {\n",
                                  name, uint32_t(first), name, name, name, name, uint32_t(first), name,
                                  static_cast<unsigned long long>(*size), name,
                                  static_cast<unsigned long long>(std::max<uint64_t>(*size, 1))));
    // the bytes from the lowest address to the highest, the gaps padded
    constexpr uint64_t chunk = 1 << 16;
    uint8_t *scratch = static_cast<uint8_t *>(allocate(chunk));
    size_t cursor = 0;
    for (uint64_t at = 0; at < *size; at += chunk) {
        uint64_t n = std::min(chunk, *size - at);
        const uint8_t *bytes = image_view_bytes(view, &cursor, first + at, n, scratch);
        for (uint64_t i = 0; i < n; i += 16) {
            char *line = output_sink_room(sink, 128), *out = line;
            out += sprintf(out, "   ");
            for (uint64_t j = i; j < std::min(n, i + 16); j++)
                out += sprintf(out, " 0x%02X,", bytes[j]);
            *out++ = '\n';
            sink->used += size_t(out - line);
        }
    }
    free(scratch);
    text = output_sink_room(sink, 16);
    sink->used += size_t(snprintf(text, 16, "%s};\n", *size == 0 ? "    0\n" : ""));
    output_sink_close(sink);
}
