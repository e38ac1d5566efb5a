// The platform layer on Windows: Win32 handles throughout, so that no C runtime text mode
// stands between the program and its files. Input is read byte for byte, standard input
// included (text mode would end it at the first 0x1A byte); the CR LF line ends of text on
// Windows are written by the program itself, where it writes text.
#include "platform.hpp"
#include "utf16_names.hpp"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <shellapi.h>

namespace orbitcsv::platform {

namespace {

std::wstring wide_name(const char* name) {
    const std::u16string units = utf16_from_wtf8(name);
    return {units.begin(), units.end()};
}

// The identity of an open file, and whether it is a directory; false when it has none to give
// (a pipe or a device).
bool identity_of(HANDLE handle, file_identity& identity, bool& directory) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(handle, &information)) return false;
    directory = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    identity.regular = GetFileType(handle) == FILE_TYPE_DISK && !directory;
    identity.volume = information.dwVolumeSerialNumber;
    identity.index = std::uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow;
    return true;
}

}  // namespace

int run_with_arguments(int argc, char** argv, int (*run)(int argc, char** argv)) {
    // The arguments main receives are in the ANSI code page, which cannot hold every name;
    // the command line itself is in UTF-16.
    int count = 0;
    wchar_t** const wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return run(argc, argv);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        const std::wstring_view argument(wide[i]);
        arguments.push_back(wtf8_from_utf16({reinterpret_cast<const char16_t*>(argument.data()), argument.size()}));
    }
    LocalFree(wide);
    std::vector<char*> utf8_argv;
    for (std::string& argument : arguments) utf8_argv.push_back(argument.data());
    utf8_argv.push_back(nullptr);
    return run(count, utf8_argv.data());
}

// A standard handle that is missing is null, and every read or write on it fails.
file standard_input() { return GetStdHandle(STD_INPUT_HANDLE); }
file standard_output() { return GetStdHandle(STD_OUTPUT_HANDLE); }
file standard_error() { return GetStdHandle(STD_ERROR_HANDLE); }

bool open_input(const char* name, file& opened, file_identity& identity) {
    const HANDLE handle = CreateFileW(wide_name(name).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    // A pipe or a device has no identity to compare; it cannot be the output file.
    bool directory = false;
    if (!identity_of(handle, identity, directory)) identity = {};
    if (directory) {
        (void)CloseHandle(handle);
        return false;
    }
    opened = handle;
    return true;
}

bool identify(const char* name, file_identity& identity) {
    // Asking for no access at all opens any file, and directories with backup semantics.
    const HANDLE handle = CreateFileW(wide_name(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    bool directory = false;
    const bool known = identity_of(handle, identity, directory);
    (void)CloseHandle(handle);
    return known;
}

bool identify_open(file opened, file_identity& identity) {
    bool directory = false;
    return identity_of(opened, identity, directory);
}

bool open_output(const char* name, file& opened) {
    opened = CreateFileW(wide_name(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    return opened != INVALID_HANDLE_VALUE;
}

std::ptrdiff_t read_some(file from, char* into, std::size_t capacity, bool) {
    constexpr std::size_t LARGEST_READ = 1 << 30;
    DWORD got = 0;
    if (!ReadFile(from, into, static_cast<DWORD>(capacity < LARGEST_READ ? capacity : LARGEST_READ), &got, nullptr)) {
        // A pipe whose writer has closed its end has simply ended.
        return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    }
    return static_cast<std::ptrdiff_t>(got);
}

bool write_all(file to, std::string_view bytes) {
    constexpr std::size_t LARGEST_WRITE = 1 << 30;
    while (!bytes.empty()) {
        DWORD put = 0;
        const auto size = static_cast<DWORD>(bytes.size() < LARGEST_WRITE ? bytes.size() : LARGEST_WRITE);
        // A closed pipe fails here: there is no SIGPIPE on Windows to end the program instead.
        if (!WriteFile(to, bytes.data(), size, &put, nullptr) || put == 0) return false;
        bytes.remove_prefix(put);
    }
    return true;
}

bool close(file opened) { return CloseHandle(opened) != 0; }

int last_error() {
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
            return EPIPE;
        case ERROR_INVALID_HANDLE:
            return EBADF;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        default:
            return EIO;
    }
}

}  // namespace orbitcsv::platform
