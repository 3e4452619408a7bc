// Windows start-up, before main: the console and the working folder.
// The program is built for the GUI subsystem, so a double click opens no console window; when a
// console started it, its lines go back there. The data are looked up in the working folder,
// which a shortcut or another program may have set anywhere: it becomes the program's own.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

// A standard handle the parent gave us: a file, a pipe or a console.
bool HasStream(DWORD which)
{
    HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// Points a C stream at the console. freopen("CONOUT$") alone would be shorter, but not every
// host lets the console be opened for truncation.
void ToConsole(FILE *stream, DWORD which)
{
    HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE)
        return;
    int console_fd = _open_osfhandle(intptr_t(console), _O_TEXT);
    if (console_fd < 0)
        return;
    // A stream that had no handle at start-up may have been left without a descriptor too (and
    // then freopen refuses it): it gets the standard one, open for writing.
    int fd = _fileno(stream);
    if (fd < 0) {
        fd = stream == stdout ? 1 : 2;
        stream->_file = fd;
        stream->_flag = _IOWRT;
    }
    _dup2(console_fd, fd);
    _close(console_fd);
    SetStdHandle(which, HANDLE(_get_osfhandle(fd)));
}

// Output redirected by the caller stays where it was sent; otherwise the parent's console, if
// there is one, takes standard output and standard error. A process that already shares its
// parent's console (as some hosts give a GUI child) is refused the attach but may write there.
void AttachCallersConsole(void)
{
    bool out = HasStream(STD_OUTPUT_HANDLE), err = HasStream(STD_ERROR_HANDLE);
    if (out && err)
        return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED)
        return;
    if (!out)
        ToConsole(stdout, STD_OUTPUT_HANDLE);
    if (!err)
        ToConsole(stderr, STD_ERROR_HANDLE);
}

void EnterOwnFolder(void)
{
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (length == 0)
            return;
        if (length < path.size())
            break;
        path.resize(path.size() * 2);
    }
    wchar_t *slash = nullptr;
    for (wchar_t *c = path.data(); *c; c++)
        if (*c == L'\\' || *c == L'/')
            slash = c;
    if (!slash)
        return;
    *slash = 0;
    SetCurrentDirectoryW(path.data());
}

// Static construction runs before SDL's WinMain, and so before main.
struct WindowsStart {
    WindowsStart()
    {
        AttachCallersConsole();
        EnterOwnFolder();
    }
} windows_start;

}  // namespace
