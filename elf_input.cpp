// SPDX-License-Identifier: MIT
// elf_input.cpp: the loadable sections of a linked ELF file, 32- or 64-bit,
// of either byte order, with the load addresses objcopy gives them.
#include "elf_input.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// A field of a header: its offset and width in the 32-bit and 64-bit forms.
struct field_t {
    uint8_t at[2], width[2];
};
constexpr field_t e_type{{16, 16}, {2, 2}}, e_entry{{24, 24}, {4, 8}}, e_phoff{{28, 32}, {4, 8}},
    e_shoff{{32, 40}, {4, 8}}, e_phentsize{{42, 54}, {2, 2}}, e_phnum{{44, 56}, {2, 2}},
    e_shentsize{{46, 58}, {2, 2}}, e_shnum{{48, 60}, {2, 2}}, e_shstrndx{{50, 62}, {2, 2}};
constexpr field_t p_type{{0, 0}, {4, 4}}, p_offset{{4, 8}, {4, 8}}, p_vaddr{{8, 16}, {4, 8}},
    p_paddr{{12, 24}, {4, 8}}, p_filesz{{16, 32}, {4, 8}}, p_memsz{{20, 40}, {4, 8}};
constexpr field_t sh_name{{0, 0}, {4, 4}}, sh_type{{4, 4}, {4, 4}}, sh_flags{{8, 8}, {4, 8}},
    sh_addr{{12, 16}, {4, 8}}, sh_offset{{16, 24}, {4, 8}}, sh_size{{20, 32}, {4, 8}}, sh_link{{24, 40}, {4, 4}},
    sh_info{{28, 44}, {4, 4}};
constexpr uint32_t header_size[2] = {52, 64}, program_header_size[2] = {32, 56}, section_header_size[2] = {40, 64};

constexpr uint32_t ET_REL = 1, ET_EXEC = 2, ET_DYN = 3, PT_LOAD = 1, PT_TLS = 7, SHT_NOBITS = 8;
constexpr uint64_t SHF_ALLOC = 2, SHF_TLS = 0x400;

struct elf_t {
    const uint8_t *file;
    size_t size;
    int wide;     // 0 for 32-bit, 1 for 64-bit
    bool big;     // big-endian
    elf_result_t *result;
};

// A field of the header at `base`, which the caller has checked lies in the file.
uint64_t get(const elf_t &elf, uint64_t base, field_t field)
{
    const uint8_t *p = elf.file + base + field.at[elf.wide];
    uint64_t value = 0;
    for (int i = 0; i < field.width[elf.wide]; i++)
        value |= uint64_t(p[i]) << 8 * (elf.big ? field.width[elf.wide] - 1 - i : i);
    return value;
}

bool fail(const elf_t &elf, const char *format, ...) __attribute__((format(printf, 2, 3)));
bool fail(const elf_t &elf, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(elf.result->error, sizeof elf.result->error, format, arguments);
    va_end(arguments);
    return false;
}

// Whether `count` entries of `entry_size` bytes from `offset` lie in the file.
bool table_fits(const elf_t &elf, uint64_t offset, uint64_t count, uint64_t entry_size)
{
    return offset <= elf.size && (count == 0 || (elf.size - offset) / count >= entry_size);
}

// An address of the file as 32 bits: a 64-bit one that is a sign-extended
// 32-bit address keeps its low half; any other above 4 GiB does not fit.
bool to_32_bits(const elf_t &elf, uint64_t address, uint32_t *out)
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

bool elf_read(const uint8_t *file, size_t size, elf_result_t *result,
              void (*on_piece)(void *context, const elf_piece_t *piece), void *context)
{
    *result = elf_result_t{false, 0, ""};
    elf_t elf{file, size, 0, false, result};
    if (size < 16)
        return fail(elf, "shorter than its ELF header");
    if (file[4] != 1 && file[4] != 2)
        return fail(elf, "ELF class %u, neither 32- nor 64-bit", file[4]);
    if (file[5] != 1 && file[5] != 2)
        return fail(elf, "ELF data encoding %u, neither little- nor big-endian", file[5]);
    elf.wide = file[4] - 1;
    elf.big = file[5] == 2;
    int w = elf.wide;
    if (size < header_size[w])
        return fail(elf, "shorter than its ELF header");
    uint64_t type = get(elf, 0, e_type);
    if (type == ET_REL)
        return fail(elf, "a relocatable object, not linked; link it first");
    if (type != ET_EXEC && type != ET_DYN)
        return fail(elf, "ELF type %u, neither an executable nor a shared object", unsigned(type));

    // Section headers; counts too large for the ELF header are in section 0.
    uint64_t shoff = get(elf, 0, e_shoff), shentsize = get(elf, 0, e_shentsize), shnum = get(elf, 0, e_shnum);
    uint64_t phoff = get(elf, 0, e_phoff), phentsize = get(elf, 0, e_phentsize), phnum = get(elf, 0, e_phnum);
    uint64_t shstrndx = get(elf, 0, e_shstrndx);
    if (shoff == 0)
        return fail(elf, "no section headers");
    if (shentsize < section_header_size[w] || !table_fits(elf, shoff, 1, shentsize))
        return fail(elf, "section headers past the end of the file");
    shnum = shnum != 0 ? shnum : get(elf, shoff, sh_size);
    phnum = phnum != 0xFFFF ? phnum : get(elf, shoff, sh_info);
    shstrndx = shstrndx != 0xFFFF ? shstrndx : get(elf, shoff, sh_link);
    if (!table_fits(elf, shoff, shnum, shentsize))
        return fail(elf, "section headers past the end of the file");
    if (phnum != 0 && (phentsize < program_header_size[w] || !table_fits(elf, phoff, phnum, phentsize)))
        return fail(elf, "program headers past the end of the file");
    uint64_t names = 0, names_size = 0;
    if (shstrndx != 0 && shstrndx < shnum) {
        names = get(elf, shoff + shstrndx * shentsize, sh_offset);
        names_size = get(elf, shoff + shstrndx * shentsize, sh_size);
        if (!inside(names, names_size, 0, size))
            return fail(elf, "section name table past the end of the file");
    }

    // Some linkers leave every p_paddr 0: then the addresses are sh_addr's.
    bool use_paddr = false;
    uint64_t loads = 0;
    for (uint64_t i = 0; i < phnum; i++) {
        use_paddr = use_paddr || get(elf, phoff + i * phentsize, p_paddr) != 0;
        loads += get(elf, phoff + i * phentsize, p_type) == PT_LOAD && get(elf, phoff + i * phentsize, p_memsz) != 0;
    }
    use_paddr = use_paddr || loads < 2;

    for (uint64_t i = 1; i < shnum; i++) { // section 0 is reserved
        uint64_t header = shoff + i * shentsize, flags = get(elf, header, sh_flags);
        uint64_t offset = get(elf, header, sh_offset), length = get(elf, header, sh_size);
        uint64_t address = get(elf, header, sh_addr), name_at = get(elf, header, sh_name);
        if ((flags & SHF_ALLOC) == 0 || get(elf, header, sh_type) == SHT_NOBITS || length == 0)
            continue;
        const char *name = "(unnamed)";
        if (names_size != 0) {
            const void *end = name_at < names_size ? memchr(file + names + name_at, 0, names_size - name_at) : nullptr;
            if (end == nullptr)
                return fail(elf, "the name of section %llu runs past the end of the section name table",
                            static_cast<unsigned long long>(i));
            name = reinterpret_cast<const char *>(file + names + name_at);
        }
        if (!inside(offset, length, 0, size))
            return fail(elf, "section %.64s: its bytes lie past the end of the file", name);
        uint64_t load = address;
        for (uint64_t j = 0; j < phnum && use_paddr; j++) {
            uint64_t program = phoff + j * phentsize, start = get(elf, program, p_offset);
            if (get(elf, program, p_type) == ((flags & SHF_TLS) != 0 ? PT_TLS : PT_LOAD) &&
                inside(offset, length, start, get(elf, program, p_filesz)) &&
                inside(address, length, get(elf, program, p_vaddr), get(elf, program, p_memsz))) {
                load = get(elf, program, p_paddr) + (offset - start);
                break;
            }
        }
        elf_piece_t piece{name, 0, 0, uint32_t(length), file + offset};
        if (!to_32_bits(elf, load, &piece.load_address) || length > (uint64_t(1) << 32) - piece.load_address)
            return fail(elf, "section %.64s at %llXh, %llu bytes, reaches beyond FFFFFFFFh", name,
                        static_cast<unsigned long long>(load), static_cast<unsigned long long>(length));
        to_32_bits(elf, address, &piece.run_address);
        on_piece(context, &piece);
    }

    uint64_t entry = get(elf, 0, e_entry);
    if (!to_32_bits(elf, entry, &result->start_address))
        return fail(elf, "entry point %llXh above 4 GiB", static_cast<unsigned long long>(entry));
    result->start_present = entry != 0;
    return true;
}
