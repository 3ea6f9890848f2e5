// The process on Windows: the wide command line, binary console streams, the
// console control handler, and paths written in the ANSI code page.
#include "platform/process.h"

#include "platform/windows_support.h"

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>

namespace ase2sgl::platform {

namespace {

void (*pendingCleanUp)() noexcept = nullptr;

// Ctrl-C, Ctrl-Break, a closed console window, a logoff or a shutdown: the
// clean-up, then the default handling, which ends the process.
BOOL WINAPI OnConsoleControl(DWORD)
{
    if (pendingCleanUp != nullptr)
        pendingCleanUp();
    return FALSE;
}

}  // namespace

void PrepareProcess(void (*cleanUp)() noexcept)
{
    // "\n" stays one byte: the console lines are the same bytes as on other hosts.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    // No dialog box for a drive that is not ready or a file that is not found.
    ::SetErrorMode(::SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    pendingCleanUp = cleanUp;
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

std::vector<std::string> Arguments(int, char**)
{
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr)
        return arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(Narrow(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

bool IsReadable(const std::string& path)
{
    return ::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteStandardError(std::string_view text)
{
    const std::string bytes = Narrow(Wide(text), CP_ACP);
    const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!::WriteFile(error, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
            written == 0)
            return;  // nowhere left to report to
        done += written;
    }
}

}  // namespace ase2sgl::platform
