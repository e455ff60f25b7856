// SPDX-License-Identifier: MIT
// stamps.h: stamps read from the command line and checked where they go;
// within this folder only.
#pragma once

#include "cli/command.h"
#include "merge/slot.h"

// One more item at the end of `array`; the run ends when memory is out.
template <typename T> T *grow_or_die(growing_t<T> *array)
{
    T *item = grow(array, 1);
    if (item == nullptr)
        command_error("cannot allocate memory");
    return item;
}

// A stamp of the kind `name` names: a CRC, STM32 or one of the others;
// false for a name that is none of them.
bool stamp_take_kind(const char *name, stamp_t *stamp);
// "--stamp list" and "--crc list": every name, with what it computes; end the run.
[[noreturn]] void stamp_list(bool crcs_only);
// A --crc name, checked; a usage error suggests the nearest.
void stamp_check_crc_name(const char *name);
// "KIND@ADDRESS[,SETTING=VALUE]...", as the slot's next stamp.
void stamp_read(slot_t *slot, const char *value);

// The checks of the stamp at `index` that its place and range allow once
// they are known, each failure ending the run through `fail`
// (command_usage_error, or command_error for what the image decided): its
// bytes within FFFFFFFFh and what the mode reaches, none shared with another
// placed stamp, its range within reach, not holding the stamp, and of whole
// words where the kind reads words.
void stamp_check(const slot_t *slot, size_t index, bool range_known, void (*fail)(const char *format, ...));
