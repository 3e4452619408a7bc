// Archive reader: the one packed archive, its directory kept in memory, entries inflated by
// name and type. Every failure ends the process with status 1.
#pragma once

#include <cstdint>

// One directory record as stored in the file (little-endian, 56 bytes).
struct ZafEntry {
    char name[40];            // NUL-terminated inside the field
    uint32_t type;
    uint32_t unpacked_size;   // rewritten with the true inflated length by each read
    uint32_t packed_size;
    uint32_t data_offset;     // from the start of the file
};
static_assert(sizeof(ZafEntry) == 56, "ZafEntry must match the file's 56-byte record");

int ZAF_Open(const char *path);
void *ZAF_Read(const char *name, uint32_t type);
int ZAF_Close(void);

// Length of the buffer the last successful ZAF_Read returned: the decoders check payloads
// against it before copying.
uint32_t ZAF_LastLength(void);

// Prints the message (none if null) on standard output and ends the process with status 1,
// or, on a thread that called ZAF_ThrowOnFatal, throws ZafFailure once the line is out.
[[noreturn]] void ZAF_Fatal(const char *format, ...) __attribute__((format(printf, 1, 2)));
// For a worker thread, which must leave ending the process to the main thread.
void ZAF_ThrowOnFatal(void);

// What ZAF_Fatal throws. The fuzzing build (QM_ZAF_RECOVERABLE) throws it with the message
// instead of printing and exiting, so one process can try many archives, and ZAF_ReleaseWork
// then frees the buffers of the read that failed.
struct ZafFailure {
    char message[512];
};
#ifdef QM_ZAF_RECOVERABLE
void ZAF_ReleaseWork(void);
#endif
