#include "tools/zaf/zaf_archive.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "assets/decoders.h"
#include "assets/zaf.h"

namespace zaf {

Bytes File_Read(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Error(path + ": cannot open: " + std::strerror(errno));
    // A read error (a folder opens, then fails its first read) throws from inside the buffer.
    Bytes bytes;
    try {
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::ios_base::failure &error) {
        throw Error(path + ": cannot read: " + error.code().message());
    }
    if (in.bad())
        throw Error(path + ": read error");
    return bytes;
}

void File_Write(const std::string &path, const Bytes &bytes)
{
    std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(bytes.data()), (std::streamsize)bytes.size());
        out.close();
        if (!out) {
            std::filesystem::remove(temporary);
            throw Error(path + ": cannot write");
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::filesystem::remove(temporary);
        throw Error(path + ": cannot write: " + error.message());
    }
}

std::string Type_Name(uint32_t type)
{
    switch (type) {
    case ZAF_TYPE_MESH:
        return "mesh";
    case ZAF_TYPE_PICTURE:
        return "picture";
    case ZAF_TYPE_DATA:
        return "data";
    }
    return "unknown";
}

std::string Printable(const std::string &name)
{
    std::string shown = name;
    for (char &c : shown)
        if ((unsigned char)c < 0x20 || c == 0x7f)
            c = '?';
    return shown;
}

Archive Archive_Load(const std::string &path)
{
    Archive archive{path, File_Read(path), {}};
    const Bytes &bytes = archive.bytes;
    // The demo compares the magic as a string, so a NUL among the first four bytes fails.
    if (bytes.size() < 4 || std::memcmp(bytes.data(), "ZAFD", 4) != 0)
        throw Error(path + ": not an archive (no \"ZAFD\" at the start)");
    if (bytes.size() < 16)
        throw Error(path + ": header truncated");
    uint32_t count = Word_At(bytes, 12);
    if (16 + (uint64_t)count * sizeof(ZafEntry) > bytes.size())
        throw Error(path + ": entry count " + std::to_string(count) + " does not fit in the file");
    for (uint32_t i = 0; i < count; i++) {
        size_t at = 16 + (size_t)i * sizeof(ZafEntry);
        const char *field = reinterpret_cast<const char *>(&bytes[at]);
        size_t length = strnlen(field, 40);
        if (length == 40)
            throw Error(path + ": entry " + std::to_string(i) + ": name not terminated");
        archive.entries.push_back({std::string(field, length), Word_At(bytes, at + 40),
                                   Word_At(bytes, at + 44), Word_At(bytes, at + 48),
                                   Word_At(bytes, at + 52)});
    }
    return archive;
}

Bytes Archive_Inflate(const Archive &archive, const Entry &entry)
{
    std::string where = archive.path + ": entry \"" + Printable(entry.name) + "\": ";
    if ((uint64_t)entry.data_offset + entry.packed_size > archive.bytes.size())
        throw Error(where + "data past the end of the file");
    // Like the demo, accept a stored size larger than the data; deflate expands at most 1032:1.
    uint64_t capacity = std::min<uint64_t>(entry.unpacked_size, entry.packed_size * 1032ull);
    Bytes out(capacity);
    uLongf length = capacity;
    int status = uncompress(out.data(), &length, archive.bytes.data() + entry.data_offset,
                            entry.packed_size);
    if (status != Z_OK)
        throw Error(where + "decompression failed (" + zError(status) + ")");
    out.resize(length);
    return out;
}

Bytes Archive_Build(const std::vector<PackItem> &items)
{
    std::vector<Bytes> packed;
    for (const PackItem &item : items) {
        uLongf length = compressBound(item.payload.size());
        Bytes deflated(length);
        if (compress2(deflated.data(), &length, item.payload.data(), item.payload.size(),
                      Z_BEST_COMPRESSION) != Z_OK)
            throw Error("entry \"" + item.name + "\": compression failed");
        deflated.resize(length);
        packed.push_back(std::move(deflated));
    }

    Bytes bytes = {'Z', 'A', 'F', 'D'};
    Word_Append(bytes, 0);
    Word_Append(bytes, 0);
    Word_Append(bytes, (uint32_t)items.size());
    uint64_t offset = 16 + items.size() * sizeof(ZafEntry);
    for (size_t i = 0; i < items.size(); i++) {
        if (offset + packed[i].size() > UINT32_MAX || items[i].payload.size() > UINT32_MAX)
            throw Error("entry \"" + items[i].name + "\": archive would exceed 4 GiB");
        char name[40] = {};
        std::memcpy(name, items[i].name.data(), std::min<size_t>(items[i].name.size(), 39));
        bytes.insert(bytes.end(), name, name + 40);
        Word_Append(bytes, items[i].type);
        Word_Append(bytes, (uint32_t)items[i].payload.size());
        Word_Append(bytes, (uint32_t)packed[i].size());
        Word_Append(bytes, (uint32_t)offset);
        offset += packed[i].size();
    }
    for (const Bytes &data : packed)
        bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

}  // namespace zaf
