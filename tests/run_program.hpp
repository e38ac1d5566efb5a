// Runs the built program as a child process, its standard streams connected as a test asks:
// by fork and exec on POSIX systems (through the emulator of a cross build, when there is one),
// by CreateProcessW on Windows.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace orbitcsv::testing_support {

namespace fs = std::filesystem;

// A path from UTF-8 text, as test names and file names are written here.
inline fs::path utf8_path(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

struct child_stream {
    enum kind_t { file, closed, pipe_without_reader } kind = file;
    fs::path path;  // for `file`
};

#if defined(_WIN32)

inline constexpr const char* NULL_DEVICE = "\\\\.\\NUL";
inline constexpr int STATUS_SIGPIPE = -1;  // Windows has no signals to end a program by

inline std::wstring widen(const std::string& text) {
    const fs::path path = utf8_path(text);
    return path.wstring();
}

// Quoted as the C runtime and CommandLineToArgvW take quotes and backslashes apart.
inline std::wstring quoted(const std::wstring& argument) {
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

// The program beside the test executables' folder: build/windows/tests/ holds the tests,
// build/windows/ the program.
inline fs::path program_path() {
    wchar_t self[32768];
    const DWORD length = GetModuleFileNameW(nullptr, self, 32768);
    return fs::path(std::wstring(self, length)).parent_path().parent_path() / "orbitcsv.exe";
}

// Returns the exit status.
inline int run_program(const std::vector<std::string>& args, const fs::path& directory, const child_stream& in,
                       const child_stream& out, const child_stream& err) {
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const auto open = [&](const child_stream& stream, bool reading) -> HANDLE {
        switch (stream.kind) {
            case child_stream::closed: return nullptr;
            case child_stream::pipe_without_reader: {
                HANDLE reader = nullptr, writer = nullptr;
                if (!CreatePipe(&reader, &writer, &inherited, 0)) return nullptr;
                CloseHandle(reader);
                return writer;
            }
            default:
                // Backup semantics let a directory be opened too, for the tests that give one.
                return CreateFileW(stream.path.c_str(), reading ? GENERIC_READ : GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherited,
                                   reading ? OPEN_EXISTING : CREATE_ALWAYS, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        }
    };
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = open(in, true);
    startup.hStdOutput = open(out, false);
    startup.hStdError = open(err, false);

    const fs::path program = program_path();
    std::wstring command_line = quoted(program.wstring());
    for (const std::string& arg : args) command_line += L" " + quoted(widen(arg));
    PROCESS_INFORMATION process{};
    DWORD status = 125;
    if (CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       directory.c_str(), &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &status);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    for (const HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    return static_cast<int>(status);
}

#else

inline constexpr const char* NULL_DEVICE = "/dev/null";
inline constexpr int STATUS_SIGPIPE = 128 + SIGPIPE;

// Returns the exit status, or 128 + the signal that ended the program.
inline int run_program(const std::vector<std::string>& args, const fs::path& directory, const child_stream& in,
                       const child_stream& out, const child_stream& err) {
    int unread_pipe[2] = {-1, -1};
    if (out.kind == child_stream::pipe_without_reader && pipe(unread_pipe) == 0) close(unread_pipe[0]);
    const pid_t child = fork();
    if (child == 0) {
        const auto connect = [&](const child_stream& stream, int flags, int fd) {
            if (stream.kind == child_stream::closed) {
                close(fd);
            } else if (stream.kind == child_stream::pipe_without_reader) {
                if (dup2(unread_pipe[1], fd) < 0) _exit(120);
                signal(SIGPIPE, SIG_DFL);
            } else {
                const int opened = open(stream.path.c_str(), flags, 0644);
                if (opened < 0 || dup2(opened, fd) < 0) _exit(120);
                close(opened);
            }
        };
        if (chdir(directory.c_str()) != 0) _exit(122);
        connect(in, O_RDONLY, STDIN_FILENO);
        connect(out, O_WRONLY | O_CREAT | O_TRUNC, STDOUT_FILENO);
        connect(err, O_WRONLY | O_CREAT | O_TRUNC, STDERR_FILENO);
        // A cross build's program runs under its emulator.
        std::vector<std::string> command;
        if (*ORBITCSV_EMULATOR != '\0') command.emplace_back(ORBITCSV_EMULATOR);
        command.emplace_back(ORBITCSV_BINARY);
        command.insert(command.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& word : command) argv.push_back(word.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(121);
    }
    if (unread_pipe[1] >= 0) close(unread_pipe[1]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

#endif

}  // namespace orbitcsv::testing_support
