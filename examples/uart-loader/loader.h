/* SPDX-License-Identifier: MIT */
/* loader.h: the heart of a bootloader that receives an application as Intel
 * HEX over a UART and writes it into its flash slot, in C99 on quillkit.
 * The platform supplies the two flash hooks below. */
#ifndef LOADER_H
#define LOADER_H

#include <quillkit/ihex.h>
#include <quillkit/quillkit.h>

#include <stdint.h>

#define LOADER_PAGE_SIZE 1024u /* the flash page: erased and written whole */
#define LOADER_LINE_SIZE 128u  /* the longest line taken, with its NUL */

/* Results beyond the reader's IHEX_RESULT_* codes. */
enum {
    LOADER_LINE_TOO_LONG = 16,    /* a line longer than LOADER_LINE_SIZE - 1 */
    LOADER_NO_END_OF_FILE = 17,   /* the input ended before its end-of-file record */
    LOADER_CRC_MISMATCH = 18,     /* the slot's CRC is not the one stored in it */
    LOADER_SHA256_MISMATCH = 19   /* the slot's SHA-256 is not the one stored in it */
};

/* The platform's flash, one page at a time; `address` is a multiple of
 * LOADER_PAGE_SIZE. Writing a page erases it first. */
void flash_read_page(uint32_t address, uint8_t *page);
void flash_write_page(uint32_t address, const uint8_t *page);

typedef struct loader_t {
    /* The slot: every record must lie in it; its last four bytes hold a
     * CRC-32 (little-endian) of all the bytes before them, and the 32 before
     * those the SHA-256 of all the bytes before them. */
    uint32_t slot_first, slot_last;
    ihex_reader_t reader;
    ihex_line_buffer_t gather;
    char line[LOADER_LINE_SIZE];
    uint8_t data[(LOADER_LINE_SIZE - 1 - 9) / 2]; /* what the reader may store of such a line */
    uint8_t page[LOADER_PAGE_SIZE];
    uint32_t page_address; /* the page in `page`, when page_loaded */
    uint8_t page_loaded;
    uint8_t page_changed;  /* to be written before another page is read */
    uint8_t end_of_file;   /* the end-of-file record was read: the rest is ignored */
    int result;            /* IHEX_RESULT_OK, or the first fault */
    uint32_t line_count;   /* lines taken, blank ones not counted: the last is the fault's */
} loader_t;

/* Erases the pages of the slot, [slot_first, slot_last], and prepares
 * *loader. */
void loader_init(loader_t *loader, uint32_t slot_first, uint32_t slot_last);

/* Takes a chunk as it came off the wire. Returns IHEX_RESULT_OK, or the
 * first fault (which every later call returns too): a reader result, with
 * IHEX_RESULT_ADDRESS_OUT_OF_RANGE for data outside the slot, or
 * LOADER_LINE_TOO_LONG. */
int loader_feed(loader_t *loader, const char *chunk, uint32_t size);

/* The input has ended: writes the last page, checks the slot's SHA-256 and
 * CRC, and on
 * IHEX_RESULT_OK puts in *jump the start address (or the slot's first
 * address when the file carries none). */
int loader_finish(loader_t *loader, uint32_t *jump);

#endif
