/* SPDX-License-Identifier: MIT */
/* loader.c: gathers lines from the wire, parses each record, assembles flash
 * pages in any record order, and checks the slot's SHA-256 and CRC at the end. */
#include "loader.h"

#include <string.h>

/* The CRC that `tesslar-merge --crc CRC-32 --crc-at <the slot's last 4>`
 * stamps: the device defines its own record, so that it needs no catalogue. */
static const qkit_crc_t slot_crc = {"CRC-32/ISO-HDLC", 32, 0x04C11DB7, 0xFFFFFFFF, 1, 1, 0xFFFFFFFF, 0xCBF43926};

static void write_page(loader_t *loader)
{
    if (loader->page_loaded && loader->page_changed)
        flash_write_page(loader->page_address, loader->page);
    loader->page_changed = 0;
}

/* Makes the page that holds `address` the one in the buffer: the one there
 * is written if it changed, and the new one read, so that records may come
 * in any order. */
static void load_page(loader_t *loader, uint32_t address)
{
    uint32_t page_address = address - address % LOADER_PAGE_SIZE;
    if (loader->page_loaded && loader->page_address == page_address)
        return;
    write_page(loader);
    flash_read_page(page_address, loader->page);
    loader->page_address = page_address;
    loader->page_loaded = 1;
}

void loader_init(loader_t *loader, uint32_t slot_first, uint32_t slot_last)
{
    uint32_t address;
    loader->slot_first = slot_first;
    loader->slot_last = slot_last;
    ihex_reader_init(&loader->reader);
    ihex_line_buffer_init(&loader->gather, loader->line, LOADER_LINE_SIZE);
    loader->page_loaded = loader->page_changed = 0;
    loader->end_of_file = 0;
    loader->result = IHEX_RESULT_OK;
    loader->line_count = 0;
    memset(loader->page, 0xFF, LOADER_PAGE_SIZE);
    for (address = slot_first - slot_first % LOADER_PAGE_SIZE;; address += LOADER_PAGE_SIZE) {
        flash_write_page(address, loader->page);
        if (slot_last - address < LOADER_PAGE_SIZE)
            break;
    }
}

/* One line: a record, whose data goes into the pages. */
static int take_line(loader_t *loader, const char *line)
{
    uint32_t address = 0, length, i;
    int result = ihex_parse_line(&loader->reader, line, &address, &length, loader->data);
    if (result == IHEX_RESULT_EOF)
        loader->end_of_file = 1;
    if (result != IHEX_RESULT_OK)
        return result == IHEX_RESULT_EOF ? IHEX_RESULT_OK : result;
    if (length != 0 && (address < loader->slot_first || address > loader->slot_last ||
                        length - 1 > loader->slot_last - address))
        return IHEX_RESULT_ADDRESS_OUT_OF_RANGE;
    for (i = 0; i < length; i++) { /* a record may run into the next page */
        load_page(loader, address + i);
        loader->page[(address + i) % LOADER_PAGE_SIZE] = loader->data[i];
        loader->page_changed = 1;
    }
    return IHEX_RESULT_OK;
}

int loader_feed(loader_t *loader, const char *chunk, uint32_t size)
{
    while (loader->result == IHEX_RESULT_OK && !loader->end_of_file && (size != 0 || chunk == NULL)) {
        uint32_t used;
        int gathered = ihex_line_buffer_feed(&loader->gather, chunk, size, &used);
        if (chunk != NULL) {
            chunk += used;
            size -= used;
        }
        if (gathered == IHEX_FEED_MORE)
            break;
        loader->line_count++;
        loader->result = gathered == IHEX_FEED_LINE ? take_line(loader, loader->line) : LOADER_LINE_TOO_LONG;
    }
    return loader->result;
}

int loader_finish(loader_t *loader, uint32_t *jump)
{
    uint32_t address, state = qkit_crc_begin(&slot_crc), stored = 0, crc_at = loader->slot_last - 3;
    uint32_t sha_at = crc_at - 32;
    qkit_sha256_t sha;
    uint8_t digest[32];
    int i, sha_differs = 0;
    if (loader_feed(loader, NULL, 0) != IHEX_RESULT_OK)
        return loader->result;
    if (!loader->end_of_file)
        return LOADER_NO_END_OF_FILE;
    write_page(loader);
    /* every byte of the slot before its last four, as the flash holds them;
     * those before the digest into the SHA-256 too */
    qkit_sha256_begin(&sha);
    for (address = loader->slot_first; address < crc_at; address += LOADER_PAGE_SIZE - address % LOADER_PAGE_SIZE) {
        uint32_t offset = address % LOADER_PAGE_SIZE, size = LOADER_PAGE_SIZE - offset;
        if (size > crc_at - address)
            size = crc_at - address;
        load_page(loader, address);
        state = qkit_crc_update(&slot_crc, state, loader->page + offset, size);
        if (address < sha_at)
            qkit_sha256_update(&sha, loader->page + offset, size < sha_at - address ? size : sha_at - address);
    }
    qkit_sha256_end(&sha, digest);
    for (i = 0; i < 32; i++) {
        load_page(loader, sha_at + (uint32_t)i);
        sha_differs |= digest[i] != loader->page[(sha_at + (uint32_t)i) % LOADER_PAGE_SIZE];
    }
    for (i = 3; i >= 0; i--) {
        load_page(loader, crc_at + (uint32_t)i);
        stored = stored << 8 | loader->page[(crc_at + (uint32_t)i) % LOADER_PAGE_SIZE];
    }
    if (qkit_crc_end(&slot_crc, state) != stored)
        return LOADER_CRC_MISMATCH;
    if (sha_differs)
        return LOADER_SHA256_MISMATCH;
    *jump = loader->reader.start_address_present ? loader->reader.start_address : loader->slot_first;
    return IHEX_RESULT_OK;
}
