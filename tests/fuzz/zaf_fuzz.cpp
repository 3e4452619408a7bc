// libFuzzer target over the archive reader and the decoders: the input is an archive file.
// Built only by clang (assets/CMakeLists.txt), where fatal exits throw ZafFailure instead.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

#include "tests/fuzz/zaf_exercise.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int fd = memfd_create("zaf-fuzz", 0);
    char path[64];
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != (ssize_t)size)
        __builtin_trap();
    // A failed step leaves an empty or exactly one-line message; what it held is released,
    // and the next entry is still read.
    auto attempt = [](auto step) {
        try {
            step();
            return true;
        } catch (const ZafFailure &failure) {
            const char *newline = strchr(failure.message, '\n');
            if (failure.message[0] && (!newline || newline[1] != '\0'))
                __builtin_trap();
            ZAF_ReleaseWork();
            Decoders_ReleaseWork();
            return false;
        }
    };
    if (attempt([&] { ZAF_Open(path); }))
        Zaf_ForEachEntry(data, size, [&](const char *name, uint32_t type) {
            attempt([&] { Zaf_ExerciseEntry(name, type); });
        });
    ZAF_Close();
    return 0;
}
