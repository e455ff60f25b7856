// SPDX-License-Identifier: MIT
// platform.h: what differs between the systems the commands run on, behind
// one face: platform_posix.cpp for Linux and other POSIX systems,
// platform_windows.cpp for Windows; the build takes one of them. Paths are
// UTF-8 on every system. A failure leaves its reason in errno, for strerror.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The command line as UTF-8, whatever the system hands over.
void platform_arguments(int *argc, char ***argv);

// fopen with a UTF-8 path; a folder gives null with errno EISDIR.
FILE *platform_open(const char *path, const char *mode);
// Standard input, read as bytes (no CR LF turned into LF).
FILE *platform_standard_input();

// What the system tells of a file: its identity (two paths name the same
// file when both numbers agree, whatever their spelling or links), its size
// and its kind.
struct platform_file_t {
    uint64_t volume, index;
    uint64_t size;
    bool folder;
    bool regular; // a file on a disk, which a rename can replace
};
bool platform_stat(const char *path, platform_file_t *file);    // through symbolic links
bool platform_stat_open(FILE *stream, platform_file_t *file);

// Whether `path` names the file that `file` describes, by its identity: a
// hard or a symbolic link to it counts, and so does another spelling.
inline bool platform_same_file(const char *path, const platform_file_t *file)
{
    platform_file_t other;
    return platform_stat(path, &other) && other.volume == file->volume && other.index == file->index;
}

// A new file beside the one `path` names, to be renamed over it once whole:
// its stream, with its own name in `temporary` and the file it will replace
// in `target` (through a symbolic link, the file the link names). On POSIX
// systems an existing file's permissions are given to it; on Windows it
// takes its folder's, as any new file does. Null when `path` cannot be
// replaced by a rename (a device, a pipe) or nothing can be created beside
// it: the caller then writes `path` in place.
FILE *platform_create_beside(const char *path, char (&temporary)[4096], char (&target)[4096]);
// Puts what was written to `stream` (flushed from its buffer already) on
// the disk, so that it outlives a power cut.
bool platform_sync(FILE *stream);
// Puts `temporary` in the place of `target`, in one step; with `sync`, the
// folder's new entry on the disk too.
bool platform_replace(const char *temporary, const char *target, bool sync);
void platform_remove(const char *path);

// fgets, without the locking that one thread does not need where the system
// offers that.
char *platform_read_line(char *line, int size, FILE *stream);

// Memory: a block aligned to its own size (a power of two), freed with
// platform_free_block; a large buffer that the system may back with large
// pages, freed with free() (and grown with realloc()); and a hint that the
// memory freed so far may go back to the system.
void *platform_alloc_block(size_t size);
void platform_free_block(void *block);
void *platform_alloc_large(size_t size);
void platform_trim_memory();
