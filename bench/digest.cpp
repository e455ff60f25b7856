// SPDX-License-Identifier: MIT
// digest: quillkit's SHA-256 and Adler-32 over one buffer in memory,
// in MB/s on one core, the median of five passes each, as a Markdown table.
//   digest [MIB]    (default 64)
#include <quillkit/quillkit.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

static double seconds_of(void (*pass)(const std::vector<uint8_t> &), const std::vector<uint8_t> &data)
{
    std::vector<double> times;
    for (int i = 0; i < 5; i++) {
        auto start = std::chrono::steady_clock::now();
        pass(data);
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[2];
}

static volatile uint32_t sink; // keeps each result alive

int main(int argc, char **argv)
{
    size_t size = size_t(argc > 1 ? atoi(argv[1]) : 64) << 20;
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; i++)
        data[i] = uint8_t(i * 2654435761u >> 24);
    struct {
        const char *name;
        void (*pass)(const std::vector<uint8_t> &);
    } kinds[] = {
        {"SHA-256", [](const std::vector<uint8_t> &d) {
             qkit_sha256_t sha;
             uint8_t digest[32];
             qkit_sha256_begin(&sha);
             qkit_sha256_update(&sha, d.data(), d.size());
             qkit_sha256_end(&sha, digest);
             sink = digest[0];
         }},
        {"Adler-32", [](const std::vector<uint8_t> &d) { sink = qkit_adler32(1, d.data(), d.size()); }},
    };
    printf("\nDigests in memory, one core, medians of 5 passes\n\n| digest | buffer | speed |\n|---|---:|---:|\n");
    for (const auto &kind : kinds)
        printf("| %s | %zu MiB | %.0f MB/s |\n", kind.name, size >> 20, size / seconds_of(kind.pass, data) / 1e6);
    return 0;
}
