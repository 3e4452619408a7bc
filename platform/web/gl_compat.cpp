// The scenes' OpenGL 1.x over emscripten's legacy GL emulation: our own immediate mode and
// matrix stacks, display lists recorded as vertex arrays and replayable ops, and texture uploads
// done once. See the table in gl_compat.h.
//
// Every draw goes into one batch of triangles already in eye coordinates (the modelview applied
// here, in single precision as GL does), drawn as one array when anything else reaches GL: a
// state change, a clear, a read, the end of the frame. The emulation's cost is per draw call,
// and the scenes make thousands of small ones a frame (the dot wall about twelve thousand). A
// list's large draw whose vertices need nothing from the state is the exception: it lives in a
// buffer of its own and is drawn with the modelview on the GPU.
#define QM_GL_COMPAT_IMPLEMENTATION
#define GL_GLEXT_PROTOTYPES
#include "platform/web/gl_compat.h"

#include "platform/output.h"

#include <GL/glext.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>
#include <vector>

namespace {

// ---- types and constants --------------------------------------------------------------------

// Interleaved, as the emulation's fast path for client arrays wants it.
struct Vertex {
    GLfloat x, y, z;
    GLfloat r, g, b, a;
    GLfloat s, t;
};

enum class Op : unsigned char {
    Draw, Call, Color, TexCoord, Bind,
    MatrixMode, LoadIdentity, LoadMatrix, Translate, Rotate, Scale, Push, Pop,
    Ortho, Perspective, LookAt, Viewport, Clear, ClearColor, Enable, Disable,
    BlendFunc, FrontFace, CullFace, TexEnv, TexParam,
};

struct Command {
    Op op;
    GLenum e[3];     // enums and integers; a draw's first vertex, count, and whether it inherits
    double d[16];    // coordinates, angles, matrix entries; a large draw's buffer once uploaded
};

// Which attributes of a list's vertex come from the state at replay rather than the list:
// those no glColor / glTexCoord of the list had set when the vertex was given.
enum : unsigned char { inherit_colour = 1, inherit_texcoord = 2 };

struct DisplayList {
    std::vector<Command> commands;
    std::vector<Vertex> vertices;
    std::vector<unsigned char> inherits;   // per vertex
};

// The current attributes: the state's, or while a list is compiled, the list's own (compiled
// calls do not touch the state).
struct Attributes {
    GLfloat colour[4] = {1, 1, 1, 1};
    GLfloat texcoord[2] = {0, 0};
};

// Texture object 0's parameters, which natively every list's upload lands in. They are applied
// to a list's own texture when it is bound, if they changed since it was last bound.
struct TextureParameters {
    GLint min_filter = GL_NEAREST_MIPMAP_LINEAR, mag_filter = GL_LINEAR;
    GLint wrap_s = GL_REPEAT, wrap_t = GL_REPEAT;
    unsigned version = 1;
};

// Matrices are column-major, as GL keeps them.
using Matrix = std::array<GLfloat, 16>;
constexpr Matrix identity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// The emulation copies client arrays into a temporary buffer of 2 MB; stay well below it.
constexpr GLsizei draw_chunk = 3 * 8192;

// ---- state ----------------------------------------------------------------------------------

Attributes state;
bool texturing;

std::unordered_map<GLuint, DisplayList> lists;
DisplayList *compiling;
Attributes list_attributes;
unsigned char list_inherits;   // attributes the list being compiled has not set yet

// The glBegin / glEnd block being given: its mode, vertices, and which attributes it set
// (a list records those after the block's draw, where their values stay current).
GLenum primitive;
bool in_primitive;
unsigned char primitive_sets;
std::vector<Vertex> primitive_vertices;
std::vector<unsigned char> primitive_inherits;

TextureParameters texture_parameters;
std::unordered_map<GLuint, unsigned> texture_versions;
GLuint default_texture;

std::vector<Matrix> modelview{identity};
std::vector<Matrix> projection{identity};
GLenum matrix_mode = GL_MODELVIEW;
bool projection_changed;

std::vector<Vertex> batch;
// An empty scissor box (the player's quick frames, whose pixels nobody reads) cuts every
// fragment: their triangles are neither transformed nor sent, only the state they set is kept.
bool scissor_empty;

// ---- textures and drawing -------------------------------------------------------------------

[[noreturn]] void unsupported(const char *what, unsigned value)
{
    std::fprintf(stderr, "quiet_moss (browser): %s 0x%x is not supported\n", what, value);
    std::abort();
}

void apply_texture_parameters(GLuint texture)
{
    unsigned &version = texture_versions[texture];
    if (version == texture_parameters.version)
        return;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, texture_parameters.min_filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, texture_parameters.mag_filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, texture_parameters.wrap_s);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, texture_parameters.wrap_t);
    version = texture_parameters.version;
}

void bind_texture(GLuint texture)
{
    glBindTexture(GL_TEXTURE_2D, texture);
    apply_texture_parameters(texture);
}

// The texture that stands in for object 0 outside lists.
GLuint texture_zero()
{
    if (!default_texture)
        glGenTextures(1, &default_texture);
    return default_texture;
}

GLint sized_format(GLint internal)
{
    switch (internal) {
    case 3: return GL_RGB;
    case 4: return GL_RGBA;
    default: return internal;
    }
}

// Triangles from `base`: an address in client memory, or an offset into the bound buffer.
void draw_arrays(uintptr_t base, GLsizei count)
{
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    if (texturing)
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    else
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    auto at = [base](size_t offset) { return reinterpret_cast<const void *>(base + offset); };
    glVertexPointer(3, GL_FLOAT, sizeof(Vertex), at(offsetof(Vertex, x)));
    glColorPointer(4, GL_FLOAT, sizeof(Vertex), at(offsetof(Vertex, r)));
    if (texturing)
        glTexCoordPointer(2, GL_FLOAT, sizeof(Vertex), at(offsetof(Vertex, s)));
    glDrawArrays(GL_TRIANGLES, 0, count);
}

void draw_triangles(const Vertex *v, GLsizei count)
{
    for (GLsizei first = 0; first < count; first += draw_chunk)
        draw_arrays(reinterpret_cast<uintptr_t>(v + first), std::min(count - first, draw_chunk));
}

// ---- matrices -------------------------------------------------------------------------------

// The emulation keeps our projection, and an identity modelview except while a list's buffer
// draws.
void apply_projection()
{
    if (!projection_changed)
        return;
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(projection.back().data());
    glMatrixMode(GL_MODELVIEW);
    projection_changed = false;
}

// Draws the batch, after giving the emulation the projection it is drawn with.
void flush()
{
    if (batch.empty())
        return;
    apply_projection();
    draw_triangles(batch.data(), GLsizei(batch.size()));
    batch.clear();
}

std::vector<Matrix> &stack()
{
    return matrix_mode == GL_PROJECTION ? projection : modelview;
}

// Whatever the batch holds was given under the projection in force: draw it before a change.
Matrix &top_to_change()
{
    if (matrix_mode == GL_PROJECTION) {
        flush();
        projection_changed = true;
    }
    return stack().back();
}

void multiply(const Matrix &r)
{
    Matrix &m = top_to_change();
    Matrix out;
    for (int c = 0; c < 4; c++)
        for (int row = 0; row < 4; row++)
            out[c * 4 + row] = m[row] * r[c * 4] + m[4 + row] * r[c * 4 + 1] +
                               m[8 + row] * r[c * 4 + 2] + m[12 + row] * r[c * 4 + 3];
    m = out;
}

void rotate(GLfloat angle, GLfloat x, GLfloat y, GLfloat z)
{
    GLfloat length = std::sqrt(x * x + y * y + z * z);
    if (length == 0.0f)
        return;
    x /= length;
    y /= length;
    z /= length;
    GLfloat s = GLfloat(std::sin(angle * M_PI / 180.0));
    GLfloat c = GLfloat(std::cos(angle * M_PI / 180.0));
    GLfloat k = 1.0f - c;
    multiply(Matrix{x * x * k + c, y * x * k + z * s, x * z * k - y * s, 0,
                    x * y * k - z * s, y * y * k + c, y * z * k + x * s, 0,
                    x * z * k + y * s, y * z * k - x * s, z * z * k + c, 0, 0, 0, 0, 1});
}

void ortho(GLfloat l, GLfloat r, GLfloat b, GLfloat t, GLfloat n, GLfloat f)
{
    multiply(Matrix{2 / (r - l), 0, 0, 0, 0, 2 / (t - b), 0, 0, 0, 0, -2 / (f - n), 0,
                    -(r + l) / (r - l), -(t + b) / (t - b), -(f + n) / (f - n), 1});
}

void push_matrix()
{
    std::vector<Matrix> &s = stack();
    s.push_back(s.back());
}

void pop_matrix()
{
    top_to_change();
    std::vector<Matrix> &s = stack();
    if (s.size() > 1)
        s.pop_back();
}

// The scenes' modelview matrices are affine: a vertex keeps w = 1 in eye coordinates.
void add_to_batch(Vertex v)
{
    const Matrix &m = modelview.back();
    GLfloat x = v.x, y = v.y, z = v.z;
    v.x = m[0] * x + m[4] * y + m[8] * z + m[12];
    v.y = m[1] * x + m[5] * y + m[9] * z + m[13];
    v.z = m[2] * x + m[6] * y + m[10] * z + m[14];
    batch.push_back(v);
}

// A list's large draw whose vertices all come from the list (the mascot's trails: half a
// million vertices a frame): uploaded once into a buffer, drawn with the modelview on the GPU.
constexpr size_t static_draw_vertices = 6144;

void draw_static(const DisplayList &list, Command &c)
{
    flush();
    apply_projection();
    GLuint buffer = GLuint(c.d[0]);
    if (!buffer) {
        glGenBuffers(1, &buffer);
        glBindBuffer(GL_ARRAY_BUFFER, buffer);
        glBufferData(GL_ARRAY_BUFFER, c.e[1] * sizeof(Vertex), &list.vertices[c.e[0]],
                     GL_STATIC_DRAW);
        c.d[0] = buffer;
    } else {
        glBindBuffer(GL_ARRAY_BUFFER, buffer);
    }
    glLoadMatrixf(modelview.back().data());
    draw_arrays(0, GLsizei(c.e[1]));
    glLoadIdentity();
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

// A list's draw: vertices whose colour or texcoord the list left open take the state's now.
void replay_draw(const DisplayList &list, Command &c)
{
    if (scissor_empty)
        return;
    if (c.e[1] >= static_draw_vertices && !c.e[2]) {
        draw_static(list, c);
        return;
    }
    size_t first = c.e[0], count = c.e[1];
    for (size_t i = first; i < first + count; i++) {
        Vertex v = list.vertices[i];
        unsigned char inherit = c.e[2] ? list.inherits[i] : 0;
        if (inherit & inherit_colour)
            std::copy(state.colour, state.colour + 4, &v.r);
        if (inherit & inherit_texcoord)
            std::copy(state.texcoord, state.texcoord + 2, &v.s);
        add_to_batch(v);
    }
}

// ---- GLU ------------------------------------------------------------------------------------

// GLU's perspective and look-at, computed as libGLU computes them (the first in double, the
// second in single precision) and multiplied onto the current matrix, as GL multiplies them (in
// single precision). The emulation's own replace the matrix instead.
void perspective(double fovy, double aspect, double near, double far)
{
    double radians = fovy / 2 * M_PI / 180;
    double depth = far - near;
    double sine = std::sin(radians);
    if (depth == 0 || sine == 0 || aspect == 0)
        return;
    double cotangent = std::cos(radians) / sine;
    multiply(Matrix{GLfloat(cotangent / aspect), 0, 0, 0, 0, GLfloat(cotangent), 0, 0, 0, 0,
                    GLfloat(-(far + near) / depth), -1, 0, 0, GLfloat(-2 * near * far / depth), 0});
}

void normalize(GLfloat v[3])
{
    GLfloat r = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (r == 0.0f)
        return;
    for (int i = 0; i < 3; i++)
        v[i] /= r;
}

void cross(const GLfloat a[3], const GLfloat b[3], GLfloat out[3])
{
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

// d: eye, centre, up.
void look_at(const double *d)
{
    GLfloat forward[3] = {GLfloat(d[3] - d[0]), GLfloat(d[4] - d[1]), GLfloat(d[5] - d[2])};
    GLfloat up[3] = {GLfloat(d[6]), GLfloat(d[7]), GLfloat(d[8])};
    GLfloat side[3];
    normalize(forward);
    cross(forward, up, side);
    normalize(side);
    cross(side, forward, up);
    multiply(Matrix{side[0], up[0], -forward[0], 0, side[1], up[1], -forward[1], 0, side[2], up[2],
                    -forward[2], 0, 0, 0, 0, 1});
    multiply(Matrix{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, GLfloat(-d[0]), GLfloat(-d[1]),
                    GLfloat(-d[2]), 1});
}

// ---- lists and ops --------------------------------------------------------------------------

void call_list(GLuint name, int depth);

// Ops that reach GL itself; the batch drawn so far goes first.
bool reaches_gl(Op op)
{
    switch (op) {
    case Op::Viewport: case Op::Clear: case Op::ClearColor: case Op::Enable: case Op::Disable:
    case Op::BlendFunc: case Op::FrontFace: case Op::CullFace: case Op::TexEnv: case Op::TexParam:
    case Op::Bind:
        return true;
    default:
        return false;
    }
}

void execute(Command &c, const DisplayList *list, int depth)
{
    const double *d = c.d;
    if (reaches_gl(c.op))
        flush();
    switch (c.op) {
    case Op::Draw: replay_draw(*list, c); break;
    case Op::Call: call_list(c.e[0], depth + 1); break;
    case Op::Color:
        for (int i = 0; i < 4; i++)
            state.colour[i] = std::clamp(GLfloat(d[i]), 0.0f, 1.0f);
        break;
    case Op::TexCoord:
        state.texcoord[0] = GLfloat(d[0]);
        state.texcoord[1] = GLfloat(d[1]);
        break;
    case Op::Bind: bind_texture(c.e[0]); break;
    case Op::MatrixMode:
        if (c.e[0] != GL_MODELVIEW && c.e[0] != GL_PROJECTION)
            unsupported("matrix mode", c.e[0]);
        matrix_mode = c.e[0];
        break;
    case Op::LoadIdentity: top_to_change() = identity; break;
    case Op::LoadMatrix: {
        Matrix &m = top_to_change();
        for (int i = 0; i < 16; i++)
            m[i] = GLfloat(d[i]);
        if (matrix_mode == GL_MODELVIEW && (m[3] != 0 || m[7] != 0 || m[11] != 0 || m[15] != 1))
            unsupported("projective modelview matrix", 0);
        break;
    }
    case Op::Translate:
        multiply(Matrix{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, GLfloat(d[0]), GLfloat(d[1]),
                        GLfloat(d[2]), 1});
        break;
    case Op::Rotate: rotate(GLfloat(d[0]), GLfloat(d[1]), GLfloat(d[2]), GLfloat(d[3])); break;
    case Op::Scale:
        multiply(Matrix{GLfloat(d[0]), 0, 0, 0, 0, GLfloat(d[1]), 0, 0, 0, 0, GLfloat(d[2]), 0,
                        0, 0, 0, 1});
        break;
    case Op::Push: push_matrix(); break;
    case Op::Pop: pop_matrix(); break;
    case Op::Ortho:
        ortho(GLfloat(d[0]), GLfloat(d[1]), GLfloat(d[2]), GLfloat(d[3]), GLfloat(d[4]),
              GLfloat(d[5]));
        break;
    case Op::Perspective: perspective(d[0], d[1], d[2], d[3]); break;
    case Op::LookAt: look_at(d); break;
    case Op::Viewport:
        Output_Viewport(GLint(d[0]), GLint(d[1]), GLsizei(d[2]), GLsizei(d[3]));
        break;
    case Op::Clear: glClear(c.e[0]); break;
    case Op::ClearColor:
        glClearColor(GLfloat(d[0]), GLfloat(d[1]), GLfloat(d[2]), GLfloat(d[3]));
        break;
    case Op::Enable:
        if (c.e[0] == GL_TEXTURE_2D)
            texturing = true;
        glEnable(c.e[0]);
        break;
    case Op::Disable:
        if (c.e[0] == GL_TEXTURE_2D)
            texturing = false;
        glDisable(c.e[0]);
        break;
    case Op::BlendFunc: glBlendFunc(c.e[0], c.e[1]); break;
    case Op::FrontFace: glFrontFace(c.e[0]); break;
    case Op::CullFace: glCullFace(c.e[0]); break;
    case Op::TexEnv: glTexEnvi(c.e[0], c.e[1], GLint(c.e[2])); break;
    case Op::TexParam: {
        GLint value = GLint(c.e[1]) == GL_CLAMP ? GL_CLAMP_TO_EDGE : GLint(c.e[1]);
        switch (c.e[0]) {
        case GL_TEXTURE_MIN_FILTER: texture_parameters.min_filter = value; break;
        case GL_TEXTURE_MAG_FILTER: texture_parameters.mag_filter = value; break;
        case GL_TEXTURE_WRAP_S: texture_parameters.wrap_s = value; break;
        case GL_TEXTURE_WRAP_T: texture_parameters.wrap_t = value; break;
        default: unsupported("texture parameter", c.e[0]);
        }
        texture_parameters.version++;
        GLint bound = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        if (bound)
            apply_texture_parameters(GLuint(bound));
        break;
    }
    }
}

void call_list(GLuint name, int depth)
{
    // As native GL, nesting stops at 64 levels.
    if (depth > 64)
        return;
    auto it = lists.find(name);
    if (it == lists.end())
        return;
    DisplayList &list = it->second;
    for (Command &c : list.commands)
        execute(c, &list, depth);
}

// Recorded while a list is compiled, else executed at once.
void submit(Command c)
{
    if (compiling)
        compiling->commands.push_back(c);
    else
        execute(c, nullptr, 0);
}

Command command(Op op, std::initializer_list<double> d = {}, std::initializer_list<GLenum> e = {})
{
    Command c{op, {0, 0, 0}, {}};
    std::copy(d.begin(), d.end(), c.d);
    std::copy(e.begin(), e.end(), c.e);
    return c;
}

// A glColor / glTexCoord in a list: inside a block it is recorded after the block's draw.
void record_attribute(unsigned char which, const Command &c)
{
    list_inherits &= ~which;
    if (in_primitive)
        primitive_sets |= which;
    else
        compiling->commands.push_back(c);
}

Attributes &current_attributes()
{
    return compiling ? list_attributes : state;
}

void add_vertex(GLfloat x, GLfloat y, GLfloat z)
{
    const Attributes &a = current_attributes();
    primitive_vertices.push_back(Vertex{x, y, z, a.colour[0], a.colour[1], a.colour[2],
                                        a.colour[3], a.texcoord[0], a.texcoord[1]});
    primitive_inherits.push_back(compiling ? list_inherits : 0);
}

// Triangle i of the primitive as indices into its vertices, winding kept.
template <typename Emit> void triangulate(GLenum mode, size_t n, Emit emit)
{
    switch (mode) {
    case GL_TRIANGLES:
        for (size_t i = 0; i + 2 < n; i += 3)
            emit(i, i + 1, i + 2);
        break;
    case GL_QUADS:
        for (size_t i = 0; i + 3 < n; i += 4) {
            emit(i, i + 1, i + 2);
            emit(i, i + 2, i + 3);
        }
        break;
    case GL_QUAD_STRIP:
        // Quad k is v2k, v2k+1, v2k+3, v2k+2.
        for (size_t i = 0; i + 3 < n; i += 2) {
            emit(i, i + 1, i + 3);
            emit(i, i + 3, i + 2);
        }
        break;
    case GL_TRIANGLE_FAN:
        for (size_t i = 1; i + 1 < n; i++)
            emit(0, i, i + 1);
        break;
    default:
        unsupported("primitive", mode);
    }
}

}  // namespace

// ---- the GL calls ---------------------------------------------------------------------------

extern "C" {

void qmgl_Begin(GLenum mode)
{
    primitive = mode;
    in_primitive = true;
    primitive_sets = 0;
    primitive_vertices.clear();
    primitive_inherits.clear();
}

void qmgl_End(void)
{
    in_primitive = false;
    if (compiling) {
        DisplayList &list = *compiling;
        size_t first = list.vertices.size();
        bool inherits = false;
        triangulate(primitive, primitive_vertices.size(), [&](size_t a, size_t b, size_t c) {
            for (size_t i : {a, b, c}) {
                list.vertices.push_back(primitive_vertices[i]);
                list.inherits.push_back(primitive_inherits[i]);
                inherits = inherits || primitive_inherits[i];
            }
        });
        size_t count = list.vertices.size() - first;
        if (count)
            list.commands.push_back(command(Op::Draw, {}, {GLenum(first), GLenum(count), inherits}));
        const Attributes &a = list_attributes;
        if (primitive_sets & inherit_colour)
            list.commands.push_back(
                command(Op::Color, {a.colour[0], a.colour[1], a.colour[2], a.colour[3]}));
        if (primitive_sets & inherit_texcoord)
            list.commands.push_back(command(Op::TexCoord, {a.texcoord[0], a.texcoord[1]}));
        return;
    }
    if (scissor_empty)
        return;
    triangulate(primitive, primitive_vertices.size(), [&](size_t a, size_t b, size_t c) {
        for (size_t i : {a, b, c})
            add_to_batch(primitive_vertices[i]);
    });
}

void qmgl_Vertex2f(GLfloat x, GLfloat y) { add_vertex(x, y, 0.0f); }
void qmgl_Vertex3f(GLfloat x, GLfloat y, GLfloat z) { add_vertex(x, y, z); }
void qmgl_Vertex3fv(const GLfloat *v) { add_vertex(v[0], v[1], v[2]); }

void qmgl_Color4f(GLfloat r, GLfloat g, GLfloat b, GLfloat a)
{
    // Fixed-function GL clamps vertex colours before they are interpolated; a shader would
    // interpolate out-of-range values and clamp only the fragment.
    Attributes &at = current_attributes();
    at.colour[0] = std::clamp(r, 0.0f, 1.0f);
    at.colour[1] = std::clamp(g, 0.0f, 1.0f);
    at.colour[2] = std::clamp(b, 0.0f, 1.0f);
    at.colour[3] = std::clamp(a, 0.0f, 1.0f);
    if (compiling)
        record_attribute(inherit_colour, command(Op::Color, {r, g, b, a}));
}

void qmgl_Color4fv(const GLfloat *v) { qmgl_Color4f(v[0], v[1], v[2], v[3]); }

void qmgl_TexCoord2f(GLfloat s, GLfloat t)
{
    Attributes &at = current_attributes();
    at.texcoord[0] = s;
    at.texcoord[1] = t;
    if (compiling)
        record_attribute(inherit_texcoord, command(Op::TexCoord, {s, t}));
}

void qmgl_NewList(GLuint name, GLenum mode)
{
    if (mode != GL_COMPILE)
        unsupported("list mode", mode);
    if (compiling)
        unsupported("glNewList inside list", name);
    compiling = &lists[name];
    for (const Command &c : compiling->commands) {
        GLuint buffer = c.op == Op::Draw ? GLuint(c.d[0]) : 0;
        if (buffer)
            glDeleteBuffers(1, &buffer);
    }
    *compiling = DisplayList{};
    list_attributes = state;
    list_inherits = inherit_colour | inherit_texcoord;
}

void qmgl_EndList(void) { compiling = nullptr; }

void qmgl_CallList(GLuint name)
{
    if (compiling) {
        // What the called list sets is known only when it runs.
        compiling->commands.push_back(command(Op::Call, {}, {name}));
        list_inherits = inherit_colour | inherit_texcoord;
        return;
    }
    call_list(name, 0);
}

void qmgl_MatrixMode(GLenum mode) { submit(command(Op::MatrixMode, {}, {mode})); }
void qmgl_LoadIdentity(void) { submit(command(Op::LoadIdentity)); }

void qmgl_LoadMatrixf(const GLfloat *m)
{
    Command c = command(Op::LoadMatrix);
    std::copy(m, m + 16, c.d);
    submit(c);
}

void qmgl_Translatef(GLfloat x, GLfloat y, GLfloat z) { submit(command(Op::Translate, {x, y, z})); }
void qmgl_Rotatef(GLfloat a, GLfloat x, GLfloat y, GLfloat z)
{
    submit(command(Op::Rotate, {a, x, y, z}));
}
void qmgl_Scalef(GLfloat x, GLfloat y, GLfloat z) { submit(command(Op::Scale, {x, y, z})); }
void qmgl_PushMatrix(void) { submit(command(Op::Push)); }
void qmgl_PopMatrix(void) { submit(command(Op::Pop)); }

void qmgl_Ortho(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f)
{
    submit(command(Op::Ortho, {l, r, b, t, n, f}));
}

void qmgl_Perspective(GLdouble fovy, GLdouble aspect, GLdouble near, GLdouble far)
{
    submit(command(Op::Perspective, {fovy, aspect, near, far}));
}

void qmgl_LookAt(GLdouble ex, GLdouble ey, GLdouble ez, GLdouble cx, GLdouble cy, GLdouble cz,
                 GLdouble ux, GLdouble uy, GLdouble uz)
{
    submit(command(Op::LookAt, {ex, ey, ez, cx, cy, cz, ux, uy, uz}));
}

void qmgl_Viewport(GLint x, GLint y, GLsizei w, GLsizei h)
{
    submit(command(Op::Viewport, {double(x), double(y), double(w), double(h)}));
}

void qmgl_Clear(GLbitfield mask) { submit(command(Op::Clear, {}, {mask})); }
void qmgl_ClearColor(GLfloat r, GLfloat g, GLfloat b, GLfloat a)
{
    submit(command(Op::ClearColor, {r, g, b, a}));
}
void qmgl_Enable(GLenum cap) { submit(command(Op::Enable, {}, {cap})); }
void qmgl_Disable(GLenum cap) { submit(command(Op::Disable, {}, {cap})); }
void qmgl_BlendFunc(GLenum s, GLenum d) { submit(command(Op::BlendFunc, {}, {s, d})); }
void qmgl_FrontFace(GLenum mode) { submit(command(Op::FrontFace, {}, {mode})); }
void qmgl_CullFace(GLenum mode) { submit(command(Op::CullFace, {}, {mode})); }

void qmgl_ShadeModel(GLenum mode)
{
    if (mode != GL_SMOOTH)
        unsupported("shade model", mode);
}

void qmgl_PolygonMode(GLenum, GLenum mode)
{
    if (mode != GL_FILL)
        unsupported("polygon mode", mode);
}

void qmgl_TexEnvi(GLenum target, GLenum pname, GLint param)
{
    submit(command(Op::TexEnv, {}, {target, pname, GLenum(param)}));
}

void qmgl_TexParameteri(GLenum, GLenum pname, GLint param)
{
    submit(command(Op::TexParam, {}, {pname, GLenum(param)}));
}

void qmgl_TexImage2D(GLenum target, GLint level, GLint internal, GLsizei w, GLsizei h,
                     GLint border, GLenum format, GLenum type, const void *pixels)
{
    flush();
    GLuint texture = texture_zero();
    if (compiling) {
        // Uploaded now, once; the list binds it where the upload stood.
        glGenTextures(1, &texture);
        compiling->commands.push_back(command(Op::Bind, {}, {texture}));
    }
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    bind_texture(texture);
    glTexImage2D(target, level, sized_format(internal), w, h, border, format, type, pixels);
    if (compiling)
        glBindTexture(GL_TEXTURE_2D, GLuint(bound));
}

// What reads or finishes the frame sees the batch drawn.
void qmgl_Flush(void)
{
    flush();
    glFlush();
}

void qmgl_Finish(void)
{
    flush();
    glFinish();
}

void qmgl_Scissor(GLint x, GLint y, GLsizei w, GLsizei h)
{
    flush();
    scissor_empty = w <= 0 || h <= 0;
    glScissor(x, y, w, h);
}

void qmgl_ReadPixels(GLint x, GLint y, GLsizei w, GLsizei h, GLenum format, GLenum type,
                     void *pixels)
{
    flush();
    glReadPixels(x, y, w, h, format, type, pixels);
}

}  // extern "C"
