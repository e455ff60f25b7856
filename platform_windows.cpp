// SPDX-License-Identifier: MIT
// platform_windows.cpp: the platform face on Windows. Paths arrive as UTF-8
// and go to the system as UTF-16, so that a name in any script works; a file
// is known by its volume serial number and file index, whatever its
// spelling; an output replaces the old one with MoveFileExW; the system's
// errors are told as the C library's errno, so that messages read as they
// do elsewhere.
#include "platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <io.h>
#include <malloc.h>
#include <windows.h>
#include <shellapi.h>

namespace {

constexpr int longest_path = 32768;

// `text` as UTF-16 in `wide`; false (errno EINVAL) when it is no UTF-8.
bool widen(const char *text, wchar_t (&wide)[longest_path])
{
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, longest_path) != 0)
        return true;
    errno = EINVAL;
    return false;
}

void set_errno_from_system()
{
    DWORD error = GetLastError();
    errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT
            : error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? EACCES
            : error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL      ? ENOSPC
                                                                               : EIO;
}

bool describe(HANDLE handle, platform_file_t *file)
{
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle, &information)) {
        set_errno_from_system();
        return false;
    }
    bool folder = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    *file = platform_file_t{information.dwVolumeSerialNumber,
                            uint64_t(information.nFileIndexHigh) << 32 | information.nFileIndexLow,
                            uint64_t(information.nFileSizeHigh) << 32 | information.nFileSizeLow, folder,
                            !folder && GetFileType(handle) == FILE_TYPE_DISK};
    return true;
}

} // namespace

void platform_arguments(int *argc, char ***argv)
{
    // The command line as the system holds it, in UTF-16, made UTF-8; the
    // console shows what the commands print as UTF-8 too.
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), argc);
    if (wide == nullptr)
        return;
    *argv = static_cast<char **>(calloc(size_t(*argc) + 1, sizeof(char *)));
    for (int i = 0; *argv != nullptr && i < *argc; i++) {
        int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        (*argv)[i] = static_cast<char *>(malloc(size_t(size)));
        if ((*argv)[i] == nullptr)
            abort();
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, (*argv)[i], size, nullptr, nullptr);
    }
    if (*argv == nullptr)
        abort();
    LocalFree(wide);
    SetConsoleOutputCP(CP_UTF8);
    // Errors and warnings end with LF alone, as elsewhere, also in a log;
    // the console shows them alike.
    _setmode(_fileno(stderr), _O_BINARY);
}

FILE *platform_open(const char *path, const char *mode)
{
    static wchar_t wide_path[longest_path];
    wchar_t wide_mode[16];
    if (!widen(path, wide_path) || MultiByteToWideChar(CP_UTF8, 0, mode, -1, wide_mode, 16) == 0)
        return nullptr;
    FILE *stream = _wfopen(wide_path, wide_mode);
    DWORD attributes = GetFileAttributesW(wide_path);
    if (stream == nullptr && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        errno = EISDIR; // as a folder is refused elsewhere
    return stream;
}

bool platform_stat(const char *path, platform_file_t *file)
{
    static wchar_t wide[longest_path];
    if (!widen(path, wide))
        return false;
    HANDLE handle = CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        set_errno_from_system();
        return false;
    }
    bool known = describe(handle, file);
    CloseHandle(handle);
    return known;
}

bool platform_stat_open(FILE *stream, platform_file_t *file)
{
    return describe(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), file);
}

FILE *platform_create_beside(const char *path, char (&temporary)[4096], char (&target)[4096])
{
    static wchar_t wide[longest_path], folder[longest_path], temporary_wide[MAX_PATH + 1];
    platform_file_t file;
    if (!widen(path, wide) || (platform_stat(path, &file) && !file.regular))
        return nullptr;
    wcscpy(folder, wide);
    wchar_t *slash = wcsrchr(folder, L'\\'), *other = wcsrchr(folder, L'/');
    slash = other > slash ? other : slash;
    if (slash != nullptr)
        slash[1] = L'\0';
    else
        wcscpy(folder, L".");
    // a name of its own in the same folder, created there
    if (GetTempFileNameW(folder, L"tsl", 0, temporary_wide) == 0)
        return nullptr;
    FILE *stream = _wfopen(temporary_wide, L"wb");
    if (stream == nullptr || WideCharToMultiByte(CP_UTF8, 0, temporary_wide, -1, temporary, sizeof temporary,
                                                 nullptr, nullptr) == 0) {
        if (stream != nullptr)
            fclose(stream);
        DeleteFileW(temporary_wide);
        return nullptr;
    }
    snprintf(target, sizeof target, "%s", path);
    return stream;
}

bool platform_replace(const char *temporary, const char *target)
{
    static wchar_t from[longest_path], to[longest_path];
    if (!widen(temporary, from) || !widen(target, to))
        return false;
    if (MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    set_errno_from_system();
    return false;
}

void platform_remove(const char *path)
{
    static wchar_t wide[longest_path];
    if (widen(path, wide))
        DeleteFileW(wide);
}

char *platform_read_line(char *line, int size, FILE *stream)
{
    return fgets(line, size, stream);
}

void *platform_alloc_block(size_t size)
{
    return _aligned_malloc(size, size);
}

void platform_free_block(void *block)
{
    _aligned_free(block);
}

void *platform_alloc_large(size_t size)
{
    return size == 0 ? nullptr : malloc(size);
}

void platform_trim_memory()
{
}
