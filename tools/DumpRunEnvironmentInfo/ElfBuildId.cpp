#include "tools/DumpRunEnvironmentInfo/ElfBuildId.h"

#include <elf.h>

#include <cstddef>
#include <cstring>
#include <fstream>
#include <vector>

namespace envinfo {
namespace {

// Reads the file's fields in the byte order its header names, so a file of
// the other byte order is read as correctly as a native one.
class ElfReader {
public:
    explicit ElfReader(const std::string& path) : m_In(path, std::ios::binary) {}

    bool Open() {
        unsigned char ident[EI_NIDENT] = {};
        if (!Read(0, ident, sizeof(ident))) return false;
        if (std::memcmp(ident, ELFMAG, SELFMAG) != 0 || ident[EI_CLASS] != ELFCLASS64) return false;
        m_BigEndian = ident[EI_DATA] == ELFDATA2MSB;
        return true;
    }
    bool Read(uint64_t offset, void* into, size_t length) {
        m_In.clear();
        m_In.seekg(static_cast<std::streamoff>(offset));
        m_In.read(static_cast<char*>(into), static_cast<std::streamsize>(length));
        return static_cast<size_t>(m_In.gcount()) == length;
    }
    uint64_t Field(const unsigned char* bytes, size_t width) const {
        uint64_t value = 0;
        for (size_t i = 0; i < width; ++i) {
            const size_t at = m_BigEndian ? i : width - 1 - i;
            value = (value << 8) | bytes[at];
        }
        return value;
    }

private:
    std::ifstream m_In;
    bool m_BigEndian = false;
};

uint64_t Align4(uint64_t value) { return (value + 3u) & ~uint64_t{3}; }

std::string Hex(const unsigned char* bytes, size_t length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

// The build-id among the notes of one note segment.
std::optional<std::string> FindInNotes(const ElfReader& elf, const std::vector<unsigned char>& notes) {
    size_t at = 0;
    while (at + 12 <= notes.size()) {
        const uint64_t nameSize = elf.Field(&notes[at], 4);
        const uint64_t descSize = elf.Field(&notes[at + 4], 4);
        const uint64_t type = elf.Field(&notes[at + 8], 4);
        const uint64_t nameAt = at + 12;
        const uint64_t descAt = nameAt + Align4(nameSize);
        if (descAt + descSize > notes.size()) break;
        if (type == NT_GNU_BUILD_ID && nameSize == 4 && std::memcmp(&notes[nameAt], "GNU", 4) == 0) {
            return Hex(&notes[descAt], descSize);
        }
        at = descAt + Align4(descSize);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> ReadBuildId(const std::string& path) {
    ElfReader elf(path);
    if (!elf.Open()) return std::nullopt;
    unsigned char header[sizeof(Elf64_Ehdr)];
    if (!elf.Read(0, header, sizeof(header))) return std::nullopt;
    const uint64_t tableAt = elf.Field(header + offsetof(Elf64_Ehdr, e_phoff), 8);
    const uint64_t entrySize = elf.Field(header + offsetof(Elf64_Ehdr, e_phentsize), 2);
    const uint64_t count = elf.Field(header + offsetof(Elf64_Ehdr, e_phnum), 2);
    if (entrySize < sizeof(Elf64_Phdr)) return std::nullopt;
    for (uint64_t i = 0; i < count; ++i) {
        unsigned char entry[sizeof(Elf64_Phdr)];
        if (!elf.Read(tableAt + i * entrySize, entry, sizeof(entry))) return std::nullopt;
        if (elf.Field(entry + offsetof(Elf64_Phdr, p_type), 4) != PT_NOTE) continue;
        const uint64_t size = elf.Field(entry + offsetof(Elf64_Phdr, p_filesz), 8);
        // Note segments are a few hundred bytes; anything huge is not one.
        if (size > (1u << 20)) continue;
        std::vector<unsigned char> notes(size);
        if (!elf.Read(elf.Field(entry + offsetof(Elf64_Phdr, p_offset), 8), notes.data(), notes.size())) continue;
        if (auto id = FindInNotes(elf, notes)) return id;
    }
    return std::nullopt;
}

}  // namespace envinfo
