// SPDX-License-Identifier: MIT
// gen: writes the benchmark's IHEX workloads, the same bytes on every run.
//   gen SHAPE BYTES RECORD_BYTES OUT [BASE]
// SHAPE: ascending, reversed-blocks (64 KiB blocks in reverse order, each
// ascending inside), descending, random (record order shuffled), sparse
// (eight regions of 1/256 of BYTES each, BYTES/8 apart, from 1 MiB on).
// BASE (default 0) is added to every address, and picks the bytes too.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

uint64_t random_state = 0x5DEECE66DULL;

uint64_t next_random()
{
    // splitmix64
    uint64_t z = (random_state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

struct writer_t {
    FILE *out;
    uint32_t upper;
    bool any;
};

void put_record(writer_t *w, uint32_t type, uint32_t address, const uint8_t *data, uint32_t n)
{
    char line[600];
    int at = sprintf(line, ":%02X%04X%02X", n, address & 0xFFFF, type);
    uint32_t sum = n + ((address >> 8) & 0xFF) + (address & 0xFF) + type;
    for (uint32_t i = 0; i < n; i++) {
        at += sprintf(line + at, "%02X", data[i]);
        sum += data[i];
    }
    sprintf(line + at, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
    fputs(line, w->out);
}

// A data record, preceded by an extended linear address record when its
// upper address bits differ from the last announced ones.
void put_data(writer_t *w, uint32_t address, const uint8_t *data, uint32_t n)
{
    if (!w->any || (address >> 16) != w->upper) {
        uint8_t upper[2] = {uint8_t(address >> 24), uint8_t(address >> 16)};
        put_record(w, 4, 0, upper, 2);
        w->upper = address >> 16;
        w->any = true;
    }
    put_record(w, 0, address, data, n);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 5 && argc != 6) {
        fprintf(stderr, "usage: gen SHAPE BYTES RECORD_BYTES OUT [BASE]\n");
        return 2;
    }
    const char *shape = argv[1];
    uint64_t size = strtoull(argv[2], nullptr, 0);
    uint32_t record = uint32_t(strtoul(argv[3], nullptr, 0));
    writer_t w{fopen(argv[4], "wb"), 0, false};
    if (w.out == nullptr || record == 0 || record > 255) {
        fprintf(stderr, "gen: bad arguments\n");
        return 2;
    }

    uint32_t base = argc == 6 ? uint32_t(strtoul(argv[5], nullptr, 0)) : 0;
    random_state += base;
    std::vector<uint8_t> image(size);
    for (uint8_t &b : image)
        b = uint8_t(next_random());

    // Records start every `record` bytes; the last one may be shorter.
    std::vector<uint32_t> starts;
    for (uint64_t a = 0; a < size; a += record)
        starts.push_back(uint32_t(a));
    auto emit = [&](uint32_t start, uint32_t at) {
        uint32_t n = uint32_t(size - start < record ? size - start : record);
        put_data(&w, base + at + start, image.data() + start, n);
    };

    if (strcmp(shape, "ascending") == 0) {
        for (uint32_t s : starts)
            emit(s, 0);
    } else if (strcmp(shape, "descending") == 0) {
        for (size_t i = starts.size(); i-- > 0;)
            emit(starts[i], 0);
    } else if (strcmp(shape, "reversed-blocks") == 0) {
        // records do not straddle blocks when record divides 64 KiB
        for (uint64_t block = (size + 0xFFFF) / 0x10000; block-- > 0;)
            for (uint32_t s : starts)
                if (s / 0x10000 == block)
                    emit(s, 0);
    } else if (strcmp(shape, "random") == 0) {
        for (size_t i = starts.size(); i > 1; i--)
            std::swap(starts[i - 1], starts[next_random() % i]);
        for (uint32_t s : starts)
            emit(s, 0);
    } else if (strcmp(shape, "sparse") == 0) {
        // eight regions of 1/256 of the size each, an eighth of the size apart,
        // from 1 MiB on
        uint64_t region = size / 256;
        for (int r = 0; r < 8; r++)
            for (uint64_t a = 0; a < region; a += record)
                emit(uint32_t(r * region + a), uint32_t(0x100000 + r * (size / 8 - region)));
    } else {
        fprintf(stderr, "gen: unknown shape %s\n", shape);
        return 2;
    }
    put_record(&w, 1, 0, nullptr, 0);
    return fclose(w.out) == 0 ? 0 : 1;
}
