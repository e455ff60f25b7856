// SPDX-License-Identifier: MIT
// elf.h: the loadable sections of a linked ELF file, as objcopy makes an
// Intel HEX image of them, read from a buffer that holds the whole file.
// No input or output, no allocation: every offset and size is checked
// against the buffer before it is used.
#pragma once

#include "inputs/inputs.h"

#include <cstddef>
#include <cstdint>

// Whether a file that begins with these bytes is an ELF file.
bool elf_is_elf(const uint8_t *bytes, size_t size);

// An ELF file whose headers elf_open has checked: its magic, class, byte
// order and version, its type, and that its header tables and section name
// table lie within it.
struct elf_file_t {
    const uint8_t *bytes;
    size_t size;
    bool wide; // 64-bit
    bool big;  // big-endian
    uint64_t shoff, shentsize, shnum, phoff, phentsize, phnum;
    uint64_t names, names_size; // the section name table; size 0 without one
    bool start_present;         // e_entry, when it is not 0
    uint32_t start_address;
    input_error_t *error;       // what is wrong with the file, once something is
};

// Checks the headers of the `size` bytes at `bytes` and fills *elf. Returns
// false, with *error set (its path names the file), for a file it cannot take: not ELF, too short
// for its headers, header tables past its end, a class, byte order or
// version it does not know, a section name table out of range, an entry
// point above 4 GiB, or not an executable or shared object.
bool elf_open(elf_file_t *elf, const uint8_t *bytes, size_t size, input_error_t *error);

// A loadable segment (PT_LOAD or PT_TLS) as elf_sections keeps it in the
// caller's room: its bytes in the file, its addresses in memory, its program
// header, and, in a copy sorted by where it begins in the file or in memory,
// the furthest that any segment up to it in that order reaches.
struct elf_segment_t {
    uint64_t offset, file_size;
    uint64_t address, memory_size;
    uint64_t index;
    uint64_t reach;
    bool tls;
};

// One section that goes into the image: its `size` bytes at `bytes` belong at
// `load_address` (the LMA) and run at `run_address` (the VMA, sh_addr).
struct elf_piece_t {
    const char *name; // in the file's section name table, or "(unnamed)" without one
    uint32_t load_address;
    uint32_t run_address;
    uint32_t size;
    const uint8_t *bytes;
};

/*
 * Calls `on_piece` for every section with SHF_ALLOC, bytes in the file (not
 * SHT_NOBITS) and a size above 0, in section header order. Its load address
 * is that of the first program header that holds it (PT_LOAD, or PT_TLS for
 * a TLS section): p_paddr plus its offset in the segment; else, or when
 * every p_paddr is 0 and two or more PT_LOADs have a size, sh_addr. A 64-bit
 * address that is a sign-extended 32-bit one keeps its low 32 bits.
 * `segments` is the caller's room for 3 * elf->phnum entries; the program
 * headers are read there once, in their order and sorted by file offset and
 * by address, so that each section finds its own by a search. Returns false, with *elf->error set, when a section's name or bytes
 * (whether it is loaded or not) lie past the end of their table or of the
 * file, or a loaded section reaches beyond 4 GiB.
 */
bool elf_sections(elf_file_t *elf, elf_segment_t *segments, void (*on_piece)(void *context, const elf_piece_t *piece),
                  void *context);
