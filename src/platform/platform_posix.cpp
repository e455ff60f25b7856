// SPDX-License-Identifier: MIT
// platform_posix.cpp: the platform face on Linux and other POSIX systems.
// glibc's and Linux's extras are used where they exist, with plain POSIX
// where they do not.
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/mman.h>
#endif
#ifdef __GLIBC__
#include <malloc.h>
#endif

void platform_arguments(int *, char ***)
{
    // already UTF-8, or whatever the user's locale makes of them
}

FILE *platform_standard_input()
{
    return stdin;
}

FILE *platform_open(const char *path, const char *mode)
{
    FILE *stream = fopen(path, mode);
    platform_file_t file{};
    if (stream != nullptr && (!platform_stat_open(stream, &file) || file.folder)) {
        int error = file.folder ? EISDIR : errno;
        fclose(stream);
        errno = error;
        return nullptr;
    }
    return stream;
}

static void describe(const struct stat &status, platform_file_t *file)
{
    *file = platform_file_t{uint64_t(status.st_dev), uint64_t(status.st_ino), uint64_t(status.st_size),
                            S_ISDIR(status.st_mode), S_ISREG(status.st_mode)};
}

bool platform_stat(const char *path, platform_file_t *file)
{
    struct stat status;
    if (stat(path, &status) != 0)
        return false;
    describe(status, file);
    return true;
}

bool platform_stat_open(FILE *stream, platform_file_t *file)
{
    struct stat status;
    if (fstat(fileno(stream), &status) != 0)
        return false;
    describe(status, file);
    return true;
}

FILE *platform_create_beside(const char *path, char (&temporary)[4096], char (&target)[4096])
{
    // Through a symbolic link, the file it names is replaced.
    const char *file = path;
    struct stat status;
    if (lstat(path, &status) == 0 && S_ISLNK(status.st_mode) && realpath(path, target) != nullptr)
        file = target;
    bool exists = stat(file, &status) == 0;
    if (exists && !S_ISREG(status.st_mode))
        return nullptr;
    const char *name = strrchr(file, '/') == nullptr ? file : strrchr(file, '/') + 1;
    size_t length = snprintf(temporary, sizeof temporary, "%.*s.%s.XXXXXX", int(name - file), file, name);
    int descriptor = length < sizeof temporary ? mkstemp(temporary) : -1;
    if (descriptor < 0)
        return nullptr; // a folder we may not write in: in place, if at all
    mode_t mask = umask(0);
    umask(mask);
    fchmod(descriptor, exists ? status.st_mode & 07777 : 0666 & ~mask);
    if (file == path)
        snprintf(target, sizeof target, "%s", path);
    FILE *stream = fdopen(descriptor, "wb");
    if (stream == nullptr) {
        close(descriptor);
        remove(temporary);
    }
    return stream;
}

bool platform_sync(FILE *stream)
{
    return fsync(fileno(stream)) == 0;
}

bool platform_replace(const char *temporary, const char *target, bool sync)
{
    if (rename(temporary, target) != 0)
        return false;
    if (!sync)
        return true;
    // The rename is an entry of the folder, which reaches the disk only
    // when the folder itself is synced.
    const char *slash = strrchr(target, '/');
    char folder[4096];
    snprintf(folder, sizeof folder, "%.*s", slash == nullptr ? 1 : slash == target ? 1 : int(slash - target),
             slash == nullptr ? "." : target);
    int descriptor = open(folder, O_RDONLY | O_DIRECTORY);
    if (descriptor >= 0) {
        fsync(descriptor); // the file is in place already; a folder that cannot be synced changes nothing
        close(descriptor);
    }
    return true;
}

void platform_remove(const char *path)
{
    remove(path);
}

char *platform_read_line(char *line, int size, FILE *stream)
{
#ifdef __GLIBC__
    return fgets_unlocked(line, size, stream);
#else
    return fgets(line, size, stream);
#endif
}

// Large pages make the first touch of a big buffer one fault per 2 MiB
// instead of one per 4 KiB; the hint is only a hint.
constexpr size_t large_page = size_t(2) << 20;

static void *with_large_pages(void *buffer, size_t size)
{
#ifdef MADV_HUGEPAGE
    if (buffer != nullptr && size % large_page == 0)
        madvise(buffer, size, MADV_HUGEPAGE);
#endif
    return buffer;
}

void *platform_alloc_block(size_t size)
{
    return with_large_pages(aligned_alloc(size, size), size);
}

void platform_free_block(void *block)
{
    free(block);
}

// From 1 MiB on, rounding up to whole large pages wastes less than half.
void *platform_alloc_large(size_t size)
{
    size_t alignment = size >= large_page / 2 ? large_page : 64;
    if (size == 0 || size > SIZE_MAX - alignment)
        return nullptr;
    size_t rounded = (size + alignment - 1) / alignment * alignment;
    return with_large_pages(aligned_alloc(alignment, rounded), rounded);
}

void platform_trim_memory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}
