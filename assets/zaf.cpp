// Archive reader: header and directory read once at open, entries inflated with one
// uncompress each. The file's bytes are untrusted: nothing is read or copied past what the
// file holds or what was allocated.
#include "assets/zaf.h"

#include <zlib.h>

#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "the directory is used as read");

// Deflate never expands more than 1032:1, so a claimed unpacked size above that bound can
// be trimmed without changing what a read returns.
static const uint64_t zaf_max_ratio = 1032;

static FILE *zaf_file;
static uint64_t zaf_file_size;
static uint32_t zaf_reserved[2];
static uint32_t zaf_count;
static ZafEntry *zaf_directory;
static int zaf_last_status;
static uint32_t zaf_last_length;
static thread_local bool zaf_fatal_throws;

// Buffers of the read in progress, process-wide so a recovering build can release them.
static unsigned char *zaf_packed;
static unsigned char *zaf_output;

void ZAF_Fatal(const char *format, ...)
{
    char message[sizeof(ZafFailure::message)] = "";
    if (format) {
        va_list args;
        va_start(args, format);
        int length = vsnprintf(message, sizeof message, format, args);
        va_end(args);
        if (length >= (int)sizeof message)
            strcpy(message + sizeof message - 5, "...\n");
    }
    // Entry names and paths come from outside: one line it stays, whatever they hold.
    for (char *c = message; *c && c[1]; c++)
        if ((unsigned char)*c < 0x20 || *c == 0x7f)
            *c = '?';
#ifdef QM_ZAF_RECOVERABLE
    ZafFailure failure;
    memcpy(failure.message, message, sizeof message);
    throw failure;
#else
    fputs(message, stdout);
    fflush(stdout);
    // Off the main thread, exit's clean-up (SDL_Quit from atexit, static destructors) would
    // run while the main thread is still drawing, and _exit would skip SDL_Quit, which gives a
    // full-screen display its mode back: that thread unwinds instead, and the main thread
    // ends the process.
    if (zaf_fatal_throws)
        throw ZafFailure{};
    exit(1);
#endif
}

void ZAF_ThrowOnFatal(void)
{
    zaf_fatal_throws = true;
}

int ZAF_Open(const char *path)
{
    zaf_file = fopen(path, "rb");
    if (!zaf_file)
        ZAF_Fatal(nullptr);

    // A fifth NUL byte makes the magic a string: "ZAF\0..." must not pass.
    char magic[5] = {0, 0, 0, 0, 0};
    if (fread(magic, 1, 4, zaf_file) != 4 || strcmp(magic, "ZAFD") != 0)
        ZAF_Fatal(nullptr);

    uint32_t header[3];
    if (fread(header, 4, 3, zaf_file) != 3)
        ZAF_Fatal("ZAF_Open: FATAL_ERROR: Header of \"%s\" truncated.\n", path);
    zaf_reserved[0] = header[0];
    zaf_reserved[1] = header[1];
    zaf_count = header[2];

    if (fseek(zaf_file, 0, SEEK_END) != 0)
        ZAF_Fatal("ZAF_Open: FATAL_ERROR: Cannot seek in \"%s\".\n", path);
    long end = ftell(zaf_file);
    zaf_file_size = end < 0 ? 0 : (uint64_t)end;
    if (16 + (uint64_t)zaf_count * sizeof(ZafEntry) > zaf_file_size)
        ZAF_Fatal("ZAF_Open: FATAL_ERROR: Entry count %u does not fit in \"%s\".\n", zaf_count,
                  path);

    zaf_directory = (ZafEntry *)malloc(zaf_count ? zaf_count * sizeof(ZafEntry) : 1);
    if (!zaf_directory)
        ZAF_Fatal(nullptr);
    if (fseek(zaf_file, 16, SEEK_SET) != 0
        || fread(zaf_directory, sizeof(ZafEntry), zaf_count, zaf_file) != zaf_count)
        ZAF_Fatal("ZAF_Open: FATAL_ERROR: Directory of \"%s\" truncated.\n", path);
    return 0;
}

void *ZAF_Read(const char *name, uint32_t type)
{
    // Only the first entry of a name counts; a field without its NUL never matches.
    size_t length = strlen(name);
    ZafEntry *entry = nullptr;
    for (uint32_t i = 0; i < zaf_count && length < sizeof entry->name; i++) {
        if (memcmp(zaf_directory[i].name, name, length + 1) == 0) {
            entry = &zaf_directory[i];
            break;
        }
    }
    if (!entry)
        ZAF_Fatal("ZAF_Read: FATAL_ERROR: File not found.\n");
    if (entry->type != type)
        ZAF_Fatal("ZAF_Read: FATAL_ERROR: Wrong file type.\n");

    // Data that cannot all be in the file is the short read it would become.
    if ((uint64_t)entry->data_offset + entry->packed_size > zaf_file_size)
        ZAF_Fatal("ZAF_Read: FATAL_ERROR: Drive access error.\n");

    uint64_t capacity = entry->unpacked_size;
    if (capacity > entry->packed_size * zaf_max_ratio)
        capacity = entry->packed_size * zaf_max_ratio;
    zaf_packed = (unsigned char *)malloc(entry->packed_size ? entry->packed_size : 1);
    zaf_output = (unsigned char *)malloc(capacity ? capacity : 1);
    if (!zaf_packed || !zaf_output)
        ZAF_Fatal("ZAF_Read: FATAL_ERROR: Memory allocation failed for \"%s\".\n", name);

    if (fseek(zaf_file, entry->data_offset, SEEK_SET) != 0
        || fread(zaf_packed, 1, entry->packed_size, zaf_file) != entry->packed_size)
        ZAF_Fatal("ZAF_Read: FATAL_ERROR: Drive access error.\n");

    // The true inflated length goes back into the directory, so a later read of this
    // entry allocates exactly that.
    uLongf inflated = capacity;
    zaf_last_status = uncompress(zaf_output, &inflated, zaf_packed, entry->packed_size);
    entry->unpacked_size = (uint32_t)inflated;
    if (zaf_last_status != Z_OK)
        ZAF_Fatal("ZAF_Read: Fatal error: decompression failed.\n");

    free(zaf_packed);
    zaf_packed = nullptr;
    void *result = zaf_output;
    zaf_output = nullptr;
    zaf_last_length = (uint32_t)inflated;
    return result;
}

int ZAF_Close(void)
{
    if (zaf_file) {
        free(zaf_directory);
        zaf_directory = nullptr;
        zaf_count = 0;
        fclose(zaf_file);
        zaf_file = nullptr;
    }
    return 0;
}

uint32_t ZAF_LastLength(void)
{
    return zaf_last_length;
}

#ifdef QM_ZAF_RECOVERABLE
void ZAF_ReleaseWork(void)
{
    free(zaf_packed);
    free(zaf_output);
    zaf_packed = nullptr;
    zaf_output = nullptr;
}
#endif
