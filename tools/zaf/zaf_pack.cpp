#include "tools/zaf/zaf_pack.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "assets/decoders.h"
#include "tools/zaf/zaf_formats.h"

namespace zaf {

namespace fs = std::filesystem;

// "32x32" → {32, 32}; false if it is not two positive decimal numbers.
static bool Tile_Size(const std::string &text, uint32_t &width, uint32_t &height)
{
    size_t x = text.find('x');
    if (x == std::string::npos || x == 0 || x + 1 == text.size()
        || text.find_first_not_of("0123456789x") != std::string::npos
        || text.find('x', x + 1) != std::string::npos || x > 9 || text.size() - x - 1 > 9)
        return false;
    width = (uint32_t)std::stoul(text.substr(0, x));
    height = (uint32_t)std::stoul(text.substr(x + 1));
    return width > 0 && height > 0;
}

static std::string Find_Source(const std::string &source, const fs::path &manifest_dir,
                               const std::vector<std::string> &include_dirs)
{
    std::error_code error;
    if (fs::path(source).is_absolute())
        return fs::is_regular_file(source, error) ? source : "";
    fs::path beside = manifest_dir / source;
    if (fs::is_regular_file(beside, error))
        return beside.string();
    for (const std::string &dir : include_dirs) {
        fs::path candidate = fs::path(dir) / source;
        if (fs::is_regular_file(candidate, error))
            return candidate.string();
    }
    return "";
}

std::vector<PackItem> Manifest_Load(const std::string &manifest,
                                    const std::vector<std::string> &include_dirs)
{
    std::ifstream in(manifest);
    if (!in)
        throw Error(manifest + ": cannot open");
    fs::path manifest_dir = fs::path(manifest).parent_path();
    std::vector<PackItem> items;
    std::map<std::string, size_t> first_line;
    std::string text;
    size_t line = 0;
    while (std::getline(in, text)) {
        line++;
        std::string where = manifest + ":" + std::to_string(line) + ": ";
        text = text.substr(0, text.find('#'));
        std::istringstream words(text);
        std::vector<std::string> fields;
        for (std::string word; words >> word;)
            fields.push_back(word);
        if (fields.empty())
            continue;
        if (fields.size() < 3)
            throw Error(where + "expected NAME TYPE SOURCE [WxH]");
        const std::string &name = fields[0], &type = fields[1], &source = fields[2];
        if (name.size() > 39)
            throw Error(where + "name '" + name + "' is longer than 39 characters");
        if (auto [at, fresh] = first_line.emplace(name, line); !fresh)
            throw Error(where + "duplicate name '" + name + "' (first on line "
                        + std::to_string(at->second) + ")");
        bool picture = type == "picture";
        if (!picture && type != "mesh" && type != "data")
            throw Error(where + "unknown type '" + type + "' (picture, mesh or data)");
        if (picture && fields.size() != 4)
            throw Error(where + "a picture needs its tile size, e.g. 32x32");
        if (!picture && fields.size() != 3)
            throw Error(where + "unexpected field '" + fields[3] + "'");
        uint32_t tile_width = 0, tile_height = 0;
        if (picture && !Tile_Size(fields[3], tile_width, tile_height))
            throw Error(where + "bad tile size '" + fields[3] + "' (expected WxH)");

        std::string path = Find_Source(source, manifest_dir, include_dirs);
        if (path.empty())
            throw Error(where + "source '" + source + "' not found");
        try {
            if (picture)
                items.push_back({name, ZAF_TYPE_PICTURE,
                                 Picture_Encode(Png_Read(path), tile_width, tile_height)});
            else if (type == "mesh")
                items.push_back({name, ZAF_TYPE_MESH, Mesh_Encode(path)});
            else
                items.push_back({name, ZAF_TYPE_DATA, File_Read(path)});
        } catch (const Error &error) {
            // Picture_Encode's reasons do not name the file; the readers' do.
            std::string reason = error.what();
            if (reason.compare(0, path.size(), path) != 0)
                reason = path + ": " + reason;
            throw Error(where + reason);
        }
    }
    return items;
}

}  // namespace zaf
