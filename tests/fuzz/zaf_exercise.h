// What the demo does with an archive, for any bytes: open it, then read every entry its
// directory names through the decoder its type asks for (the first entry twice, as the
// second read allocates the corrected size). Shared by the fuzz target and the corpus replay.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "assets/decoders.h"
#include "assets/zaf.h"

// Reads one entry and releases what came back; a failure ends the process, or throws in the
// recovering build.
inline void Zaf_ExerciseEntry(const char *name, uint32_t type)
{
    if (type == ZAF_TYPE_PICTURE) {
        Picture *picture = ZAF_ReadPicture(name);
        free(picture->pixels);
        free(picture);
    } else if (type == ZAF_TYPE_MESH) {
        Mesh *mesh = ZAF_ReadASE(name);
        free(mesh->triangles);
        free(mesh);
    } else if (type == ZAF_TYPE_DATA) {
        free(ZAF_ReadData(name));
    } else {
        free(ZAF_Read(name, type));
    }
}

// Calls each(name, type) for the first `limit` directory entries of the archive bytes,
// as far as the bytes hold them.
template <typename Each>
void Zaf_ForEachEntry(const unsigned char *data, size_t size, uint32_t limit, Each each)
{
    if (size < 16)
        return;
    uint32_t count;
    memcpy(&count, data + 12, 4);
    for (uint32_t i = 0; i < count && i < limit && 16 + 56 * (i + 1) <= size; i++) {
        char name[40];
        memcpy(name, data + 16 + 56 * i, 39);
        name[39] = '\0';
        uint32_t type;
        memcpy(&type, data + 16 + 56 * i + 40, 4);
        each(name, type, i);
    }
}
