// SPDX-License-Identifier: MIT
// file.h: an output file that takes the place of the old one only once
// whole, and the buffer that writers fill it through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

/*
 * An output written to a temporary file beside it and renamed over it once
 * whole, so that a failed run (or a crash of the program) leaves neither a
 * partial file nor a damaged earlier one; several outputs are put in place
 * together, once every one is whole. A device, a pipe or anything else that
 * cannot be replaced is written in place, and "-" is standard output (the
 * report then goes to standard error). Until output_commit, a command_error
 * removes the temporary file.
 *
 * Nothing is flushed to the disk unless output_sync_to_disk asked for it
 * (--sync), as build tools write their outputs; then each file is synced
 * before its rename and its folder after it, so that a power cut leaves the
 * old file or the new one.
 */
void output_sync_to_disk();
struct output_t {
    FILE *stream;
    const char *path;
    char temporary[4096]; // empty when written in place
    char target[4096];    // the file the temporary one replaces
};
bool output_open(output_t *output, const char *path);
// Flushes and closes the stream (the temporary file, synced to the disk);
// false, with errno telling why, on a failed write.
bool output_close(output_t *output);
// Puts a closed output's temporary file in its place; false, with errno
// telling why, when it cannot, and the temporary file is gone.
bool output_commit(output_t *output);

// What a writer writes, gathered and written out in large pieces; a failed
// write ends the run. output_sink_room gives room for `size` bytes (at most
// sizeof text) at text + used, which the writer then counts in `used`.
struct output_sink_t {
    output_t *output;
    size_t used;
    char text[1 << 15];
};
output_sink_t *output_sink_open(output_t *output);
char *output_sink_room(output_sink_t *sink, size_t size);
// Writes `size` bytes after what is gathered, a large run straight out.
void output_sink_put(output_sink_t *sink, const void *data, uint64_t size);
// Writes what is gathered, and frees the sink.
void output_sink_close(output_sink_t *sink);
