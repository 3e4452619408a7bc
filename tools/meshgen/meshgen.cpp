// meshgen: builds the demo's two meshes from swept tubes and ellipsoids and writes them as
// Wavefront OBJ (v and f lines, triangles only) for zaf pack.
//
//   meshgen lemurbandit OUTPUT.obj   the mascot, a lemur in a bandit's mask, centred, ~70 tall
//   meshgen lodyga OUTPUT.obj        the sprouting stem that stands on the ribbed bulb
//
// The scenes draw these unlit in one flat translucent colour without depth test (the mascot)
// or over an opaque bulb (the stem), so everything is shape and overlap: a part that should
// read darker is another closed layer on top (the mask band, the tail rings).
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Vec {
    double x = 0, y = 0, z = 0;
};
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator*(Vec a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double Dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec Cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double Length(Vec a) { return std::sqrt(Dot(a, a)); }
Vec Normalise(Vec a) { return a * (1.0 / Length(a)); }

// Turns v about the z axis, then about the y axis (degrees).
Vec Turn(Vec v, double about_z, double about_y)
{
    const double cz = std::cos(about_z * kPi / 180), sz = std::sin(about_z * kPi / 180);
    v = {v.x * cz - v.y * sz, v.x * sz + v.y * cz, v.z};
    const double cy = std::cos(about_y * kPi / 180), sy = std::sin(about_y * kPi / 180);
    return {v.x * cy + v.z * sy, v.y, v.z * cy - v.x * sy};
}

using Ring = std::vector<Vec>;  // one point: a pole

struct Mesh {
    std::vector<Vec> vertices;
    std::vector<std::array<int, 3>> triangles;

    void Triangle(int a, int b, int c)
    {
        const Vec n = Cross(vertices[b] - vertices[a], vertices[c] - vertices[a]);
        if (Length(n) > 1e-9) triangles.push_back({a, b, c});
    }

    // Joins consecutive rings into one surface; rings of one point close it off as poles.
    void Loft(const std::vector<Ring> &rings)
    {
        std::vector<int> first;
        for (const Ring &ring : rings) {
            first.push_back(static_cast<int>(vertices.size()));
            vertices.insert(vertices.end(), ring.begin(), ring.end());
        }
        for (size_t i = 0; i + 1 < rings.size(); i++) {
            const int na = static_cast<int>(rings[i].size()), nb = static_cast<int>(rings[i + 1].size());
            const int n = std::max(na, nb);
            for (int k = 0; k < n; k++) {
                const int a0 = first[i] + (na == 1 ? 0 : k), a1 = first[i] + (na == 1 ? 0 : (k + 1) % n);
                const int b0 = first[i + 1] + (nb == 1 ? 0 : k), b1 = first[i + 1] + (nb == 1 ? 0 : (k + 1) % n);
                if (na != 1) Triangle(a0, a1, b1);
                if (nb != 1) Triangle(a0, b1, b0);
            }
        }
    }

    void Transform(const std::function<Vec(Vec)> &f)
    {
        for (Vec &v : vertices) v = f(v);
    }
};

// An ellipsoid with radii (a, b, c) along its own axes, tilted by about_z then about_y degrees.
void Ellipsoid(Mesh &mesh, Vec centre, Vec radii, int slices, int stacks, double about_z = 0, double about_y = 0)
{
    std::vector<Ring> rings;
    for (int s = 0; s <= stacks; s++) {
        const double phi = -kPi / 2 + kPi * s / stacks;
        if (s == 0 || s == stacks) {
            rings.push_back({centre + Turn({0, radii.y * std::sin(phi), 0}, about_z, about_y)});
            continue;
        }
        Ring ring;
        for (int k = 0; k < slices; k++) {
            const double theta = 2 * kPi * k / slices;
            const Vec p = {radii.x * std::cos(phi) * std::cos(theta), radii.y * std::sin(phi),
                           -radii.z * std::cos(phi) * std::sin(theta)};
            ring.push_back(centre + Turn(p, about_z, about_y));
        }
        rings.push_back(ring);
    }
    mesh.Loft(rings);
}

// A Catmull-Rom curve through the control points, samples_per_span points per span.
std::vector<Vec> Curve(const std::vector<Vec> &points, int samples_per_span)
{
    std::vector<Vec> out;
    const size_t n = points.size();
    for (size_t i = 0; i + 1 < n; i++) {
        const Vec p0 = points[i == 0 ? 0 : i - 1], p1 = points[i], p2 = points[i + 1];
        const Vec p3 = points[i + 2 < n ? i + 2 : n - 1];
        for (int s = 0; s < samples_per_span; s++) {
            const double t = static_cast<double>(s) / samples_per_span, t2 = t * t, t3 = t2 * t;
            out.push_back((p1 * 2 + (p2 - p0) * t + (p0 * 2 - p1 * 5 + p2 * 4 - p3) * t2 +
                           (p1 * 3 - p0 - p2 * 3 + p3) * t3) * 0.5);
        }
    }
    out.push_back(points.back());
    return out;
}

struct Sweep {
    int sides = 8;
    Vec across = {0, 0, 1};  // the section's first axis starts as path × across
    bool cap_start = true, cap_end = true;
    double cap_bulge = 0.6;   // how far a cap's pole stands out, in radii
};

// Sweeps an elliptical section of radii (ra(s), rb(s)) along a path, s = arc length 0…1.
// A section frame is carried along the path so it never flips; rb = 0 gives a flat ribbon.
void Tube(Mesh &mesh, const std::vector<Vec> &path, const std::function<double(double)> &ra,
          const std::function<double(double)> &rb, const Sweep &sweep)
{
    const size_t n = path.size();
    std::vector<double> length(n, 0.0);
    for (size_t i = 1; i < n; i++) length[i] = length[i - 1] + Length(path[i] - path[i - 1]);

    std::vector<Ring> rings;
    Vec u;
    Vec first_tangent, last_tangent;
    for (size_t i = 0; i < n; i++) {
        const Vec tangent = Normalise(path[i + 1 < n ? i + 1 : i] - path[i > 0 ? i - 1 : 0]);
        u = i == 0 ? Normalise(Cross(tangent, sweep.across)) : Normalise(u - tangent * Dot(u, tangent));
        const Vec v = Cross(u, tangent);
        const double s = length[i] / length[n - 1];
        Ring ring;
        for (int k = 0; k < sweep.sides; k++) {
            const double theta = 2 * kPi * k / sweep.sides;
            ring.push_back(path[i] + u * (ra(s) * std::cos(theta)) + v * (std::max(rb(s), 0.05) * std::sin(theta)));
        }
        rings.push_back(ring);
        if (i == 0) first_tangent = tangent;
        last_tangent = tangent;
    }
    if (sweep.cap_start)
        rings.insert(rings.begin(), Ring{path[0] - first_tangent * (sweep.cap_bulge * std::min(ra(0), rb(0)))});
    if (sweep.cap_end)
        rings.push_back(Ring{path[n - 1] + last_tangent * (sweep.cap_bulge * std::min(ra(1), rb(1)))});
    mesh.Loft(rings);
}

// Moves the mesh so that its bounding box is centred on the origin and scales it to a height.
void CentreAndScale(Mesh &mesh, double height)
{
    Vec lo = mesh.vertices[0], hi = mesh.vertices[0];
    for (const Vec &v : mesh.vertices) {
        lo = {std::min(lo.x, v.x), std::min(lo.y, v.y), std::min(lo.z, v.z)};
        hi = {std::max(hi.x, v.x), std::max(hi.y, v.y), std::max(hi.z, v.z)};
    }
    const Vec centre = (lo + hi) * 0.5;
    const double scale = height / (hi.y - lo.y);
    mesh.Transform([&](Vec v) { return (v - centre) * scale; });
}

// ---- the mascot -------------------------------------------------------------------------

// Sitting upright, facing +z, the ringed tail rising in an S on its left (+x) and curling
// over; the mask is a band round the eyes whose knot ribbons fly out to the other side.
Mesh BuildLemur()
{
    Mesh mesh;
    const auto constant = [](double r) { return [r](double) { return r; }; };

    Ellipsoid(mesh, {0, -10, 0}, {8.5, 12.5, 7}, 16, 10);                 // body
    Ellipsoid(mesh, {0, 9, 1}, {7.5, 6.5, 6.5}, 16, 10);                  // head
    Ellipsoid(mesh, {0, 5.2, 6.5}, {3.2, 2.6, 3.6}, 12, 8);               // muzzle
    Ellipsoid(mesh, {0, 5.6, 10.1}, {1.0, 0.8, 0.8}, 8, 6);               // nose
    for (int side = -1; side <= 1; side += 2) {
        Ellipsoid(mesh, {side * 6.8, 16.2, -0.5}, {2.4, 4.6, 1.4}, 10, 8, -side * 28.0);  // ears
        Ellipsoid(mesh, {side * 3.0, 10.6, 6.4}, {1.8, 1.8, 1.4}, 10, 8);                 // eyes
        Ellipsoid(mesh, {side * 6.0, -18.0, 1.5}, {4.5, 5.5, 5.0}, 12, 8);                // haunches
        Tube(mesh, Curve({{side * 6.6, -1.5, 1}, {side * 7.6, -8, 3.5}, {side * 4.2, -13.5, 7}}, 6),
             [](double s) { return 2.3 - 0.5 * s; }, [](double s) { return 2.3 - 0.5 * s; }, Sweep{});  // arms
        Ellipsoid(mesh, {side * 3.4, -14.2, 7.6}, {2.1, 1.7, 2.1}, 10, 6);                // hands
        Tube(mesh, {{side * 5.5, -21.5, 3}, {side * 4.6, -23.3, 7}, {side * 4.2, -23.6, 9.5}},
             constant(1.8), constant(1.4), Sweep{});                                       // feet
    }

    // The bandit mask: an open band hugging the head across the eyes.
    std::vector<Ring> band;
    for (double dy : {-0.4, 1.2, 2.9}) {
        const double f = std::sqrt(1 - (dy / 6.5) * (dy / 6.5)) + 0.1;
        Ring ring;
        for (int k = 0; k < 20; k++) {
            const double theta = 2 * kPi * k / 20;
            ring.push_back({7.5 * f * std::cos(theta), 9 + dy + 0.8, 1 - 6.5 * f * std::sin(theta)});
        }
        band.push_back(ring);
    }
    mesh.Loft(band);
    // Its two knot ribbons, fluttering out to the right (-x), flat and upright.
    Sweep ribbon;
    ribbon.sides = 6;
    ribbon.across = {0, 0, 1};
    Tube(mesh, Curve({{-4, 11, -4.5}, {-9, 12.6, -5.5}, {-14, 10.2, -5.5}, {-19.5, 12.4, -5}}, 6),
         [](double s) { return 1.5 - 0.2 * s; }, constant(0.35), ribbon);
    Tube(mesh, Curve({{-4, 9.6, -4.5}, {-8.5, 8.2, -5.5}, {-12.5, 5.4, -5.5}, {-17.5, 6.8, -5}}, 6),
         [](double s) { return 1.3 - 0.2 * s; }, constant(0.35), ribbon);

    // The tail: a long S rising beside the body, tip curled; dark rings are sleeves over it.
    const std::vector<Vec> tail = Curve({{3.5, -19, -5}, {11, -23, -6}, {18.5, -16, -6}, {21, -4, -5},
                                         {18.5, 8, -5}, {14.5, 17, -4}, {14, 25, -4}, {17.5, 30.5, -4},
                                         {22, 29, -4}, {22, 24.5, -4}},
                                        5);
    const auto tail_radius = [](double s) { return 2.5 - 0.9 * s * s; };
    Tube(mesh, tail, tail_radius, tail_radius, Sweep{});
    std::vector<double> length(tail.size(), 0.0);
    for (size_t i = 1; i < tail.size(); i++) length[i] = length[i - 1] + Length(tail[i] - tail[i - 1]);
    const auto tail_at = [&](double at) {
        size_t i = 1;
        while (i + 1 < tail.size() && length[i] < at) i++;
        const double t = (at - length[i - 1]) / (length[i] - length[i - 1]);
        return tail[i - 1] + (tail[i] - tail[i - 1]) * t;
    };
    constexpr int kRings = 8;
    for (int r = 0; r < kRings; r++) {
        const double from = (0.14 + r * 0.105) * length.back(), span = 0.052 * length.back();
        std::vector<Vec> piece;
        for (int k = 0; k <= 4; k++) piece.push_back(tail_at(from + span * k / 4));
        const double radius = tail_radius(from / length.back()) + 0.35;
        Sweep cuff;
        cuff.cap_bulge = 0.0;
        Tube(mesh, piece, [radius](double) { return radius; }, [radius](double) { return radius; }, cuff);
    }

    CentreAndScale(mesh, 70.0);
    return mesh;
}

// ---- the stem ---------------------------------------------------------------------------

// Grows from the dimple on top of the bulb (y 55): a swaying stalk with two drooping leaves
// and a fiddlehead curl, five moss capsules on the shoulder of the bulb, roots below it.
Mesh BuildStem()
{
    Mesh mesh;

    // The stalk rises, leans over and rolls up into a spiral in the x-y plane.
    std::vector<Vec> stalk_points = {{0, 48, 0}, {2, 75, 1.5}, {-4, 105, -1}, {-1, 135, 1}, {6, 156, 0}};
    const Vec curl_centre = {16, 160, 0};
    for (int k = 1; k <= 9; k++) {
        const double a = kPi - k * 0.62, r = 10.0 * std::pow(0.83, k);
        stalk_points.push_back(curl_centre + Vec{r * std::cos(a), r * std::sin(a), 0});
    }
    const std::vector<Vec> stalk = Curve(stalk_points, 6);
    const auto stalk_radius = [](double s) { return 10.0 - 8.2 * std::pow(s, 0.7); };
    Sweep stalk_sweep;
    stalk_sweep.sides = 12;
    Tube(mesh, stalk, stalk_radius, stalk_radius, stalk_sweep);

    // Leaves: flat blades, widest a third of the way out, tips bending down.
    Sweep blade;
    blade.sides = 8;
    const auto width = [](double s) { return 19.0 * std::pow(std::sin(kPi * std::pow(s, 0.75)), 0.9) + 0.3; };
    const auto thickness = [](double s) { return 1.4 * std::sin(kPi * s) + 0.3; };
    blade.across = {-0.5, 1, 0.9};  // blades tilted about their midribs, half facing the viewer
    Tube(mesh, Curve({{-1, 94, 0}, {26, 110, 14}, {54, 108, 28}, {76, 88, 36}}, 8), width, thickness, blade);
    blade.across = {0.5, 1, -0.9};
    Tube(mesh, Curve({{-2, 122, 0}, {-26, 138, -12}, {-52, 138, -24}, {-72, 120, -32}}, 8), width, thickness,
         blade);

    // Moss capsules on thin setae around the shoulder of the bulb.
    for (int k = 0; k < 5; k++) {
        const double a = (18 + 72 * k) * kPi / 180, r = 62 + 6 * (k % 2), h = 38 + 9 * ((k * 3) % 5);
        const Vec base = {r * std::cos(a), 52, r * std::sin(a)};
        const Vec out = {std::cos(a), 0, std::sin(a)};
        const Vec top = base + out * 10 + Vec{0, h, 0};
        Sweep seta;
        seta.sides = 6;
        Tube(mesh, Curve({base, base + out * 2 + Vec{0, h * 0.5, 0}, top}, 6), [](double) { return 2.2; },
             [](double) { return 2.2; }, seta);
        const double lean = std::atan2(10.0, h) * 180 / kPi + 14;
        Ellipsoid(mesh, top + out * 2.5 + Vec{0, 7, 0}, {4.6, 9.0, 4.6}, 10, 8, -lean, -a * 180 / kPi);
    }

    // Roots out of the bottom of the bulb, tapering and curling outward.
    for (int k = 0; k < 4; k++) {
        const double a = (45 + 90 * k) * kPi / 180, reach = 40 + 12 * (k % 2);
        const Vec out = {std::cos(a), 0, std::sin(a)};
        const std::vector<Vec> root = Curve({out * 15 + Vec{0, -45, 0}, out * 30 + Vec{0, -95, 0},
                                             out * (reach + 18) + Vec{0, -130, 0},
                                             out * (reach + 34) + Vec{0, -142 - 6.0 * k, 0}},
                                            7);
        const auto root_radius = [](double s) { return 5.0 - 4.2 * s; };
        Sweep root_sweep;
        root_sweep.sides = 8;
        Tube(mesh, root, root_radius, root_radius, root_sweep);
    }
    return mesh;
}

bool WriteObj(const Mesh &mesh, const char *name, const char *path)
{
    FILE *file = std::fopen(path, "w");
    if (!file) return false;
    std::fprintf(file, "# quiet moss: %s, %zu triangles, made by meshgen\n", name, mesh.triangles.size());
    for (const Vec &v : mesh.vertices) std::fprintf(file, "v %.4f %.4f %.4f\n", v.x, v.y, v.z);
    for (const auto &t : mesh.triangles) std::fprintf(file, "f %d %d %d\n", t[0] + 1, t[1] + 1, t[2] + 1);
    return std::fclose(file) == 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::printf("usage: meshgen lemurbandit|lodyga OUTPUT.obj\n");
        return 1;
    }
    Mesh mesh;
    if (std::strcmp(argv[1], "lemurbandit") == 0) {
        mesh = BuildLemur();
    } else if (std::strcmp(argv[1], "lodyga") == 0) {
        mesh = BuildStem();
    } else {
        std::printf("meshgen: unknown mesh '%s' (lemurbandit or lodyga)\n", argv[1]);
        return 1;
    }
    for (const Vec &v : mesh.vertices)
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) {
            std::printf("meshgen: %s came out with a vertex that is not a finite number\n", argv[1]);
            return 1;
        }
    if (!WriteObj(mesh, argv[1], argv[2])) {
        std::printf("meshgen: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
