// Running the tool on Windows: CreateProcessW with both output streams on pipes,
// each drained by a thread of its own so that neither fills up and blocks the child.
#include "support/test_support.h"

#include <windows.h>

#include <stdexcept>
#include <string>
#include <thread>

namespace ase2sgl::testing {

bool UnderWine()
{
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

namespace {

std::wstring Wide(const std::string& utf8)
{
    if (utf8.empty())
        return {};
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

// One argument quoted the way the C runtime and CommandLineToArgvW split it back:
// backslashes double only before a quote.
std::wstring Quoted(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}

void Drain(HANDLE pipe, std::string& sink)
{
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(pipe, chunk, sizeof chunk, &read, nullptr) && read > 0)
        sink.append(chunk, read);
    ::CloseHandle(pipe);
}

}  // namespace

RunResult RunTool(const std::vector<std::string>& args, const std::filesystem::path& workingDir, int standardInput)
{
    return RunProgram(ASE2SGL_EXE, args, workingDir, standardInput);
}

// A standard-input descriptor is a POSIX test's (piped input); here the child
// inherits this process's standard input.
RunResult RunProgram(const std::string& executable, const std::vector<std::string>& args,
                     const std::filesystem::path& workingDir, int /*standardInput*/)
{
    std::vector<std::string> command = {executable};
    command.insert(command.end(), args.begin(), args.end());
    std::wstring line;
    for (const std::string& argument : command)
        line += (line.empty() ? L"" : L" ") + Quoted(Wide(argument));
    const std::wstring folder = std::filesystem::absolute(workingDir).wstring();

    // Under Wine a start can fail now and then for no reason of the program's (it
    // happened once in a suite run, to a program that other tests of the same run
    // started fine): a few more tries before the test fails, with Windows' error
    // code. A missing program fails at once.
    PROCESS_INFORMATION process{};
    HANDLE outRead = nullptr, errRead = nullptr;
    DWORD error = 0;
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (attempt > 0)
            ::Sleep(200);
        SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE outWrite = nullptr, errWrite = nullptr;
        if (!::CreatePipe(&outRead, &outWrite, &inherited, 0) || !::CreatePipe(&errRead, &errWrite, &inherited, 0))
            throw std::runtime_error("CreatePipe failed");
        ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
        ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = outWrite;
        startup.hStdError = errWrite;
        const bool started = ::CreateProcessW(Wide(command.front()).c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                              nullptr, folder.c_str(), &startup, &process);
        error = started ? 0 : ::GetLastError();
        ::CloseHandle(outWrite);
        ::CloseHandle(errWrite);
        if (started)
            break;
        ::CloseHandle(outRead);
        ::CloseHandle(errRead);
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            break;
    }
    if (error != 0)
        throw std::runtime_error("cannot start " + command.front() + " (error " + std::to_string(error) + ")");
    RunResult result;
    std::thread out(Drain, outRead, std::ref(result.out));
    std::thread err(Drain, errRead, std::ref(result.err));
    out.join();
    err.join();
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    ::GetExitCodeProcess(process.hProcess, &status);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    result.exitStatus = static_cast<int>(status);
    return result;
}

}  // namespace ase2sgl::testing
