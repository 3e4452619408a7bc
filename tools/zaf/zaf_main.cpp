// zaf: the archive tool. `list` shows the directory and what each payload holds, `extract`
// gives an entry back as PNG, OBJ or raw bytes, `pack` builds an archive from a manifest.
#include <getopt.h>

#include <cstdio>
#include <string>
#include <vector>

#include "assets/decoders.h"
#include "tools/zaf/zaf_archive.h"
#include "tools/zaf/zaf_formats.h"
#include "tools/zaf/zaf_pack.h"

using namespace zaf;

static const char usage[] =
    "Usage: zaf list ARCHIVE\n"
    "  or:  zaf extract ARCHIVE NAME [-o FILE]\n"
    "  or:  zaf pack ARCHIVE MANIFEST [-I DIR]...\n"
    "List, extract or pack the demo's asset archive.\n"
    "\n"
    "  list      one row per entry: name, type and code, packed and unpacked size,\n"
    "            offset, and tiles and tile size (pictures) or triangles (meshes)\n"
    "  extract   a picture as PNG, a mesh as Wavefront OBJ, data as its raw bytes\n"
    "  pack      entries from MANIFEST, one a line: NAME TYPE SOURCE [WxH]\n"
    "            (TYPE picture, mesh or data; WxH, the tile size, for pictures only)\n"
    "\n"
    "  -o, --output=FILE     where extract writes (default NAME.png, NAME.obj or NAME.bin;\n"
    "                        '-' for standard output)\n"
    "  -I, --include=DIR     where pack also looks for sources, after the manifest's folder\n"
    "  -h, --help            show this help and exit\n"
    "      --version         show the version number and exit\n"
    "\n"
    "Exit status is 0 on success and 1 on any error.\n";

static int Fail(const std::string &message)
{
    std::fprintf(stderr, "zaf: %s\n", message.c_str());
    return 1;
}

static int Usage_Error(const std::string &message)
{
    std::fprintf(stderr, "zaf: %s\nTry 'zaf --help' for more information.\n", message.c_str());
    return 1;
}

// What the payload holds, for `list`; throws Error when it is damaged. Every payload is
// inflated, data too, so that a data entry cut short is found as well.
static std::string Entry_Contents(const Archive &archive, const Entry &entry)
{
    Bytes payload = Archive_Inflate(archive, entry);
    if (entry.type != ZAF_TYPE_PICTURE && entry.type != ZAF_TYPE_MESH)
        return "";
    try {
        if (entry.type == ZAF_TYPE_MESH)
            return std::to_string(Mesh_Header(payload).triangle_count) + " triangles";
        PictureHeader h = Picture_Header(payload);
        return std::to_string(h.tiles_across) + "x" + std::to_string(h.tiles_down) + " tiles of "
            + std::to_string(h.tile_width) + "x" + std::to_string(h.tile_height);
    } catch (const Error &error) {
        throw Error(archive.path + ": entry \"" + Printable(entry.name) + "\": " + error.what());
    }
}

static int Command_List(const std::string &path)
{
    Archive archive = Archive_Load(path);
    int width = 4;
    for (const Entry &entry : archive.entries)
        width = std::max(width, (int)entry.name.size());
    std::printf("%-*s  %-12s %10s %10s %10s  %s\n", width, "NAME", "TYPE", "PACKED", "UNPACKED",
                "OFFSET", "CONTENTS");
    // A damaged payload still gets its row; the damage is reported after the table.
    std::vector<std::string> damage;
    for (const Entry &entry : archive.entries) {
        std::string contents;
        try {
            contents = Entry_Contents(archive, entry);
        } catch (const Error &error) {
            contents = "damaged";
            damage.push_back(error.what());
        }
        std::string type = Type_Name(entry.type) + " (" + std::to_string(entry.type) + ")";
        std::printf("%-*s  %-12s %10u %10u %10u  %s\n", width, Printable(entry.name).c_str(),
                    type.c_str(), entry.packed_size, entry.unpacked_size, entry.data_offset, contents.c_str());
    }
    std::fflush(stdout);
    for (const std::string &message : damage)
        Fail(message);
    return damage.empty() ? 0 : 1;
}

static int Command_Extract(const std::string &path, const std::string &name, std::string output)
{
    Archive archive = Archive_Load(path);
    const Entry *found = nullptr;
    // The first entry of a name is the one the demo reads.
    for (const Entry &entry : archive.entries)
        if (entry.name == name) {
            found = &entry;
            break;
        }
    if (!found)
        return Fail(path + ": no entry named \"" + Printable(name) + "\"");
    Bytes payload = Archive_Inflate(archive, *found);
    const char *extension = found->type == ZAF_TYPE_PICTURE ? ".png"
        : found->type == ZAF_TYPE_MESH                      ? ".obj"
                                                            : ".bin";
    if (output.empty())
        output = name + extension;
    std::string where = path + ": entry \"" + Printable(name) + "\": ";
    if (found->type == ZAF_TYPE_PICTURE) {
        Image image;
        try {
            image = Picture_Decode(payload);
        } catch (const Error &error) {
            return Fail(where + error.what());
        }
        Png_Write(output == "-" ? "/dev/stdout" : output, image);
        return 0;
    }
    if (found->type == ZAF_TYPE_MESH) {
        std::string obj;
        try {
            obj = Mesh_Decode(payload, name);
        } catch (const Error &error) {
            return Fail(where + error.what());
        }
        payload.assign(obj.begin(), obj.end());
    }
    if (output == "-") {
        std::fwrite(payload.data(), 1, payload.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : Fail("cannot write standard output");
    }
    File_Write(output, payload);
    return 0;
}

static int Command_Pack(const std::string &path, const std::string &manifest,
                        const std::vector<std::string> &include_dirs)
{
    File_Write(path, Archive_Build(Manifest_Load(manifest, include_dirs)));
    return 0;
}

int main(int argc, char **argv)
{
    static const option options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {"output", required_argument, nullptr, 'o'},
        {"include", required_argument, nullptr, 'I'},
        {nullptr, 0, nullptr, 0},
    };
    std::string output;
    std::vector<std::string> include_dirs;
    opterr = 0;
    int option;
    while ((option = getopt_long(argc, argv, ":ho:I:", options, nullptr)) != -1) {
        switch (option) {
        case 'h':
            std::fputs(usage, stdout);
            return 0;
        case 'V':
            std::puts("zaf " QM_VERSION);
            return 0;
        case 'o':
            output = optarg;
            break;
        case 'I':
            include_dirs.push_back(optarg);
            break;
        case ':':
            return Usage_Error(std::string("option '") + argv[optind - 1] + "' needs an argument");
        default:
            return Usage_Error(std::string("unknown option '") + argv[optind - 1] + "'");
        }
    }
    std::vector<std::string> args(argv + optind, argv + argc);
    if (args.empty())
        return Usage_Error("no command given");
    const std::string &command = args[0];
    try {
        if (command != "extract" && !output.empty())
            return Usage_Error("-o is for extract only");
        if (command != "pack" && !include_dirs.empty())
            return Usage_Error("-I is for pack only");
        if (command == "list" && args.size() == 2)
            return Command_List(args[1]);
        if (command == "extract" && args.size() == 3)
            return Command_Extract(args[1], args[2], output);
        if (command == "pack" && args.size() == 3)
            return Command_Pack(args[1], args[2], include_dirs);
        if (command == "list" || command == "extract" || command == "pack")
            return Usage_Error("wrong number of arguments for " + command);
        return Usage_Error("unknown command '" + command + "'");
    } catch (const Error &error) {
        return Fail(error.what());
    } catch (const std::exception &error) {
        return Fail(std::string("unexpected failure: ") + error.what());
    }
}
