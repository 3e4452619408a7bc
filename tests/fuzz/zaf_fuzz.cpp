// libFuzzer target over the archive reader and the decoders: the input is an archive file.
// Built only by clang (assets/CMakeLists.txt), where fatal exits throw ZafFailure instead.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

#include "tests/fuzz/zaf_exercise.h"

static void Check_Message(const ZafFailure &failure)
{
    // Every fatal message is empty or exactly one line.
    const char *newline = strchr(failure.message, '\n');
    if (failure.message[0] && (!newline || newline[1] != '\0'))
        __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int fd = memfd_create("zaf-fuzz", 0);
    static char path[64];
    if (fd < 0)
        __builtin_trap();
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != (ssize_t)size)
        __builtin_trap();

    try {
        ZAF_Open(path);
    } catch (const ZafFailure &failure) {
        Check_Message(failure);
        ZAF_Close();
        return 0;
    }
    Zaf_ForEachEntry(data, size, 16, [](const char *name, uint32_t type, uint32_t i) {
        for (int round = 0; round < (i == 0 ? 2 : 1); round++) {
            try {
                Zaf_ExerciseEntry(name, type);
            } catch (const ZafFailure &failure) {
                Check_Message(failure);
                ZAF_ReleaseWork();
                Decoders_ReleaseWork();
            }
        }
    });
    ZAF_Close();
    return 0;
}
