#include "platform/standin/compound_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/installer.h"
#include "platform/standin/utf.h"

namespace sp::standin {
namespace {

using installer::ERROR_INSTALL_PACKAGE_INVALID;
using installer::ERROR_OPEN_FAILED;
using installer::ERROR_SUCCESS;

constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::size_t kHeaderSize = 512;
constexpr std::uint32_t kHeaderDifatEntries = 109;
constexpr std::uint32_t kMaxRegularId = 0xFFFFFFFA;  // larger sector and entry ids are markers
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
constexpr std::uint32_t kMiniSectorShift = 6;
constexpr std::uint32_t kMiniSectorSize = 1u << kMiniSectorShift;
constexpr std::uint32_t kMiniStreamCutoff = 4096;
constexpr std::uint32_t kEntrySize = 128;
constexpr std::uint8_t kTypeStorage = 1;
constexpr std::uint8_t kTypeStream = 2;
constexpr std::uint8_t kTypeRoot = 5;
constexpr std::u16string_view kSummaryName = u"\u0005SummaryInformation";
constexpr std::uint8_t kSummaryFormatId[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                               0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
constexpr std::uint32_t kPidDictionary = 0;
constexpr std::uint32_t kPidCodePage = 1;

std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint64_t U64(const std::uint8_t* p) {
    return U32(p) | static_cast<std::uint64_t>(U32(p + 4)) << 32;
}

// The simple uppercase the directory orders names by. Stream names of
// installer packages are ASCII or sit in ranges without case, so the common
// alphabets are enough; a name the order misplaces is still found by the
// full walk below.
char16_t Upper(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) ||
        (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) || (c >= 0x430 && c <= 0x44F))
        return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF) return 0x178;
    if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
    return c;
}

// Shorter names come first; names of one length compare by uppercase.
int CompareNames(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char16_t x = Upper(a[i]), y = Upper(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

struct Entry {
    std::u16string name;
    std::uint8_t type = 0;
    std::uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
    std::uint32_t start = 0;
    std::uint64_t size = 0;
};

// A chain of sectors through the FAT or the mini FAT, followed only as far
// as someone asks.
struct Chain {
    std::uint32_t start = 0;
    std::uint64_t idLimit = 0;    // ids at or above this are outside the table
    std::uint64_t maxLength = 0;  // more sectors than this cannot be right
    bool mini = false;
    std::vector<std::uint32_t> ids;
    std::unordered_set<std::uint32_t> seen;
};

class Reader {
  public:
    explicit Reader(const ByteSource& source) : source_(source) {}

    bool Read(SummaryInformation& out);

  private:
    bool ReadBytes(std::uint64_t offset, void* out, std::size_t n) const {
        return offset <= source_.size && n <= source_.size - offset && source_.readAt &&
               source_.readAt(offset, out, n);
    }
    std::uint64_t SectorOffset(std::uint32_t id) const {
        return (static_cast<std::uint64_t>(id) + 1) << shift_;
    }
    Chain MakeChain(std::uint32_t start, std::uint64_t maxLength) const {
        Chain chain;
        chain.start = start;
        chain.idLimit = sectorCount_;
        chain.maxLength = maxLength;
        return chain;
    }

    bool ReadHeader();
    bool FatSectorId(std::uint32_t index, std::uint32_t& id);
    const std::uint8_t* Cached(std::uint64_t key);
    const std::uint8_t* Load(std::uint64_t key, std::uint32_t id);
    bool NextInFat(std::uint32_t sector, std::uint32_t& next);
    bool NextInMiniFat(std::uint32_t sector, std::uint32_t& next);
    bool ChainAt(Chain& chain, std::uint64_t index, std::uint32_t& id);
    bool ReadEntry(std::uint32_t id, Entry& entry);
    bool FindChild(std::uint32_t first, std::u16string_view name, Entry& found, bool& present);
    bool ReadStream(const Entry& entry, std::vector<std::uint8_t>& data);

    const ByteSource& source_;
    std::uint8_t header_[kHeaderSize] = {};
    bool version4_ = false;
    std::uint32_t shift_ = 9;
    std::uint32_t sectorSize_ = 512;
    std::uint32_t entriesPerSector_ = 128;  // 32-bit entries of FAT, mini FAT and DIFAT
    // Sectors after the header, the last maybe partial, and no more than
    // sector ids can name: every valid sector id is below this.
    std::uint64_t sectorCount_ = 0;
    std::uint32_t fatSectors_ = 0;
    std::uint32_t miniFatSectors_ = 0;
    std::uint32_t difatSectors_ = 0;

    std::vector<std::uint32_t> difatIds_;  // the DIFAT chain as far as it was needed
    std::unordered_set<std::uint32_t> difatSeen_;
    Chain directory_;
    Chain miniFat_;
    Chain miniStream_;
    std::uint64_t miniStreamSize_ = 0;

    // FAT and mini FAT sectors, read on demand. Chains mostly run forwards,
    // so a handful of sectors are all a walk ever needs at once.
    struct CacheSlot {
        std::uint64_t key = ~std::uint64_t{0};
        std::uint64_t used = 0;
        std::vector<std::uint8_t> bytes;
    };
    std::array<CacheSlot, 4> cache_;
    std::uint64_t clock_ = 0;
};

bool Reader::ReadHeader() {
    if (!ReadBytes(0, header_, kHeaderSize)) return false;
    if (std::memcmp(header_, kSignature, sizeof kSignature) != 0) return false;
    const std::uint16_t major = U16(header_ + 26);
    if (major != 3 && major != 4) return false;
    version4_ = major == 4;
    shift_ = version4_ ? 12 : 9;
    if (U16(header_ + 28) != 0xFFFE || U16(header_ + 30) != shift_ ||
        U16(header_ + 32) != kMiniSectorShift || U32(header_ + 56) != kMiniStreamCutoff)
        return false;
    sectorSize_ = 1u << shift_;
    entriesPerSector_ = sectorSize_ / 4;
    sectorCount_ = std::min<std::uint64_t>(
        source_.size > sectorSize_ ? (source_.size - sectorSize_ + sectorSize_ - 1) >> shift_ : 0,
        std::uint64_t{kMaxRegularId} + 1);

    // Every FAT, mini FAT and DIFAT sector is a sector of the file.
    fatSectors_ = U32(header_ + 44);
    miniFatSectors_ = U32(header_ + 64);
    difatSectors_ = U32(header_ + 72);
    if (fatSectors_ > sectorCount_ || miniFatSectors_ > sectorCount_ ||
        difatSectors_ > sectorCount_)
        return false;

    directory_ = MakeChain(U32(header_ + 48), sectorCount_);
    miniFat_ = MakeChain(U32(header_ + 60), miniFatSectors_);
    return true;
}

// The file sector holding FAT sector `index`: among the header's 109 DIFAT
// entries, or in the DIFAT sector chain, which is followed only this far.
bool Reader::FatSectorId(std::uint32_t index, std::uint32_t& id) {
    if (index >= fatSectors_) return false;
    if (index < kHeaderDifatEntries) {
        id = U32(header_ + 76 + 4 * index);
        return id < sectorCount_;
    }
    const std::uint32_t perDifatSector = entriesPerSector_ - 1;  // the last links the next
    const std::uint32_t rest = index - kHeaderDifatEntries;
    const std::uint32_t which = rest / perDifatSector;
    if (which >= difatSectors_) return false;
    while (difatIds_.size() <= which) {
        std::uint32_t next = U32(header_ + 68);
        if (!difatIds_.empty()) {
            std::uint8_t link[4];
            if (!ReadBytes(SectorOffset(difatIds_.back()) + sectorSize_ - 4, link, 4)) return false;
            next = U32(link);
        }
        if (next >= sectorCount_ || !difatSeen_.insert(next).second) return false;
        difatIds_.push_back(next);
    }
    std::uint8_t entry[4];
    if (!ReadBytes(SectorOffset(difatIds_[which]) + 4 * (rest % perDifatSector), entry, 4))
        return false;
    id = U32(entry);
    return id < sectorCount_;
}

const std::uint8_t* Reader::Cached(std::uint64_t key) {
    for (CacheSlot& slot : cache_) {
        if (slot.key == key) {
            slot.used = ++clock_;
            return slot.bytes.data();
        }
    }
    return nullptr;
}

const std::uint8_t* Reader::Load(std::uint64_t key, std::uint32_t id) {
    CacheSlot* slot = &cache_[0];
    for (CacheSlot& candidate : cache_)
        if (candidate.used < slot->used) slot = &candidate;
    slot->key = ~std::uint64_t{0};
    slot->bytes.resize(sectorSize_);
    if (!ReadBytes(SectorOffset(id), slot->bytes.data(), sectorSize_)) return nullptr;
    slot->key = key;
    slot->used = ++clock_;
    return slot->bytes.data();
}

bool Reader::NextInFat(std::uint32_t sector, std::uint32_t& next) {
    const std::uint32_t index = sector / entriesPerSector_;
    const std::uint64_t key = std::uint64_t{1} << 32 | index;  // apart from mini FAT sector ids
    const std::uint8_t* bytes = Cached(key);
    std::uint32_t id = 0;
    if (bytes == nullptr && (!FatSectorId(index, id) || (bytes = Load(key, id)) == nullptr))
        return false;
    next = U32(bytes + 4 * (sector % entriesPerSector_));
    return true;
}

bool Reader::NextInMiniFat(std::uint32_t sector, std::uint32_t& next) {
    std::uint32_t id = 0;
    const std::uint8_t* bytes = nullptr;
    if (!ChainAt(miniFat_, sector / entriesPerSector_, id) ||
        ((bytes = Cached(id)) == nullptr && (bytes = Load(id, id)) == nullptr))
        return false;
    next = U32(bytes + 4 * (sector % entriesPerSector_));
    return true;
}

// The id of the sector at `index` in the chain; false when the chain ends
// before it, leaves the table, runs longer than it can, or comes back to a
// sector it has already passed.
bool Reader::ChainAt(Chain& chain, std::uint64_t index, std::uint32_t& id) {
    if (index >= chain.maxLength) return false;
    while (chain.ids.size() <= index) {
        std::uint32_t next = chain.start;
        if (!chain.ids.empty()) {
            const bool linked = chain.mini ? NextInMiniFat(chain.ids.back(), next)
                                           : NextInFat(chain.ids.back(), next);
            if (!linked) return false;
        }
        if (next >= chain.idLimit || !chain.seen.insert(next).second) return false;
        chain.ids.push_back(next);
    }
    id = chain.ids[index];
    return true;
}

bool Reader::ReadEntry(std::uint32_t id, Entry& entry) {
    if (id > kMaxRegularId) return false;
    const std::uint32_t perSector = sectorSize_ / kEntrySize;
    std::uint32_t sector = 0;
    if (!ChainAt(directory_, id / perSector, sector)) return false;
    std::uint8_t bytes[kEntrySize];
    if (!ReadBytes(SectorOffset(sector) + kEntrySize * (id % perSector), bytes, kEntrySize))
        return false;
    const std::uint16_t nameBytes = U16(bytes + 64);
    if (nameBytes < 2 || nameBytes > 64 || nameBytes % 2 != 0) return false;
    entry.name.clear();
    for (std::uint16_t i = 0; i + 2 < nameBytes; i += 2)
        entry.name += static_cast<char16_t>(U16(bytes + i));
    entry.type = bytes[66];
    entry.left = U32(bytes + 68);
    entry.right = U32(bytes + 72);
    entry.child = U32(bytes + 76);
    entry.start = U32(bytes + 116);
    // Version 3 writers may leave anything in the upper half.
    entry.size = version4_ ? U64(bytes + 120) : U32(bytes + 120);
    return true;
}

// Finds `name` among the children of a storage whose tree starts at `first`.
// The tree is ordered, so a search down one path finds it; a writer that
// did not keep the order still has every child somewhere in the tree, so a
// miss is followed by a walk of all of it. A link back to an entry already
// seen means the tree loops.
bool Reader::FindChild(std::uint32_t first, std::u16string_view name, Entry& found, bool& present) {
    present = false;
    std::unordered_set<std::uint32_t> seen;
    for (std::uint32_t id = first; id != kNoStream;) {
        if (!seen.insert(id).second || !ReadEntry(id, found)) return false;
        if (found.type != kTypeStorage && found.type != kTypeStream) return false;
        const int order = CompareNames(name, found.name);
        if (order == 0) {
            present = true;
            return true;
        }
        id = order < 0 ? found.left : found.right;
    }
    seen.clear();
    std::vector<std::uint32_t> pending;
    if (first != kNoStream) pending.push_back(first);
    while (!pending.empty()) {
        const std::uint32_t id = pending.back();
        pending.pop_back();
        if (!seen.insert(id).second || !ReadEntry(id, found)) return false;
        if (found.type != kTypeStorage && found.type != kTypeStream) return false;
        if (CompareNames(name, found.name) == 0) {
            present = true;
            return true;
        }
        if (found.left != kNoStream) pending.push_back(found.left);
        if (found.right != kNoStream) pending.push_back(found.right);
    }
    return true;
}

bool Reader::ReadStream(const Entry& entry, std::vector<std::uint8_t>& data) {
    const std::uint64_t size = entry.size;
    if (size >= kMiniStreamCutoff) {
        if (size > sectorCount_ << shift_) return false;  // before allocating anything
        const std::uint64_t sectors = (size + sectorSize_ - 1) >> shift_;
        data.resize(size);
        Chain chain = MakeChain(entry.start, sectors);
        for (std::uint64_t i = 0, done = 0; i < sectors; ++i, done += sectorSize_) {
            std::uint32_t sector = 0;
            if (!ChainAt(chain, i, sector) ||
                !ReadBytes(SectorOffset(sector), data.data() + done,
                           std::min<std::uint64_t>(sectorSize_, size - done)))
                return false;
        }
        return true;
    }
    // Small streams are cut into 64-byte pieces of the mini stream, which is
    // itself kept in the root entry's chain of ordinary sectors.
    const std::uint64_t miniSectors = (size + kMiniSectorSize - 1) >> kMiniSectorShift;
    Chain chain = MakeChain(entry.start, miniSectors);
    chain.mini = true;
    chain.idLimit =
        std::min<std::uint64_t>((miniStreamSize_ + kMiniSectorSize - 1) >> kMiniSectorShift,
                                std::uint64_t{kMaxRegularId} + 1);
    data.resize(size);
    for (std::uint64_t i = 0, done = 0; i < miniSectors; ++i, done += kMiniSectorSize) {
        std::uint32_t miniSector = 0, sector = 0;
        if (!ChainAt(chain, i, miniSector)) return false;
        const std::uint64_t offset = std::uint64_t{miniSector} << kMiniSectorShift;
        const std::uint64_t n = std::min<std::uint64_t>(kMiniSectorSize, size - done);
        if (offset + n > miniStreamSize_ || !ChainAt(miniStream_, offset >> shift_, sector) ||
            !ReadBytes(SectorOffset(sector) + (offset & (sectorSize_ - 1)), data.data() + done, n))
            return false;
    }
    return true;
}

// --- The property set -------------------------------------------------------

// Windows-1252 where it differs from Latin-1; the five unassigned bytes
// keep their own values, as the system's conversion does.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::u16string Utf16Le(const std::uint8_t* bytes, std::size_t units) {
    std::u16string text;
    text.reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t c = U16(bytes + 2 * i);
        if (c == 0) break;
        text += c;
    }
    return text;
}

std::u16string DecodeCodePage(const std::uint8_t* bytes, std::size_t n, std::uint16_t codePage) {
    if (codePage == 1200) return Utf16Le(bytes, n / 2);
    n = static_cast<std::size_t>(std::find(bytes, bytes + n, 0) - bytes);
    if (codePage == 65001) return Utf8ToUtf16({reinterpret_cast<const char*>(bytes), n});
    std::u16string text;
    text.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = bytes[i];
        if (b < 0x80 || codePage == 28591)
            text += static_cast<char16_t>(b);
        else if (codePage == 1252)
            text += b < 0xA0 ? kWindows1252High[b - 0x80] : static_cast<char16_t>(b);
        else
            text += u'\uFFFD';
    }
    return text;
}

// One section of the set, `size` bytes at `section` (already checked to lie
// in the stream); every offset in it is checked against the section's end.
bool ParseSection(const std::uint8_t* section, std::uint32_t size, SummaryInformation& out) {
    const std::uint32_t count = U32(section + 4);
    if (count > (size - 8) / 8) return false;
    // A value starts with its type; `need` bytes of value follow it.
    auto value = [&](std::uint32_t index, std::uint32_t need, const std::uint8_t*& at) -> bool {
        const std::uint32_t offset = U32(section + 12 + 8 * index);
        if (offset > size || size - offset < 4 + need) return false;
        at = section + offset;
        return true;
    };

    std::uint16_t codePage = 1252;  // the stand-in's ANSI code page when the set names none
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* at = nullptr;
        if (U32(section + 8 + 8 * i) != kPidCodePage) continue;
        if (!value(i, 0, at)) return false;
        if (U16(at) == VT_I2) {
            if (!value(i, 2, at)) return false;
            codePage = U16(at + 4);
        }
    }

    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t id = U32(section + 8 + 8 * i);
        const std::uint8_t* at = nullptr;
        if (id == kPidDictionary) continue;  // names, not a typed value
        if (!value(i, 0, at)) return false;
        SummaryValue v;
        v.type = U16(at);
        switch (v.type) {
            case VT_I2:
                if (!value(i, 2, at)) return false;
                v.integer =
                    id == kPidCodePage ? U16(at + 4) : static_cast<std::int16_t>(U16(at + 4));
                break;
            case VT_I4:
                if (!value(i, 4, at)) return false;
                v.integer = static_cast<std::int32_t>(U32(at + 4));
                break;
            case VT_FILETIME:
                if (!value(i, 8, at)) return false;
                v.fileTime = U64(at + 4);
                break;
            case VT_LPSTR:
            case VT_LPWSTR: {
                if (!value(i, 4, at)) return false;
                const std::uint32_t length = U32(at + 4);
                const std::uint32_t room = size - static_cast<std::uint32_t>(at - section) - 8;
                if (v.type == VT_LPSTR) {
                    if (length > room) return false;
                    v.text = DecodeCodePage(at + 8, length, codePage);
                } else {
                    if (length > room / 2) return false;
                    v.text = Utf16Le(at + 8, length);
                }
                break;
            }
            default:
                continue;
        }
        out.properties.emplace(id, std::move(v));
    }
    return true;
}

bool ParsePropertySet(const std::vector<std::uint8_t>& set, SummaryInformation& out) {
    const std::size_t size = set.size();
    if (size < 28 || U16(set.data()) != 0xFFFE) return false;
    const std::uint32_t sections = U32(set.data() + 24);
    if (sections == 0 || sections > (size - 28) / 20) return false;
    for (std::uint32_t i = 0; i < sections; ++i) {
        const std::uint8_t* listed = set.data() + 28 + 20 * i;
        if (std::memcmp(listed, kSummaryFormatId, sizeof kSummaryFormatId) != 0) continue;
        const std::uint32_t offset = U32(listed + 16);
        if (offset > size || size - offset < 8) return false;
        const std::uint32_t sectionSize = U32(set.data() + offset);
        if (sectionSize < 8 || sectionSize > size - offset) return false;
        return ParseSection(set.data() + offset, sectionSize, out);
    }
    return false;
}

bool Reader::Read(SummaryInformation& out) {
    if (!ReadHeader()) return false;
    Entry root;
    if (!ReadEntry(0, root) || root.type != kTypeRoot) return false;
    // The mini stream is kept in the file like any other stream.
    if (root.size > sectorCount_ << shift_) return false;
    miniStreamSize_ = root.size;
    miniStream_ = MakeChain(root.start, (root.size + sectorSize_ - 1) >> shift_);

    Entry summary;
    bool present = false;
    if (!FindChild(root.child, kSummaryName, summary, present)) return false;
    if (!present) return true;
    if (summary.type != kTypeStream) return false;
    std::vector<std::uint8_t> set;
    return ReadStream(summary, set) && ParsePropertySet(set, out);
}

}  // namespace

ByteSource FileByteSource(int fd, std::uint64_t size) {
    ByteSource source;
    source.size = size;
    source.readAt = [fd, size](std::uint64_t offset, void* out, std::size_t n) {
        if (offset > size || n > size - offset) return false;
        auto* bytes = static_cast<char*>(out);
        while (n > 0) {
            const ssize_t got = pread(fd, bytes, n, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            bytes += got;
            offset += static_cast<std::uint64_t>(got);
            n -= static_cast<std::size_t>(got);
        }
        return true;
    };
    return source;
}

ByteSource MemoryByteSource(const void* data, std::size_t size) {
    ByteSource source;
    source.size = size;
    source.readAt = [data, size](std::uint64_t offset, void* out, std::size_t n) {
        if (offset > size || n > size - offset) return false;
        if (n > 0) std::memcpy(out, static_cast<const std::uint8_t*>(data) + offset, n);
        return true;
    };
    return source;
}

std::uint32_t ReadSummaryInformation(const ByteSource& source, SummaryInformation& out) {
    SummaryInformation read;
    Reader reader(source);
    out.properties.clear();
    if (!reader.Read(read)) return ERROR_INSTALL_PACKAGE_INVALID;
    out = std::move(read);
    return ERROR_SUCCESS;
}

std::uint32_t ReadSummaryInformationFile(const std::string& utf8Path, SummaryInformation& out) {
    out.properties.clear();
    const int fd = open(utf8Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return ERROR_OPEN_FAILED;
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        return ERROR_OPEN_FAILED;
    }
    const std::uint32_t result =
        ReadSummaryInformation(FileByteSource(fd, static_cast<std::uint64_t>(status.st_size)), out);
    close(fd);
    return result;
}

}  // namespace sp::standin
