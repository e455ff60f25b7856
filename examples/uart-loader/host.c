/* SPDX-License-Identifier: MIT */
/* host.c: runs the loader on a PC. The flash is memory, and the wire is a
 * file handed over in chunks of random sizes, as a UART's interrupts would.
 *   uart-loader SLOT_FIRST SLOT_LAST INPUT.hex SLOT.bin [SEED]
 * writes the slot as the flash holds it at the end (SEED 0: the file in one
 * chunk), and exits with status 0 when the loader accepted it. */
#include "loader.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static uint8_t *flash;          /* the slot's pages */
static uint32_t flash_address;  /* of the first of them */

void flash_read_page(uint32_t address, uint8_t *page)
{
    memcpy(page, flash + (address - flash_address), LOADER_PAGE_SIZE);
}

void flash_write_page(uint32_t address, const uint8_t *page)
{
    memcpy(flash + (address - flash_address), page, LOADER_PAGE_SIZE);
}

static const char *result_name(int result)
{
    switch (result) {
    case IHEX_RESULT_ADDRESS_OUT_OF_RANGE:
        return "a record outside the slot";
    case LOADER_LINE_TOO_LONG:
        return "a line too long";
    case LOADER_NO_END_OF_FILE:
        return "no end-of-file record";
    case LOADER_CRC_MISMATCH:
        return "the slot's CRC does not match";
    case LOADER_SHA256_MISMATCH:
        return "the slot's SHA-256 does not match";
    default:
        return "a bad record";
    }
}

int main(int argc, char **argv)
{
    static loader_t loader;
    uint32_t first, last, jump, random_state, at = 0;
    long size;
    char *text;
    FILE *file;
    int result;
    if (argc < 5) {
        fprintf(stderr, "usage: uart-loader SLOT_FIRST SLOT_LAST INPUT.hex SLOT.bin [SEED]\n");
        return 2;
    }
    first = (uint32_t)strtoul(argv[1], NULL, 0);
    last = (uint32_t)strtoul(argv[2], NULL, 0);
    random_state = argc > 5 ? (uint32_t)strtoul(argv[5], NULL, 0) : 1;
    file = fopen(argv[3], "rb");
    if (file == NULL || fseek(file, 0, SEEK_END) != 0 || (size = ftell(file)) < 0 || fseek(file, 0, SEEK_SET) != 0) {
        perror(argv[3]);
        return 2;
    }
    text = malloc((size_t)size + 1);
    flash_address = first - first % LOADER_PAGE_SIZE;
    flash = malloc((size_t)(last - flash_address) / LOADER_PAGE_SIZE * LOADER_PAGE_SIZE + LOADER_PAGE_SIZE);
    if (text == NULL || flash == NULL || fread(text, 1, (size_t)size, file) != (size_t)size) {
        fprintf(stderr, "%s: cannot read it whole\n", argv[3]);
        return 2;
    }
    fclose(file);

    loader_init(&loader, first, last);
    result = IHEX_RESULT_OK;
    while (result == IHEX_RESULT_OK && at < (uint32_t)size) {
        uint32_t chunk = (uint32_t)size - at;
        random_state = random_state * 1103515245u + 12345u;
        if (random_state != 0 && chunk > 1 + (random_state >> 16) % 64)
            chunk = 1 + (random_state >> 16) % 64;
        result = loader_feed(&loader, text + at, chunk);
        at += chunk;
    }
    free(text);
    if (result == IHEX_RESULT_OK)
        result = loader_finish(&loader, &jump);
    if (result != IHEX_RESULT_OK) {
        free(flash);
        printf("refused: %s (code %d)", result_name(result), result);
        if (result < LOADER_NO_END_OF_FILE)
            printf(" at line %u", (unsigned)loader.line_count); /* blank lines not counted */
        printf("\n");
        return 1;
    }
    file = fopen(argv[4], "wb");
    if (file == NULL || fwrite(flash + (first - flash_address), 1, last - first + 1, file) != last - first + 1 ||
        fclose(file) != 0) {
        perror(argv[4]);
        return 2;
    }
    free(flash);
    printf("slot %08Xh - %08Xh loaded, CRC-32 checked; jump to %08Xh\n", (unsigned)first, (unsigned)last,
           (unsigned)jump);
    return 0;
}
