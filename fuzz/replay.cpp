// SPDX-License-Identifier: MIT
// A fuzz target run once over each file named, as libFuzzer replays a corpus:
// the test suite's builds have no libFuzzer. Any finding aborts.
#include <cstdint>
#include <cstdio>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        FILE *file = fopen(argv[i], "rb");
        if (file == nullptr)
            return perror(argv[i]), 1;
        std::vector<uint8_t> bytes;
        for (int c; (c = getc(file)) != EOF;)
            bytes.push_back(uint8_t(c));
        fclose(file);
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    return argc > 1 ? 0 : 1;
}
