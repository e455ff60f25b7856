// SPDX-License-Identifier: MIT
// elf.cpp: the loadable sections of a linked ELF file, 32- or 64-bit,
// of either byte order, with the load addresses objcopy gives them.
#include "inputs/elf.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace {

// The headers as the ELF format lays them out in each class, with its names.
// Their fields are read from the file at these offsets, in its byte order.
struct elf32_header_t {
    uint8_t e_ident[16];
    uint16_t e_type, e_machine;
    uint32_t e_version, e_entry, e_phoff, e_shoff, e_flags;
    uint16_t e_ehsize, e_phentsize, e_phnum, e_shentsize, e_shnum, e_shstrndx;
};
struct elf64_header_t {
    uint8_t e_ident[16];
    uint16_t e_type, e_machine;
    uint32_t e_version;
    uint64_t e_entry, e_phoff, e_shoff;
    uint32_t e_flags;
    uint16_t e_ehsize, e_phentsize, e_phnum, e_shentsize, e_shnum, e_shstrndx;
};
struct elf32_program_header_t {
    uint32_t p_type, p_offset, p_vaddr, p_paddr, p_filesz, p_memsz, p_flags, p_align;
};
struct elf64_program_header_t {
    uint32_t p_type, p_flags;
    uint64_t p_offset, p_vaddr, p_paddr, p_filesz, p_memsz, p_align;
};
struct elf32_section_header_t {
    uint32_t sh_name, sh_type, sh_flags, sh_addr, sh_offset, sh_size, sh_link, sh_info, sh_addralign, sh_entsize;
};
struct elf64_section_header_t {
    uint32_t sh_name, sh_type;
    uint64_t sh_flags, sh_addr, sh_offset, sh_size;
    uint32_t sh_link, sh_info;
    uint64_t sh_addralign, sh_entsize;
};
static_assert(sizeof(elf32_header_t) == 52 && sizeof(elf64_header_t) == 64 && sizeof(elf32_program_header_t) == 32 &&
              sizeof(elf64_program_header_t) == 56 && sizeof(elf32_section_header_t) == 40 &&
              sizeof(elf64_section_header_t) == 64, "the headers have the ELF format's sizes");

// A field of a header: its offset and width in the 32-bit and 64-bit forms.
struct field_t {
    size_t at32, width32, at64, width64;
};
#define FIELD(header, name)                                                                                         \
    field_t{offsetof(elf32_##header##_t, name), sizeof(elf32_##header##_t::name), offsetof(elf64_##header##_t, name), \
            sizeof(elf64_##header##_t::name)}
constexpr field_t e_type = FIELD(header, e_type), e_entry = FIELD(header, e_entry), e_phoff = FIELD(header, e_phoff),
    e_shoff = FIELD(header, e_shoff), e_phentsize = FIELD(header, e_phentsize), e_phnum = FIELD(header, e_phnum),
    e_shentsize = FIELD(header, e_shentsize), e_shnum = FIELD(header, e_shnum), e_shstrndx = FIELD(header, e_shstrndx);
constexpr field_t p_type = FIELD(program_header, p_type), p_offset = FIELD(program_header, p_offset),
    p_vaddr = FIELD(program_header, p_vaddr), p_paddr = FIELD(program_header, p_paddr),
    p_filesz = FIELD(program_header, p_filesz), p_memsz = FIELD(program_header, p_memsz);
constexpr field_t sh_name = FIELD(section_header, sh_name), sh_type = FIELD(section_header, sh_type),
    sh_flags = FIELD(section_header, sh_flags), sh_addr = FIELD(section_header, sh_addr),
    sh_offset = FIELD(section_header, sh_offset), sh_size = FIELD(section_header, sh_size),
    sh_link = FIELD(section_header, sh_link), sh_info = FIELD(section_header, sh_info);

constexpr uint32_t ET_REL = 1, ET_EXEC = 2, ET_DYN = 3, PT_LOAD = 1, PT_TLS = 7, SHT_NULL = 0, SHT_NOBITS = 8;
constexpr uint64_t SHF_ALLOC = 2, SHF_TLS = 0x400;

// A field of the header at `base`, which the caller has checked lies in the file.
uint64_t get(const elf_file_t &elf, uint64_t base, field_t field)
{
    const uint8_t *p = elf.bytes + base + (elf.wide ? field.at64 : field.at32);
    size_t width = elf.wide ? field.width64 : field.width32;
    uint64_t value = 0;
    for (size_t i = 0; i < width; i++)
        value |= uint64_t(p[i]) << 8 * (elf.big ? width - 1 - i : i);
    return value;
}

// The file's error, "'app.elf': <what is wrong>", for the reader to return.
#define fail(elf, format, ...) input_error((elf)->error, 0, "'%s': " format, (elf)->error->path __VA_OPT__(, ) __VA_ARGS__)

// Whether `count` entries of `entry_size` bytes from `offset` lie in the file.
bool table_fits(const elf_file_t &elf, uint64_t offset, uint64_t count, uint64_t entry_size)
{
    return offset <= elf.size && (count == 0 || (elf.size - offset) / count >= entry_size);
}

// An address of the file as 32 bits: a 64-bit one that is a sign-extended
// 32-bit address keeps its low half; any other above 4 GiB does not fit.
bool to_32_bits(const elf_file_t &elf, uint64_t address, uint32_t *out)
{
    *out = uint32_t(address);
    return address <= 0xFFFFFFFF || (elf.wide && address >= 0xFFFFFFFF80000000);
}

// Whether [at, at + size) lies in [first, first + length].
bool inside(uint64_t at, uint64_t size, uint64_t first, uint64_t length)
{
    return at >= first && at - first <= length && size <= length - (at - first);
}

} // namespace

bool elf_is_elf(const uint8_t *bytes, size_t size)
{
    return size >= 4 && memcmp(bytes, "\x7F" "ELF", 4) == 0;
}


bool elf_open(elf_file_t *elf, const uint8_t *bytes, size_t size, input_error_t *error)
{
    *elf = elf_file_t{};
    elf->error = error;
    elf->bytes = bytes;
    elf->size = size;
    if (!elf_is_elf(bytes, size))
        return fail(elf, "not an ELF file");
    if (size < 16)
        return fail(elf, "shorter than its ELF header");
    if (bytes[4] != 1 && bytes[4] != 2)
        return fail(elf, "ELF class %u, neither 32- nor 64-bit", bytes[4]);
    if (bytes[5] != 1 && bytes[5] != 2)
        return fail(elf, "ELF data encoding %u, neither little- nor big-endian", bytes[5]);
    if (bytes[6] != 1)
        return fail(elf, "ELF version %u, not 1", bytes[6]);
    elf->wide = bytes[4] == 2;
    elf->big = bytes[5] == 2;
    bool w = elf->wide;
    if (size < (w ? sizeof(elf64_header_t) : sizeof(elf32_header_t)))
        return fail(elf, "shorter than its ELF header");
    uint64_t type = get(*elf, 0, e_type);
    if (type == ET_REL)
        return fail(elf, "a relocatable object, not linked; link it first");
    if (type != ET_EXEC && type != ET_DYN)
        return fail(elf, "ELF type %u, neither an executable nor a shared object", unsigned(type));

    // Section headers; counts too large for the ELF header are in section 0.
    elf->shoff = get(*elf, 0, e_shoff);
    elf->shentsize = get(*elf, 0, e_shentsize);
    elf->phoff = get(*elf, 0, e_phoff);
    elf->phentsize = get(*elf, 0, e_phentsize);
    uint64_t shnum = get(*elf, 0, e_shnum), phnum = get(*elf, 0, e_phnum), shstrndx = get(*elf, 0, e_shstrndx);
    if (elf->shoff == 0)
        return fail(elf, "no section headers");
    if (elf->shentsize < (w ? sizeof(elf64_section_header_t) : sizeof(elf32_section_header_t)) ||
        !table_fits(*elf, elf->shoff, 1, elf->shentsize))
        return fail(elf, "section headers past the end of the file");
    elf->shnum = shnum != 0 ? shnum : get(*elf, elf->shoff, sh_size);
    elf->phnum = phnum != 0xFFFF ? phnum : get(*elf, elf->shoff, sh_info);
    shstrndx = shstrndx != 0xFFFF ? shstrndx : get(*elf, elf->shoff, sh_link);
    if (!table_fits(*elf, elf->shoff, elf->shnum, elf->shentsize))
        return fail(elf, "section headers past the end of the file");
    if (elf->phnum != 0 &&
        (elf->phentsize < (w ? sizeof(elf64_program_header_t) : sizeof(elf32_program_header_t)) ||
         !table_fits(*elf, elf->phoff, elf->phnum, elf->phentsize)))
        return fail(elf, "program headers past the end of the file");
    if (shstrndx >= elf->shnum)
        return fail(elf, "section name table index %llu out of range: the file has %llu sections",
                    static_cast<unsigned long long>(shstrndx), static_cast<unsigned long long>(elf->shnum));
    if (shstrndx != 0) { // 0: the file names no sections
        elf->names = get(*elf, elf->shoff + shstrndx * elf->shentsize, sh_offset);
        elf->names_size = get(*elf, elf->shoff + shstrndx * elf->shentsize, sh_size);
        if (!inside(elf->names, elf->names_size, 0, size))
            return fail(elf, "section name table past the end of the file");
    }
    uint64_t entry = get(*elf, 0, e_entry);
    if (!to_32_bits(*elf, entry, &elf->start_address))
        return fail(elf, "entry point %llXh above 4 GiB", static_cast<unsigned long long>(entry));
    elf->start_present = entry != 0;
    return true;
}

// Keeps the loadable segments in `segments`, in header order; returns their
// count. Some linkers leave every p_paddr 0: *use_paddr is false then, and
// the sections' own addresses are their load addresses.
static size_t read_segments(const elf_file_t &elf, elf_segment_t *segments, bool *use_paddr)
{
    size_t count = 0, loads = 0;
    *use_paddr = false;
    for (uint64_t i = 0; i < elf.phnum; i++) {
        uint64_t header = elf.phoff + i * elf.phentsize, type = get(elf, header, p_type);
        *use_paddr = *use_paddr || get(elf, header, p_paddr) != 0;
        loads += type == PT_LOAD && get(elf, header, p_memsz) != 0;
        if (type == PT_LOAD || type == PT_TLS)
            segments[count++] = {get(elf, header, p_offset), get(elf, header, p_filesz), get(elf, header, p_vaddr),
                                 get(elf, header, p_memsz), i, 0, type == PT_TLS};
    }
    *use_paddr = *use_paddr || loads < 2;
    return count;
}

// The end of [first, first + size), kept below 2^64.
static uint64_t end_of(uint64_t first, uint64_t size)
{
    return first + std::min(size, UINT64_MAX - first);
}

// Sorts a copy of the segments by where they begin in the file (`in_memory`
// false) or in memory, and gives each the furthest reach of those up to it.
static void sort_by_start(elf_segment_t *sorted, size_t count, bool in_memory)
{
    auto start = [in_memory](const elf_segment_t &s) { return in_memory ? s.address : s.offset; };
    std::sort(sorted, sorted + count, [&](const elf_segment_t &a, const elf_segment_t &b) {
        return start(a) != start(b) ? start(a) < start(b) : a.index < b.index;
    });
    for (size_t i = 0; i < count; i++) {
        uint64_t reach = in_memory ? end_of(sorted[i].address, sorted[i].memory_size)
                                   : end_of(sorted[i].offset, sorted[i].file_size);
        sorted[i].reach = i == 0 ? reach : std::max(reach, sorted[i - 1].reach);
    }
}

// The segments of a sorted copy that may hold [first, first + length): those
// that begin at or below `first` and, by the reach of those up to them, may
// end at or past its end. Reach only grows along the copy, so they are one
// run, found by two searches.
static std::pair<const elf_segment_t *, const elf_segment_t *> window(const elf_segment_t *sorted, size_t count,
                                                                      uint64_t first, uint64_t length,
                                                                      bool in_memory)
{
    uint64_t end = end_of(first, length);
    const elf_segment_t *after = std::partition_point(sorted, sorted + count, [&](const elf_segment_t &s) {
        return (in_memory ? s.address : s.offset) <= first;
    });
    const elf_segment_t *from = std::partition_point(sorted, after, [&](const elf_segment_t &s) {
        return s.reach < end;
    });
    return {from, after};
}

// Whether a segment holds the section's bytes in the file and its addresses
// in memory, and is of the kind it needs.
static bool holds(const elf_segment_t &s, uint64_t offset, uint64_t length, uint64_t address, bool tls)
{
    return s.tls == tls && inside(offset, length, s.offset, s.file_size) &&
           inside(address, length, s.address, s.memory_size);
}

// The program header of the first segment in header order, of the kind the
// section needs, that holds the section's bytes in the file and its
// addresses in memory; UINT64_MAX when none does. Of the segments that may
// hold its file range and those that may hold its addresses, the fewer are
// searched; when both are many, the segments in header order up to the first
// that holds it.
static uint64_t segment_of(const elf_segment_t *segments, size_t count, uint64_t offset, uint64_t length,
                           uint64_t address, bool tls)
{
    auto in_file = window(segments + count, count, offset, length, false);
    auto in_memory = window(segments + 2 * count, count, address, length, true);
    auto fewer = in_file.second - in_file.first <= in_memory.second - in_memory.first ? in_file : in_memory;
    constexpr ptrdiff_t few = 64;
    uint64_t found = UINT64_MAX;
    if (fewer.second - fewer.first <= few) {
        for (const elf_segment_t *s = fewer.first; s != fewer.second; s++)
            if (s->index < found && holds(*s, offset, length, address, tls))
                found = s->index;
        return found;
    }
    for (const elf_segment_t *s = segments; s != segments + count; s++)
        if (holds(*s, offset, length, address, tls))
            return s->index;
    return found;
}

bool elf_sections(elf_file_t *elf, elf_segment_t *segments, void (*on_piece)(void *context, const elf_piece_t *piece),
                  void *context)
{
    bool use_paddr;
    size_t segment_count = read_segments(*elf, segments, &use_paddr);
    std::copy(segments, segments + segment_count, segments + segment_count);
    std::copy(segments, segments + segment_count, segments + 2 * segment_count);
    sort_by_start(segments + segment_count, segment_count, false);
    sort_by_start(segments + 2 * segment_count, segment_count, true);
    for (uint64_t i = 1; i < elf->shnum; i++) { // section 0 is reserved
        uint64_t header = elf->shoff + i * elf->shentsize, flags = get(*elf, header, sh_flags);
        uint64_t offset = get(*elf, header, sh_offset), length = get(*elf, header, sh_size);
        uint64_t address = get(*elf, header, sh_addr), name_at = get(*elf, header, sh_name);
        uint64_t type = get(*elf, header, sh_type);
        const char *name = "(unnamed)";
        if (elf->names_size != 0) {
            const uint8_t *names = elf->bytes + elf->names;
            if (name_at >= elf->names_size || memchr(names + name_at, 0, elf->names_size - name_at) == nullptr)
                return fail(elf, "the name of section %llu runs past the end of the section name table",
                            static_cast<unsigned long long>(i));
            name = reinterpret_cast<const char *>(names + name_at);
        }
        if (type != SHT_NULL && type != SHT_NOBITS && !inside(offset, length, 0, elf->size))
            return fail(elf, "section %.64s: its bytes lie past the end of the file", name);
        // an inactive section (SHT_NULL) has no bytes, whatever its header says
        if ((flags & SHF_ALLOC) == 0 || type == SHT_NULL || type == SHT_NOBITS || length == 0)
            continue;
        uint64_t load = address;
        uint64_t segment = use_paddr ? segment_of(segments, segment_count, offset, length, address,
                                                  (flags & SHF_TLS) != 0)
                                     : UINT64_MAX;
        if (segment != UINT64_MAX) {
            uint64_t header = elf->phoff + segment * elf->phentsize;
            load = get(*elf, header, p_paddr) + (offset - get(*elf, header, p_offset));
        }
        elf_piece_t piece{name, 0, 0, uint32_t(length), elf->bytes + offset};
        if (!to_32_bits(*elf, load, &piece.load_address) || length > (uint64_t(1) << 32) - piece.load_address)
            return fail(elf, "section %.64s at %llXh, %llu bytes, reaches beyond FFFFFFFFh", name,
                        static_cast<unsigned long long>(load), static_cast<unsigned long long>(length));
        to_32_bits(*elf, address, &piece.run_address);
        on_piece(context, &piece);
    }
    return true;
}
