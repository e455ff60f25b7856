// SPDX-License-Identifier: MIT
// platform_windows.cpp: the platform face on Windows. Paths arrive as UTF-8
// and go to the system as UTF-16, so that a name in any script works; a file
// is known by its volume serial number and file index, whatever its
// spelling; an output replaces the old one with MoveFileExW; the system's
// errors are told as the C library's errno, so that messages read as they
// do elsewhere.
#include "platform/platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <cwchar>

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

// The system's errors that a user meets with files, as the C library's
// errno, whose strerror says what happened; anything else is EIO.
constexpr struct {
    DWORD error;
    int errno_value;
} system_errors[] = {
    {ERROR_FILE_NOT_FOUND, ENOENT},      {ERROR_PATH_NOT_FOUND, ENOENT},      {ERROR_BAD_PATHNAME, ENOENT},
    {ERROR_INVALID_DRIVE, ENOENT},       {ERROR_BAD_NETPATH, ENOENT},         {ERROR_BAD_NET_NAME, ENOENT},
    {ERROR_ACCESS_DENIED, EACCES},       {ERROR_SHARING_VIOLATION, EACCES},   {ERROR_LOCK_VIOLATION, EACCES},
    {ERROR_WRITE_PROTECT, EROFS},        {ERROR_INVALID_NAME, EINVAL},        {ERROR_DIRECTORY, ENOTDIR},
    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG}, {ERROR_DISK_FULL, ENOSPC},    {ERROR_HANDLE_DISK_FULL, ENOSPC},
    {ERROR_FILE_EXISTS, EEXIST},         {ERROR_ALREADY_EXISTS, EEXIST},      {ERROR_NOT_SAME_DEVICE, EXDEV},
    {ERROR_TOO_MANY_OPEN_FILES, EMFILE}, {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},   {ERROR_OUTOFMEMORY, ENOMEM},
    {ERROR_NOT_READY, EAGAIN},           {ERROR_CURRENT_DIRECTORY, EACCES},   {ERROR_DIR_NOT_EMPTY, ENOTEMPTY},
};

void set_errno_from_system()
{
    DWORD error = GetLastError();
    errno = EIO;
    for (const auto &known : system_errors)
        if (known.error == error)
            errno = known.errno_value;
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
    // The console shows UTF-8 while the command runs, and what it showed
    // before once it ends.
    static UINT previous_code_page = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
    atexit([] { SetConsoleOutputCP(previous_code_page); });
    // Errors and warnings end with LF alone, as elsewhere, also in a log;
    // the console shows them alike.
    _setmode(_fileno(stderr), _O_BINARY);
}

// A path the system takes whatever its length: a full one beyond MAX_PATH
// is given the \\?\ prefix that lifts the limit.
static bool system_path(const char *path, wchar_t (&wide)[longest_path])
{
    static wchar_t given[longest_path];
    if (!widen(path, given))
        return false;
    DWORD length = GetFullPathNameW(given, longest_path - 8, wide + 4, nullptr);
    if (length == 0 || length >= longest_path - 8 || length < MAX_PATH - 12 || wcsncmp(given, L"\\\\?\\", 4) == 0) {
        wcscpy(wide, given);
        return true;
    }
    if (wcsncmp(wide + 4, L"\\\\", 2) == 0) { // \\server\share: \\?\UNC\server\share
        memmove(wide + 8, wide + 6, (length - 1) * sizeof(wchar_t));
        memcpy(wide, L"\\\\?\\UNC\\", 8 * sizeof(wchar_t));
    } else {
        memcpy(wide, L"\\\\?\\", 4 * sizeof(wchar_t));
    }
    return true;
}

FILE *platform_standard_input()
{
    _setmode(_fileno(stdin), _O_BINARY);
    return stdin;
}

FILE *platform_open(const char *path, const char *mode)
{
    static wchar_t wide_path[longest_path];
    wchar_t wide_mode[16];
    if (!system_path(path, wide_path) || MultiByteToWideChar(CP_UTF8, 0, mode, -1, wide_mode, 16) == 0)
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
    if (!system_path(path, wide))
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
    static wchar_t wide[longest_path];
    platform_file_t file;
    if (!system_path(path, wide) || (platform_stat(path, &file) && !file.regular))
        return nullptr;
    // Through a symbolic link, the file it names is replaced: the one that
    // opening the path reaches.
    HANDLE existing = CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (existing != INVALID_HANDLE_VALUE) {
        DWORD final = GetFinalPathNameByHandleW(existing, wide, longest_path - 16, FILE_NAME_NORMALIZED);
        CloseHandle(existing);
        if (final == 0 || final >= longest_path - 16)
            return nullptr;
    }
    if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, target, sizeof target - 16, nullptr, nullptr) == 0)
        return nullptr;
    // A name of its own beside it, "<name>.tslNNNNNNNN", made here only if
    // no file has it: no length limit but the system's own.
    size_t length = wcslen(wide);
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (unsigned attempt = 0; handle == INVALID_HANDLE_VALUE && attempt < 100; attempt++) {
        unsigned number = unsigned(GetTickCount() * 2654435761u + GetCurrentProcessId() * 40503u + attempt);
        _snwprintf(wide + length, 13, L".tsl%08X", number);
        snprintf(temporary, sizeof temporary, "%s.tsl%08X", target, number);
        handle = CreateFileW(wide, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            return nullptr;
    }
    int descriptor = handle == INVALID_HANDLE_VALUE ? -1 : _open_osfhandle(intptr_t(handle), _O_BINARY | _O_WRONLY);
    FILE *stream = descriptor < 0 ? nullptr : _fdopen(descriptor, "wb");
    if (stream == nullptr) {
        if (descriptor >= 0)
            _close(descriptor);
        else if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        DeleteFileW(wide);
        return nullptr;
    }
    return stream;
}

bool platform_sync(FILE *stream)
{
    if (FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)))))
        return true;
    set_errno_from_system();
    return false;
}

bool platform_replace(const char *temporary, const char *target, bool sync)
{
    static wchar_t from[longest_path], to[longest_path];
    if (!system_path(temporary, from) || !system_path(target, to))
        return false;
    // A virus scanner or an indexer may hold the new file open for a
    // moment after it was written: the rename is tried again for a second.
    for (int attempt = 0;; attempt++) {
        if (MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | (sync ? MOVEFILE_WRITE_THROUGH : 0)))
            return true;
        DWORD error = GetLastError();
        if (attempt == 20 || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION))
            break;
        Sleep(50);
    }
    set_errno_from_system();
    return false;
}

void platform_remove(const char *path)
{
    static wchar_t wide[longest_path];
    if (system_path(path, wide))
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
