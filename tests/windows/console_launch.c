/* console_launch.exe PROGRAM ARGS...: starts PROGRAM the way a console starts a GUI program,
 * with no standard handles of its own, waits for it and returns its exit status. Whatever it
 * prints must reach this console by itself. */
#include <windows.h>

int main(void)
{
    wchar_t *line = GetCommandLineW();
    int quoted = 0;
    while (*line && (quoted || (*line != L' ' && *line != L'\t'))) {
        if (*line == L'"')
            quoted = !quoted;
        line++;
    }
    while (*line == L' ' || *line == L'\t')
        line++;

    STARTUPINFOW startup = {sizeof startup};
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(NULL, line, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process))
        return 2;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 2;
    GetExitCodeProcess(process.hProcess, &status);
    return (int)status;
}
