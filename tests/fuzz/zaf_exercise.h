// What the demo does with an archive, for any bytes: read every entry its directory names
// through the decoder its type asks for. Shared by the fuzz target and the corpus replay.
#pragma once

#include <cstdlib>
#include <cstring>

#include "assets/decoders.h"
#include "assets/zaf.h"

// Calls each(name, type) for the first 16 directory entries the bytes hold, the first entry
// twice (its second read allocates the size the first wrote back).
template <typename Each>
void Zaf_ForEachEntry(const unsigned char *data, size_t size, Each each)
{
    uint32_t count = 0, type;
    if (size >= 16)
        memcpy(&count, data + 12, 4);
    for (uint32_t i = 0; i < count && i < 16 && 16 + 56 * (i + 1) <= size; i++) {
        char name[40] = {};
        memcpy(name, data + 16 + 56 * i, 39);
        memcpy(&type, data + 16 + 56 * i + 40, 4);
        for (int round = 0; round < (i == 0 ? 2 : 1); round++)
            each(name, type);
    }
}

// Reads one entry and frees what came back; a failure ends the process (throws when fuzzing).
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
    } else {
        free(type == ZAF_TYPE_DATA ? ZAF_ReadData(name) : ZAF_Read(name, type));
    }
}
