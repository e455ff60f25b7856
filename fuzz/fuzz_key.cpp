// SPDX-License-Identifier: MIT
// Fuzz target: any bytes as the key file of an MCUboot image, PEM or DER
// inside (README.md says what must hold).
#include "merge/keys.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    std::vector<uint8_t> file(bytes, bytes + size); // a block of its own size: reads past it show
    signing_key_t key;
    char why[160] = "";
    bool read = key_parse(&key, file.data(), size, why);
    // a key has a public part, else the reason is said
    if (read ? key.der_size == 0 || key.der_size > sizeof key.der : why[0] == '\0' || memchr(why, 0, sizeof why) == nullptr)
        abort();
    if (read)
        key_free(&key);
    return 0;
}
