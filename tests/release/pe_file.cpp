#include "pe_file.h"

#include <fstream>
#include <iterator>

namespace sp::test::pe {
namespace {

// Bounds-checked little-endian reads from the whole file.
class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> file) : file_(file) {}

    std::size_t size() const { return file_.size(); }

    void Need(std::size_t offset, std::size_t count, const char* what) const {
        if (offset > file_.size() || count > file_.size() - offset)
            throw FormatError(std::string(what) + " lies outside the file");
    }
    std::uint8_t Byte(std::size_t offset, const char* what) const {
        Need(offset, 1, what);
        return file_[offset];
    }
    std::uint16_t U16(std::size_t offset, const char* what) const {
        Need(offset, 2, what);
        return static_cast<std::uint16_t>(file_[offset] | file_[offset + 1] << 8);
    }
    std::uint32_t U32(std::size_t offset, const char* what) const {
        Need(offset, 4, what);
        return static_cast<std::uint32_t>(U16(offset, what)) |
               static_cast<std::uint32_t>(U16(offset + 2, what)) << 16;
    }
    std::uint64_t U64(std::size_t offset, const char* what) const {
        return static_cast<std::uint64_t>(U32(offset, what)) |
               static_cast<std::uint64_t>(U32(offset + 4, what)) << 32;
    }
    std::string CString(std::size_t offset, const char* what) const {
        std::string s;
        for (;; ++offset) {
            Need(offset, 1, what);
            if (file_[offset] == 0) return s;
            s.push_back(static_cast<char>(file_[offset]));
        }
    }

  private:
    std::span<const std::uint8_t> file_;
};

class Parser {
  public:
    explicit Parser(std::span<const std::uint8_t> file) : in_(file) {}

    Image Run() {
        if (in_.size() < 0x40 || in_.U16(0, "DOS header") != 0x5a4d)
            throw FormatError("no MZ header");
        const std::size_t pe = in_.U32(0x3c, "e_lfanew");
        if (in_.U32(pe, "PE signature") != 0x00004550) throw FormatError("no PE signature");
        const std::size_t coff = pe + 4;
        image_.machine = in_.U16(coff, "machine");
        const std::uint16_t sectionCount = in_.U16(coff + 2, "section count");
        const std::uint16_t optionalSize = in_.U16(coff + 16, "optional header size");
        const std::size_t optional = coff + 20;

        const std::uint16_t magic = in_.U16(optional, "optional header magic");
        if (magic != 0x10b && magic != 0x20b) throw FormatError("unknown optional header magic");
        image_.pe32Plus = magic == 0x20b;
        image_.subsystemOffset = optional + 68;
        image_.subsystem = in_.U16(image_.subsystemOffset, "subsystem");
        sizeOfHeaders_ = in_.U32(optional + 60, "SizeOfHeaders");
        const std::size_t directoryCountAt = optional + (image_.pe32Plus ? 108 : 92);
        const std::uint32_t directoryCount = in_.U32(directoryCountAt, "directory count");
        const std::size_t directories = directoryCountAt + 4;
        if (directories + 8 * std::size_t{directoryCount} > optional + optionalSize)
            throw FormatError("data directories run past the optional header");

        const std::size_t sectionTable = optional + optionalSize;
        for (std::size_t i = 0; i < sectionCount; ++i) {
            const std::size_t at = sectionTable + 40 * i;
            in_.Need(at, 40, "section header");
            Section s;
            for (std::size_t c = 0; c < 8 && in_.Byte(at + c, "section name") != 0; ++c)
                s.name.push_back(static_cast<char>(in_.Byte(at + c, "section name")));
            s.virtualSize = in_.U32(at + 8, "section");
            s.virtualAddress = in_.U32(at + 12, "section");
            s.rawSize = in_.U32(at + 16, "section");
            s.rawOffset = in_.U32(at + 20, "section");
            image_.sections.push_back(s);
        }

        auto directory = [&](std::uint32_t index) -> std::pair<std::uint32_t, std::uint32_t> {
            if (index >= directoryCount) return {0, 0};
            return {in_.U32(directories + 8 * index, "data directory"),
                    in_.U32(directories + 8 * index + 4, "data directory")};
        };
        if (const auto [rva, size] = directory(1); rva != 0 && size != 0) ReadImports(rva);
        if (const auto [rva, size] = directory(2); rva != 0 && size != 0) {
            resourceBase_ = Offset(rva, 16, "resource directory");
            ReadResourceDirectory(resourceBase_, 0, {});
        }
        // The certificate table is the one directory given as a file offset.
        if (const auto [offset, size] = directory(4); offset != 0 && size != 0) {
            in_.Need(offset, size, "certificate table");
            image_.certificateOffset = offset;
            image_.certificateSize = size;
        }
        return std::move(image_);
    }

  private:
    // The file offset of `count` bytes at `rva`; they must be in the file.
    std::size_t Offset(std::uint64_t rva, std::size_t count, const char* what) const {
        if (rva + count <= sizeOfHeaders_) return static_cast<std::size_t>(rva);
        for (const Section& s : image_.sections) {
            if (rva >= s.virtualAddress &&
                rva + count <= std::uint64_t{s.virtualAddress} + s.rawSize) {
                const std::size_t offset =
                    s.rawOffset + static_cast<std::size_t>(rva - s.virtualAddress);
                in_.Need(offset, count, what);
                return offset;
            }
        }
        throw FormatError(std::string(what) + " is not in any section");
    }

    void ReadImports(std::uint32_t rva) {
        for (std::size_t at = Offset(rva, 20, "import descriptor");; at += 20) {
            in_.Need(at, 20, "import descriptor");
            const std::uint32_t lookup = in_.U32(at, "import descriptor");
            const std::uint32_t nameRva = in_.U32(at + 12, "import descriptor");
            const std::uint32_t addresses = in_.U32(at + 16, "import descriptor");
            if (nameRva == 0 && addresses == 0) return;
            const std::size_t dllNameOffset = Offset(nameRva, 1, "DLL name");
            const std::string dll = in_.CString(dllNameOffset, "DLL name");
            // The lookup table keeps what the loader overwrites in the address table.
            const std::size_t width = image_.pe32Plus ? 8 : 4;
            const std::uint64_t ordinalFlag = image_.pe32Plus ? 1ull << 63 : 1ull << 31;
            for (std::size_t thunk = Offset(lookup ? lookup : addresses, width, "import thunk");;
                 thunk += width) {
                const std::uint64_t value = image_.pe32Plus ? in_.U64(thunk, "import thunk")
                                                            : in_.U32(thunk, "import thunk");
                if (value == 0) break;
                Import imp;
                imp.dll = dll;
                imp.thunkOffset = thunk;
                imp.dllNameOffset = dllNameOffset;
                if (value & ordinalFlag) {
                    imp.byOrdinal = true;
                    imp.ordinal = static_cast<std::uint16_t>(value & 0xffff);
                } else {
                    // A hint, then the name.
                    imp.name = in_.CString(Offset(value & 0x7fffffff, 3, "import name") + 2,
                                           "import name");
                }
                image_.imports.push_back(std::move(imp));
            }
        }
    }

    ResourceId ReadResourceId(std::uint32_t field) const {
        ResourceId id;
        if (field & 0x80000000u) {
            id.named = true;
            const std::size_t at = resourceBase_ + (field & 0x7fffffff);
            const std::uint16_t length = in_.U16(at, "resource name");
            for (std::size_t i = 0; i < length; ++i)
                id.name.push_back(static_cast<char16_t>(in_.U16(at + 2 + 2 * i, "resource name")));
        } else {
            if (field > 0xffff) throw FormatError("resource id above 65535");
            id.number = static_cast<std::uint16_t>(field);
        }
        return id;
    }

    // Levels: 0 types, 1 names, 2 languages, whose entries point at the data.
    void ReadResourceDirectory(std::size_t at, int level, Resource path) {
        const std::size_t entryCount = std::size_t{in_.U16(at + 12, "resource directory")} +
                                       in_.U16(at + 14, "resource directory");
        for (std::size_t i = 0; i < entryCount; ++i) {
            const std::size_t entry = at + 16 + 8 * i;
            const std::uint32_t idField = in_.U32(entry, "resource entry");
            const std::uint32_t target = in_.U32(entry + 4, "resource entry");
            const bool subdirectory = (target & 0x80000000u) != 0;
            if (subdirectory != (level < 2))
                throw FormatError("resource tree is not three levels deep");
            Resource r = path;
            if (level == 0) {
                r.type = ReadResourceId(idField);
                r.typeEntryOffset = entry;
            } else if (level == 1) {
                r.name = ReadResourceId(idField);
                r.nameEntryOffset = entry;
            } else {
                if (idField > 0xffff) throw FormatError("resource language is not a number");
                r.language = static_cast<std::uint16_t>(idField);
                r.languageEntryOffset = entry;
            }
            const std::size_t next = resourceBase_ + (target & 0x7fffffff);
            if (subdirectory) {
                ReadResourceDirectory(next, level + 1, r);
                continue;
            }
            r.size = in_.U32(next + 4, "resource data entry");
            r.dataOffset = Offset(in_.U32(next, "resource data entry"), r.size, "resource data");
            image_.resources.push_back(std::move(r));
        }
    }

    Reader in_;
    Image image_;
    std::uint32_t sizeOfHeaders_ = 0;
    std::size_t resourceBase_ = 0;
};

}  // namespace

std::string ResourceId::ToString() const {
    if (!named) return std::to_string(number);
    std::string s = "\"";
    for (char16_t c : name) s.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return s + "\"";
}

Image Parse(std::span<const std::uint8_t> file) {
    return Parser(file).Run();
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace sp::test::pe
