// SPDX-License-Identifier: MIT
// Fuzz target: a byte stream in chunks through the line buffer and the
// reader (README.md says what must hold).
#include "ihex.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 2)
        return 0;
    uint32_t capacity = 1 + bytes[0] % 160, random = bytes[1], lines = 0;
    std::vector<char> storage(capacity);
    ihex_line_buffer_t buffer;
    ihex_line_buffer_init(&buffer, storage.data(), capacity);
    ihex_reader_t reader;
    ihex_reader_init(&reader);
    std::vector<uint8_t> data(capacity >= 10 ? (capacity - 10) / 2 : 0);
    for (size_t at = 2, taken = 2, chunk;; at += chunk) {
        random = random * 1103515245u + 12345u;
        chunk = std::min<size_t>(1 + (random >> 16) % 200, size - at);
        std::vector<char> piece(bytes + at, bytes + at + chunk); // a block of its own size
        const char *next = at == size ? nullptr : piece.data();  // null: the input has ended
        for (uint32_t done = 0, used, address, length;; done += used) {
            int result = ihex_line_buffer_feed(&buffer, next == nullptr ? nullptr : next + done, uint32_t(chunk - done), &used);
            taken += used;
            if (result == IHEX_FEED_MORE && done + used != chunk)
                abort();
            if (result == IHEX_FEED_MORE)
                break;
            const char *line = storage.data();
            if (result != IHEX_FEED_LINE)
                continue;
            int parsed = ihex_parse_line(&reader, line, &address, &length, data.empty() ? nullptr : data.data());
            if (strlen(line) > capacity - 1 || strpbrk(line, "\r\n") != nullptr || ++lines != reader.record_count ||
                parsed < 0 || parsed == 2 || parsed > IHEX_RESULT_DUPLICATE_START_ADDRESS ||
                (parsed == IHEX_RESULT_OK && (line[0] != ':' || length > data.size())))
                abort();
        }
        if (next == nullptr)
            return taken == size ? 0 : (abort(), 0);
    }
}
