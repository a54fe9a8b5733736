// The plug-in's exported symbols, read from its ELF file's dynamic symbol
// table: 32- or 64-bit, either byte order, whatever the validator runs on.
#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "Batteries.h"

namespace simhost::validate {

namespace {

class ElfReader {
public:
    explicit ElfReader(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        if (!in) throw std::runtime_error("cannot read " + path);
        bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (bytes_.size() < EI_NIDENT || std::memcmp(bytes_.data(), ELFMAG, SELFMAG) != 0)
            throw std::runtime_error(path + " is not an ELF file");
        wide_ = bytes_[EI_CLASS] == ELFCLASS64;
        big_ = bytes_[EI_DATA] == ELFDATA2MSB;
    }

    std::uint64_t u(std::size_t at, std::size_t width) const {
        if (at + width > bytes_.size()) throw std::runtime_error("truncated ELF file");
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const std::uint64_t b = static_cast<unsigned char>(bytes_[at + i]);
            v |= big_ ? b << (8 * (width - 1 - i)) : b << (8 * i);
        }
        return v;
    }
    std::size_t word() const { return wide_ ? 8 : 4; }

    std::vector<std::string> exported(const std::string& allowed) const {
        // Section headers: offset, entry size, count.
        const std::uint64_t shoff = wide_ ? u(0x28, 8) : u(0x20, 4);
        const std::uint64_t shentsize = wide_ ? u(0x3A, 2) : u(0x2E, 2);
        const std::uint64_t shnum = wide_ ? u(0x3C, 2) : u(0x30, 2);
        std::vector<std::string> names;
        for (std::uint64_t i = 0; i < shnum; ++i) {
            const std::size_t sh = static_cast<std::size_t>(shoff + i * shentsize);
            const std::uint64_t type = u(sh + 4, 4);
            if (type != SHT_DYNSYM) continue;
            const std::uint64_t offset = wide_ ? u(sh + 0x18, 8) : u(sh + 0x10, 4);
            const std::uint64_t size = wide_ ? u(sh + 0x20, 8) : u(sh + 0x14, 4);
            const std::uint64_t link = u(sh + (wide_ ? 0x28 : 0x18), 4);
            const std::uint64_t entsize = wide_ ? u(sh + 0x38, 8) : u(sh + 0x24, 4);
            const std::size_t strSh = static_cast<std::size_t>(shoff + link * shentsize);
            const std::uint64_t strOffset = wide_ ? u(strSh + 0x18, 8) : u(strSh + 0x10, 4);
            if (entsize == 0) continue;
            for (std::uint64_t s = 0; s < size / entsize; ++s) {
                const std::size_t sym = static_cast<std::size_t>(offset + s * entsize);
                std::uint64_t nameOff, info, other, shndx;
                if (wide_) {
                    nameOff = u(sym, 4);
                    info = u(sym + 4, 1);
                    other = u(sym + 5, 1);
                    shndx = u(sym + 6, 2);
                } else {
                    nameOff = u(sym, 4);
                    info = u(sym + 12, 1);
                    other = u(sym + 13, 1);
                    shndx = u(sym + 14, 2);
                }
                const unsigned bind = static_cast<unsigned>(info >> 4);
                const unsigned visibility = static_cast<unsigned>(other & 3);
                if (shndx == SHN_UNDEF) continue;
                if (bind != STB_GLOBAL && bind != STB_WEAK && bind != STB_GNU_UNIQUE) continue;
                if (visibility != STV_DEFAULT && visibility != STV_PROTECTED) continue;
                const std::size_t at = static_cast<std::size_t>(strOffset + nameOff);
                if (at >= bytes_.size()) throw std::runtime_error("truncated ELF string table");
                const std::string name(bytes_.data() + at, strnlen(bytes_.data() + at, bytes_.size() - at));
                if (name.empty() || name == allowed) continue;
                names.push_back(name);
            }
        }
        return names;
    }

private:
    std::vector<char> bytes_;
    bool wide_ = false;
    bool big_ = false;
};

}  // namespace

std::vector<std::string> extraExports(const std::string& path, const std::string& allowed) {
    return ElfReader(path).exported(allowed);
}

}  // namespace simhost::validate
