// Asset decoders and picture lists. A payload's header is checked against the length the
// archive actually inflated before anything is copied out of it.
#include "assets/decoders.h"

#include "platform/scene_gl.h"   // viewports in the scenes' units; the browser's GL layer

#include <cstdlib>
#include <cstring>

#include "assets/zaf.h"

// Working pointers of the decode in progress, process-wide like the reader's own.
static unsigned char *decode_payload;
static Picture *decode_picture;
static Mesh *decode_mesh;

static uint32_t Payload_Word(const unsigned char *payload, uint32_t offset)
{
    uint32_t word;
    memcpy(&word, payload + offset, 4);
    return word;
}

// The product of the factors, or 0 with overflow set when it does not fit 32 bits.
static uint32_t Checked_Product(const uint32_t *factors, int count, bool *overflow)
{
    uint64_t product = 1;
    for (int i = 0; i < count; i++) {
        product *= factors[i];
        if (product > UINT32_MAX) {
            *overflow = true;
            return 0;
        }
    }
    *overflow = false;
    return (uint32_t)product;
}

// Copies the body that follows a payload's header once its size, the product of the
// factors, is known to fit 32 bits and the entry; null only when the copy cannot be
// allocated. decoder and kind name the failing entry in the messages.
static void *Copy_Body(const char *decoder, const char *kind, const char *body,
                       const char *name, uint32_t header, const uint32_t *factors, int count)
{
    bool overflow;
    uint32_t size = Checked_Product(factors, count, &overflow);
    if (overflow)
        ZAF_Fatal("%s: FATAL_ERROR: %s \"%s\" size overflows.\n", decoder, kind, name);
    if (size > ZAF_LastLength() - header)
        ZAF_Fatal("%s: FATAL_ERROR: %s \"%s\" shorter than its %s.\n", decoder, kind, name,
                  body);
    void *copy = malloc(size ? size : 1);
    if (copy)
        memcpy(copy, decode_payload + header, size);
    return copy;
}

Picture *ZAF_ReadPicture(const char *name)
{
    decode_picture = (Picture *)malloc(sizeof(Picture));
    if (!decode_picture)
        ZAF_Fatal("ZAF_ReadPicture: FATAL_ERROR: Memory allocation failed for \"%s\".\n", name);
    decode_picture->pixels = nullptr;
    decode_payload = (unsigned char *)ZAF_Read(name, ZAF_TYPE_PICTURE);
    // The picture path's messages carry the mesh decoder's prefix and spelling.
    if (!decode_payload)
        ZAF_Fatal("ZAF_ReadASE: FATA_ERROR: File read failed.\n");
    if (ZAF_LastLength() < 16)
        ZAF_Fatal("ZAF_ReadPicture: FATAL_ERROR: Picture \"%s\" shorter than its header.\n",
                  name);

    Picture *picture = decode_picture;
    picture->tiles_across = Payload_Word(decode_payload, 0);
    picture->tiles_down = Payload_Word(decode_payload, 4);
    picture->tile_width = Payload_Word(decode_payload, 8);
    picture->tile_height = Payload_Word(decode_payload, 12);

    const uint32_t factors[] = {picture->tile_width, picture->tiles_across,
                                picture->tile_height, picture->tiles_down, 3};
    picture->pixels = (unsigned char *)Copy_Body("ZAF_ReadPicture", "Picture", "pixels", name,
                                                 16, factors, 5);
    if (!picture->pixels)
        ZAF_Fatal("FATAL_ERROR: Memory allocation failed.\n");

    free(decode_payload);
    decode_payload = nullptr;
    decode_picture = nullptr;
    return picture;
}

Mesh *ZAF_ReadASE(const char *name)
{
    decode_mesh = (Mesh *)malloc(sizeof(Mesh));
    if (!decode_mesh)
        ZAF_Fatal("ZAF_ReadASE: FATA_ERROR: Memory allocation failed.\n");
    decode_mesh->triangles = nullptr;
    decode_payload = (unsigned char *)ZAF_Read(name, ZAF_TYPE_MESH);
    if (!decode_payload)
        ZAF_Fatal("ZAF_ReadASE: FATA_ERROR: File read failed.\n");
    if (ZAF_LastLength() < 8)
        ZAF_Fatal("ZAF_ReadASE: FATAL_ERROR: Mesh \"%s\" shorter than its header.\n", name);

    Mesh *mesh = decode_mesh;
    mesh->triangle_count = Payload_Word(decode_payload, 0);
    mesh->second_count = Payload_Word(decode_payload, 4);

    const uint32_t factors[] = {mesh->triangle_count, 36};
    mesh->triangles =
        (float *)Copy_Body("ZAF_ReadASE", "Mesh", "triangles", name, 8, factors, 2);
    if (!mesh->triangles)
        ZAF_Fatal("ZAF_ReadASE: FATAL_ERROR: Memory allocation failed for \"%s\".\n", name);

    free(decode_payload);
    decode_payload = nullptr;
    decode_mesh = nullptr;
    return mesh;
}

void *ZAF_ReadData(const char *name)
{
    return ZAF_Read(name, ZAF_TYPE_DATA);
}

void Picture_SetTextureState(void)
{
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
}

// Tile row 0 lies lowest; t = 0 is a tile's upper edge, so its first stored row is drawn on top.
void Picture_BuildList(unsigned int list, const Picture *picture)
{
    const GLsizei w = (GLsizei)picture->tile_width;
    const GLsizei h = (GLsizei)picture->tile_height;
    const size_t tile_bytes = (size_t)picture->tile_width * picture->tile_height * 3;
    const unsigned char *cursor = picture->pixels;

    glNewList(list, GL_COMPILE);
    GLfloat y = 0.0f;
    for (uint32_t r = 0; r < picture->tiles_down; r++) {
        GLfloat x = 0.0f;
        for (uint32_t k = 0; k < picture->tiles_across; k++) {
            glTexImage2D(GL_TEXTURE_2D, 0, 3, w, h, 0, GL_RGB, GL_UNSIGNED_BYTE, cursor);
            glBegin(GL_QUADS);
                glTexCoord2f(1.0f, 0.0f);
                glVertex3f(x + w, y + h, 0.0f);
                glTexCoord2f(0.0f, 0.0f);
                glVertex3f(x, y + h, 0.0f);
                glTexCoord2f(0.0f, 1.0f);
                glVertex3f(x, y, 0.0f);
                glTexCoord2f(1.0f, 1.0f);
                glVertex3f(x + w, y, 0.0f);
            glEnd();
            cursor += tile_bytes;
            x += w;
        }
        y += h;
    }
    glEndList();
}

#ifdef QM_ZAF_RECOVERABLE
void Decoders_ReleaseWork(void)
{
    if (decode_picture)
        free(decode_picture->pixels);
    if (decode_mesh)
        free(decode_mesh->triangles);
    free(decode_payload);
    free(decode_picture);
    free(decode_mesh);
    decode_payload = nullptr;
    decode_picture = nullptr;
    decode_mesh = nullptr;
}
#endif
