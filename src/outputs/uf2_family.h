// SPDX-License-Identifier: MIT
// uf2_family.h: the families of UF2 files, by name or number, as
// --uf2-family gives them.
#pragma once

#include <cstdint>

// A short name, as Microsoft's list of families gives it, and its number.
// uf2_families ends with a null name.
struct uf2_family_t {
    const char *name;
    uint32_t id;
};
extern const uf2_family_t uf2_families[];
// The family of a name, letter case ignored; null for none.
const uf2_family_t *uf2_family_find(const char *name);
// --uf2-family: a family's name in any letter case, or a number; *name is
// null for a number that names no known family. Anything else is a usage
// error that suggests the nearest name.
void uf2_family_read(const char *value, const char **name, uint32_t *id);
// What "--uf2-family list" prints; ends the run.
[[noreturn]] void uf2_list_families();
