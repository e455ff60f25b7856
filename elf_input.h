// SPDX-License-Identifier: MIT
// elf_input.h: the loadable pieces of a linked ELF file, as objcopy makes an
// Intel HEX image of them, read from a buffer that holds the whole file.
// No input or output, no allocation: every offset and size is checked
// against the buffer before it is used.
#pragma once

#include <cstddef>
#include <cstdint>

// Whether a file that begins with these bytes is an ELF file.
bool elf_is_elf(const uint8_t *bytes, size_t size);

// One section that goes into the image: its `size` bytes at `bytes` belong at
// `load_address` (the LMA) and run at `run_address` (the VMA, sh_addr).
struct elf_piece_t {
    const char *name; // in the file's section name table, or "(unnamed)"
    uint32_t load_address;
    uint32_t run_address;
    uint32_t size;
    const uint8_t *bytes;
};

struct elf_result_t {
    bool start_present; // e_entry, when it is not 0
    uint32_t start_address;
    char error[160];    // what is wrong with the file; empty when it was read
};

/*
 * Reads the ELF file in `file` (`size` bytes) and calls `on_piece` for every
 * section with SHF_ALLOC, bytes in the file (not SHT_NOBITS) and a size above
 * 0, in section header order. Its load address is that of the first program
 * header that holds it (PT_LOAD, or PT_TLS for a TLS section): p_paddr plus
 * its offset in the segment; else, or when every p_paddr is 0 and two or
 * more PT_LOADs have a size, sh_addr. A 64-bit address that is a
 * sign-extended 32-bit one keeps its low 32 bits. Returns false, with
 * result->error set, for a file it cannot take: too short for its headers,
 * headers or a section's bytes past its end, no section headers, a class or
 * byte order it does not know, an address above 4 GiB, or not an executable
 * or shared object.
 */
bool elf_read(const uint8_t *file, size_t size, elf_result_t *result,
              void (*on_piece)(void *context, const elf_piece_t *piece), void *context);
