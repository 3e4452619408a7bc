// The archive as the tool sees it: the whole file in memory, its directory checked against
// the file, payloads inflated on demand; and the writer used by `zaf pack`.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace zaf {

using Bytes = std::vector<unsigned char>;

// Little-endian 32-bit words, as every header of the archive stores them.
inline uint32_t Word_At(const Bytes &bytes, size_t offset)
{
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16
        | (uint32_t)bytes[offset + 3] << 24;
}

inline void Word_Append(Bytes &bytes, uint32_t word)
{
    for (int i = 0; i < 4; i++)
        bytes.push_back((unsigned char)(word >> (8 * i)));
}

// Every failure the tool reports: one line, no prefix.
struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Entry {
    std::string name;
    uint32_t type;
    uint32_t unpacked_size;
    uint32_t packed_size;
    uint32_t data_offset;
};

struct Archive {
    std::string path;
    Bytes bytes;
    std::vector<Entry> entries;
};

// Reads and checks header and directory; throws Error naming the file.
Archive Archive_Load(const std::string &path);

// The entry's inflated payload; throws Error naming the entry when its data is damaged.
Bytes Archive_Inflate(const Archive &archive, const Entry &entry);

struct PackItem {
    std::string name;
    uint32_t type;
    Bytes payload;
};

// The archive bytes for the items, in their order: header, directory, payloads deflated at
// the best level. Same items, same bytes.
Bytes Archive_Build(const std::vector<PackItem> &items);

std::string Type_Name(uint32_t type);

// A name as it may be shown: control characters become '?', so a row stays one line.
std::string Printable(const std::string &name);

Bytes File_Read(const std::string &path);
// Writes through a temporary file and a rename, so a failed write leaves no partial file.
void File_Write(const std::string &path, const Bytes &bytes);

}  // namespace zaf
