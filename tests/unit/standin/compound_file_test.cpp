#include "platform/standin/compound_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "platform/installer.h"

#ifndef SP_COMPOUND_FIXTURES
#error "SP_COMPOUND_FIXTURES must name tests/fixtures/compound"
#endif

// The largest single allocation made while `trackAllocations` is set: a
// size read from a damaged file must be refused before memory is taken for it.
namespace {
thread_local bool trackAllocations = false;
thread_local std::size_t largestAllocation = 0;
}  // namespace

void* operator new(std::size_t size) {
    if (trackAllocations) largestAllocation = std::max(largestAllocation, size);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace sp::standin {
namespace {

using Bytes = std::vector<std::uint8_t>;
using installer::ERROR_INSTALL_PACKAGE_INVALID;
using installer::ERROR_OPEN_FAILED;

constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;

std::string FixturePath(const std::string& name) {
    return std::string(SP_COMPOUND_FIXTURES) + "/" + name;
}

Bytes LoadFixture(const std::string& name) {
    std::ifstream in(FixturePath(name), std::ios::binary);
    EXPECT_TRUE(in) << name;
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::uint32_t ReadBytes(const Bytes& bytes, SummaryInformation& out) {
    return ReadSummaryInformation(MemoryByteSource(bytes.data(), bytes.size()), out);
}

// Reads `bytes` and returns the largest allocation made meanwhile.
std::size_t LargestAllocationReading(const Bytes& bytes, std::uint32_t& result) {
    SummaryInformation info;
    largestAllocation = 0;
    trackAllocations = true;
    result = ReadBytes(bytes, info);
    trackAllocations = false;
    return largestAllocation;
}

std::uint32_t GetU32(const Bytes& b, std::size_t at) {
    return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 |
           static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}
void SetU16(Bytes& b, std::size_t at, std::uint16_t v) {
    b.at(at) = v & 0xFF;
    b.at(at + 1) = v >> 8;
}
void SetU32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + i) = (v >> (8 * i)) & 0xFF;
}

// Where the fixtures keep things, found from the raw bytes with no help
// from the reader under test. Only 512-byte-sector files with a one-sector
// FAT and mini FAT are mutated this way, which is what the fixtures are.
std::size_t SectorOffset(std::uint32_t id) {
    return (std::size_t{id} + 1) * 512;
}
std::size_t DirectoryEntry(const Bytes& b, std::uint32_t id) {
    return SectorOffset(GetU32(b, 48)) + 128 * id;
}
std::size_t EntryNamed(const Bytes& b, std::u16string_view name) {
    Bytes encoded;
    for (char16_t c : name)
        encoded.insert(encoded.end(), {std::uint8_t(c & 0xFF), std::uint8_t(c >> 8)});
    auto found = std::search(b.begin(), b.end(), encoded.begin(), encoded.end());
    EXPECT_NE(found, b.end());
    return static_cast<std::size_t>(found - b.begin());
}
std::uint32_t EntryId(const Bytes& b, std::size_t entry) {
    return static_cast<std::uint32_t>((entry - DirectoryEntry(b, 0)) / 128);
}
std::size_t SummaryEntry(const Bytes& b) {
    return EntryNamed(b, u"\u0005SummaryInformation");
}
std::uint32_t SummaryId(const Bytes& b) {
    return EntryId(b, SummaryEntry(b));
}
std::size_t FatEntry(const Bytes& b, std::uint32_t sector) {
    return SectorOffset(GetU32(b, 76)) + 4 * sector;
}
std::size_t MiniFatEntry(const Bytes& b, std::uint32_t miniSector) {
    return SectorOffset(GetU32(b, 60)) + 4 * miniSector;
}
// The property set's first bytes; in the mini stream only the first 64
// bytes are known to be contiguous.
std::size_t PropertySet(const Bytes& b) {
    static const std::uint8_t kFormatId[] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                             0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
    auto found = std::search(b.begin(), b.end(), std::begin(kFormatId), std::end(kFormatId));
    EXPECT_NE(found, b.end());
    return static_cast<std::size_t>(found - b.begin()) - 28;
}

// Where property `id`'s value (its type first) lies, in a property set that
// lies in the file whole, with the summary section first.
std::size_t PropertyValue(const Bytes& b, std::uint32_t id) {
    const std::size_t section = PropertySet(b) + GetU32(b, PropertySet(b) + 44);
    for (std::uint32_t i = 0; i < GetU32(b, section + 4); ++i)
        if (GetU32(b, section + 8 + 8 * i) == id) return section + GetU32(b, section + 12 + 8 * i);
    ADD_FAILURE() << "no property " << id;
    return 0;
}

// The bytes from property `id`'s string to the end of its section.
std::uint32_t RoomAfter(const Bytes& b, std::uint32_t id) {
    const std::size_t set = PropertySet(b);
    const std::size_t end = set + GetU32(b, set + 44) + GetU32(b, set + GetU32(b, set + 44));
    return static_cast<std::uint32_t>(end - PropertyValue(b, id) - 8);
}

std::u16string ManyTargets() {
    std::u16string list;
    for (unsigned i = 0; i < 120; ++i) {
        char code[64];
        std::snprintf(code, sizeof code, "%s{%08X-0000-4000-8000-%012X}", i ? ";" : "", i,
                      i * 7919);
        list.append(code, code + std::strlen(code));
    }
    return list;
}

// --- Reading what other tools wrote -------------------------------------------------------

struct ValueCase {
    const char* fixture;
    std::uint32_t property;
    std::uint32_t type;
    std::u16string text;  // for the string types
    std::int64_t number;  // integer or file time
};

void PrintTo(const ValueCase& c, std::ostream* out) {
    *out << c.fixture << " property " << c.property;
}

class SummaryValueTest : public testing::TestWithParam<ValueCase> {};

TEST_P(SummaryValueTest, ReadsTheValueTheWriterStored) {
    const ValueCase& c = GetParam();
    SummaryInformation info;
    ASSERT_EQ(ReadSummaryInformationFile(FixturePath(c.fixture), info), 0u);
    const auto found = info.properties.find(c.property);
    ASSERT_NE(found, info.properties.end());
    EXPECT_EQ(found->second.type, c.type);
    if (c.type == VT_LPSTR || c.type == VT_LPWSTR)
        EXPECT_EQ(found->second.text, c.text);
    else if (c.type == VT_FILETIME)
        EXPECT_EQ(found->second.fileTime, static_cast<std::uint64_t>(c.number));
    else
        EXPECT_EQ(found->second.integer, c.number);
}

// 2023-11-14 22:13:20 UTC in 100 ns since 1601.
constexpr std::int64_t kCreated = (1700000000LL + 11644473600LL) * 10000000LL;
const std::u16string kCp1252Text =
    u"T\u00fcr \u20ac \u201a\u0192\u201e\u2026\u2020\u2021\u02c6\u2030\u0160\u2039\u0152\u017d"
    u"\u2018\u2019\u201c\u201d\u2022\u2013\u2014\u02dc\u2122\u0161\u203a\u0153\u017e\u0178";

INSTANTIATE_TEST_SUITE_P(
    Fixtures, SummaryValueTest,
    testing::Values(
        // msibuild: a package whose summary stream is in the mini stream.
        ValueCase{"msibuild.msi", 7, VT_LPSTR, u"x64;1033", 0},
        ValueCase{"msibuild.msi", 9, VT_LPSTR, u"{6F1C2B7A-3D44-4E55-9A66-7B8C9D0E1F20}", 0},
        ValueCase{"msibuild.msi", 2, VT_LPSTR, u"Installation Database", 0},
        ValueCase{"msibuild.msi", 3, VT_LPSTR, u"Sample Patch", 0},
        ValueCase{"msibuild.msi", 14, VT_I4, u"", 200},
        // Above the cutoff: ordinary sectors; the value is longer than 2047.
        ValueCase{"many_targets.msi", 7, VT_LPSTR, ManyTargets(), 0},
        ValueCase{"many_targets.msi", 3, VT_LPSTR, u"Many Targets", 0},
        // Version 4, 4096-byte sectors, among other streams large and small.
        ValueCase{"version4.cfb", 2, VT_LPSTR, u"Version Four", 0},
        ValueCase{"version4.cfb", 1, VT_I2, u"", 1252},
        ValueCase{"version4.cfb", 12, VT_FILETIME, u"", kCreated},
        // Code pages of 8-bit strings.
        ValueCase{"codepage_1252.cfb", 2, VT_LPSTR, kCp1252Text, 0},
        ValueCase{"codepage_65001.cfb", 1, VT_I2, u"", 65001},
        ValueCase{"codepage_65001.cfb", 2, VT_LPSTR, u"T\u00fcr \u2713 \u20ac \U0001F600", 0},
        ValueCase{"codepage_1200.cfb", 1, VT_I2, u"", 1200},
        ValueCase{"codepage_1200.cfb", 2, VT_LPSTR, u"T\u00fcr \u2713 \u20ac \U0001F600", 0},
        ValueCase{"codepage_1200.cfb", 3, VT_LPSTR, u"x64;1033", 0},
        // The stream's name differs from the usual one in case only.
        ValueCase{"mixed_case_name.cfb", 2, VT_LPSTR, u"Mixed Case", 0}));

TEST(CompoundFileTest, FixturesPutTheSummaryOnBothSidesOfTheCutoff) {
    // The reader's two paths are exercised only if the fixtures keep it so.
    const Bytes small = LoadFixture("msibuild.msi"), large = LoadFixture("many_targets.msi");
    EXPECT_LT(GetU32(small, SummaryEntry(small) + 120), 4096u);
    EXPECT_GT(GetU32(large, SummaryEntry(large) + 120), 4096u);
    EXPECT_EQ(LoadFixture("version4.cfb").at(26), 4);
}

TEST(CompoundFileTest, AFileWithoutSummaryStreamHasNoProperties) {
    SummaryInformation info;
    info.properties[7].text = u"left over";
    EXPECT_EQ(ReadSummaryInformationFile(FixturePath("no_summary.cfb"), info), 0u);
    EXPECT_TRUE(info.properties.empty());
}

TEST(CompoundFileTest, FilesThatCannotBeOpened) {
    SummaryInformation info;
    EXPECT_EQ(ReadSummaryInformationFile(FixturePath("no such file.msp"), info), ERROR_OPEN_FAILED);
    EXPECT_EQ(ReadSummaryInformationFile(SP_COMPOUND_FIXTURES, info), ERROR_OPEN_FAILED);
}

TEST(CompoundFileTest, FilesThatAreNotCompoundFiles) {
    SummaryInformation info;
    EXPECT_EQ(ReadSummaryInformationFile(FixturePath("make.sh"), info),
              ERROR_INSTALL_PACKAGE_INVALID);
    EXPECT_EQ(ReadSummaryInformationFile(FixturePath("many_targets.summary"), info),
              ERROR_INSTALL_PACKAGE_INVALID);
    const Bytes empty;
    EXPECT_EQ(ReadBytes(empty, info), ERROR_INSTALL_PACKAGE_INVALID);
}

// --- Damaged files ------------------------------------------------------------------------

struct DamageCase {
    const char* name;
    const char* fixture;
    std::function<void(Bytes&)> damage;
    std::uint32_t expected = ERROR_INSTALL_PACKAGE_INVALID;
};

void PrintTo(const DamageCase& c, std::ostream* out) {
    *out << c.name;
}

class DamagedFileTest : public testing::TestWithParam<DamageCase> {};

TEST_P(DamagedFileTest, IsRejectedWithoutHarm) {
    Bytes bytes = LoadFixture(GetParam().fixture);
    GetParam().damage(bytes);
    SummaryInformation info;
    EXPECT_EQ(ReadBytes(bytes, info), GetParam().expected);
    EXPECT_EQ(info.properties.empty(), GetParam().expected != 0);
    // Decoding a string of 8-bit characters takes twice its bytes, no more.
    std::uint32_t again = 0;
    EXPECT_LE(LargestAllocationReading(bytes, again), 2 * bytes.size());
}

void Truncate(Bytes& b, std::size_t size) {
    b.resize(std::min(b.size(), size));
}

const char* const kMini = "msibuild.msi";         // summary in the mini stream
const char* const kRegular = "many_targets.msi";  // summary in ordinary sectors

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedFileTest,
    testing::Values(
        DamageCase{"MiniUnchanged", kMini, [](Bytes&) {}, 0},
        DamageCase{"RegularUnchanged", kRegular, [](Bytes&) {}, 0},
        // The header.
        DamageCase{"Signature", kMini, [](Bytes& b) { b[7] ^= 1; }},
        DamageCase{"Version5", kMini, [](Bytes& b) { SetU16(b, 26, 5); }},
        DamageCase{"Version3WithLargeSectors", kMini, [](Bytes& b) { SetU16(b, 30, 12); }},
        DamageCase{"ByteOrder", kMini, [](Bytes& b) { SetU16(b, 28, 0xFEFF); }},
        DamageCase{"MiniSectorShift", kMini, [](Bytes& b) { SetU16(b, 32, 7); }},
        DamageCase{"Cutoff", kMini, [](Bytes& b) { SetU32(b, 56, 8192); }},
        DamageCase{"FatCountBeyondFile", kMini, [](Bytes& b) { SetU32(b, 44, 0x7FFFFFFF); }},
        DamageCase{"DifatCountBeyondFile", kMini, [](Bytes& b) { SetU32(b, 72, 0x10000); }},
        DamageCase{"FatSectorPastEnd", kMini, [](Bytes& b) { SetU32(b, 76, 5000); }},
        DamageCase{"DirectoryPastEnd", kMini, [](Bytes& b) { SetU32(b, 48, 1000); }},
        DamageCase{"DirectoryIsEndOfChain", kMini, [](Bytes& b) { SetU32(b, 48, kEndOfChain); }},
        // Truncation.
        DamageCase{"TruncatedHeader", kMini, [](Bytes& b) { Truncate(b, 511); }},
        DamageCase{"OnlyTheHeader", kMini, [](Bytes& b) { Truncate(b, 512); }},
        DamageCase{
            "TruncatedInTheSummary", kRegular,
            [](Bytes& b) { Truncate(b, SectorOffset(GetU32(b, SummaryEntry(b) + 116)) + 1000); }},
        // Chains of ordinary sectors.
        DamageCase{"ChainLoopsOnItself", kRegular,
                   [](Bytes& b) {
                       const std::uint32_t start = GetU32(b, SummaryEntry(b) + 116);
                       SetU32(b, FatEntry(b, start), start);
                   }},
        DamageCase{"ChainLoopsBack", kRegular,
                   [](Bytes& b) {
                       const std::uint32_t start = GetU32(b, SummaryEntry(b) + 116);
                       SetU32(b, FatEntry(b, GetU32(b, FatEntry(b, start))), start);
                   }},
        DamageCase{"ChainEndsEarly", kRegular,
                   [](Bytes& b) {
                       SetU32(b, FatEntry(b, GetU32(b, SummaryEntry(b) + 116)), kEndOfChain);
                   }},
        DamageCase{"ChainRunsIntoFreeSector", kRegular,
                   [](Bytes& b) {
                       SetU32(b, FatEntry(b, GetU32(b, SummaryEntry(b) + 116)), kFreeSector);
                   }},
        DamageCase{
            "ChainLeavesTheFile", kRegular,
            [](Bytes& b) { SetU32(b, FatEntry(b, GetU32(b, SummaryEntry(b) + 116)), 0x00FFFFFF); }},
        DamageCase{"StreamStartsPastEnd", kRegular,
                   [](Bytes& b) { SetU32(b, SummaryEntry(b) + 116, 0x00FFFFFF); }},
        DamageCase{"StreamOf4GiB", kRegular,
                   [](Bytes& b) { SetU32(b, SummaryEntry(b) + 120, 0xFFFFFFFF); }},
        // Version 3 keeps only the lower half of a stream size.
        DamageCase{"Version3SizeUpperHalfIgnored", kRegular,
                   [](Bytes& b) { SetU32(b, SummaryEntry(b) + 124, 0xFFFFFFFF); }, 0},
        // The mini stream.
        DamageCase{"MiniChainLoops", kMini,
                   [](Bytes& b) {
                       const std::uint32_t start = GetU32(b, SummaryEntry(b) + 116);
                       SetU32(b, MiniFatEntry(b, start), start);
                   }},
        DamageCase{"MiniChainEndsEarly", kMini,
                   [](Bytes& b) {
                       SetU32(b, MiniFatEntry(b, GetU32(b, SummaryEntry(b) + 116)), kEndOfChain);
                   }},
        DamageCase{"MiniStreamStartsPastEnd", kMini,
                   [](Bytes& b) { SetU32(b, SummaryEntry(b) + 116, 0x00FFFFFF); }},
        DamageCase{"MiniStreamShorterThanStream", kMini,
                   [](Bytes& b) { SetU32(b, DirectoryEntry(b, 0) + 120, 64); }},
        DamageCase{"MiniStreamBeyondFile", kMini,
                   [](Bytes& b) { SetU32(b, DirectoryEntry(b, 0) + 120, 0x7FFFFFC0); }},
        DamageCase{"NoMiniFatSectors", kMini, [](Bytes& b) { SetU32(b, 64, 0); }},
        // The directory.
        // A writer that did not keep the children in order: the search misses,
        // the walk of the whole tree finds it.
        DamageCase{"ChildrenOutOfOrder", "mixed_case_name.cfb",
                   [](Bytes& b) {
                       const std::size_t last = EntryNamed(b, u"ZZZZZZZZZZZZZZZZZZZZZ");
                       const std::size_t summary = EntryNamed(b, u"\u0005summaryINFORMATION");
                       ASSERT_EQ(GetU32(b, summary + 72), EntryId(b, last));
                       SetU32(b, summary + 72, kFreeSector);
                       SetU32(b, last + 68, kFreeSector);
                       SetU32(b, last + 72, GetU32(b, DirectoryEntry(b, 0) + 76));
                       SetU32(b, DirectoryEntry(b, 0) + 76, EntryId(b, last));
                   },
                   0},
        DamageCase{"RootIsNotRoot", kMini, [](Bytes& b) { b[DirectoryEntry(b, 0) + 66] = 1; }},
        DamageCase{"RootChildPastEnd", kMini,
                   [](Bytes& b) { SetU32(b, DirectoryEntry(b, 0) + 76, 0x00FFFFFF); }},
        DamageCase{"RootChildIsRoot", kMini,
                   [](Bytes& b) { SetU32(b, DirectoryEntry(b, 0) + 76, 0); }},
        DamageCase{"TreeLoops", kMini,
                   [](Bytes& b) {
                       const std::uint32_t other = SummaryId(b) == 1 ? 2 : 1;
                       SetU32(b, DirectoryEntry(b, 0) + 76, other);
                       SetU32(b, DirectoryEntry(b, other) + 68, other);
                       SetU32(b, DirectoryEntry(b, other) + 72, other);
                   }},
        DamageCase{"NameLengthTooLong", kMini,
                   [](Bytes& b) { SetU16(b, SummaryEntry(b) + 64, 66); }},
        DamageCase{"SummaryIsAStorage", kMini, [](Bytes& b) { b[SummaryEntry(b) + 66] = 1; }},
        // The property set.
        DamageCase{"SetByteOrder", kMini, [](Bytes& b) { SetU16(b, PropertySet(b), 0xFEFF); }},
        DamageCase{"NoSections", kMini, [](Bytes& b) { SetU32(b, PropertySet(b) + 24, 0); }},
        DamageCase{"TooManySections", kMini,
                   [](Bytes& b) { SetU32(b, PropertySet(b) + 24, 0x10000000); }},
        DamageCase{"NoSummarySection", kMini, [](Bytes& b) { b[PropertySet(b) + 28] ^= 1; }},
        DamageCase{"SectionPastStream", kMini,
                   [](Bytes& b) { SetU32(b, PropertySet(b) + 44, 0xFFFFFF00); }},
        DamageCase{"SectionLongerThanStream", kMini,
                   [](Bytes& b) { SetU32(b, PropertySet(b) + 48, 0x10000); }},
        DamageCase{"PropertyCountTooLarge", kMini,
                   [](Bytes& b) { SetU32(b, PropertySet(b) + 52, 0x20000000); }},
        DamageCase{"PropertyPastSection", kMini,
                   [](Bytes& b) { SetU32(b, PropertySet(b) + 60, 0xFFFFFFF0); }},
        DamageCase{"StringLongerThanSection", kRegular,
                   [](Bytes& b) { SetU32(b, PropertyValue(b, 7) + 4, 0x7FFFFFFF); }},
        // A string's count may reach the section's end but not pass it.
        DamageCase{"StringReachingSectionEnd", kRegular,
                   [](Bytes& b) { SetU32(b, PropertyValue(b, 7) + 4, RoomAfter(b, 7)); }, 0},
        DamageCase{"StringOneBytePastSectionEnd", kRegular,
                   [](Bytes& b) { SetU32(b, PropertyValue(b, 7) + 4, RoomAfter(b, 7) + 1); }}));

// The gsf fixtures hold one small stream at the start of a mini stream of
// one sector, so their property set lies in the file whole and can be
// edited in place.
void ExpectSetInOneSector(const Bytes& bytes) {
    ASSERT_EQ(GetU32(bytes, SummaryEntry(bytes) + 116), 0u);
    ASSERT_LE(GetU32(bytes, DirectoryEntry(bytes, 0) + 120), 512u);
}

// The string types differ in their count: bytes for VT_LPSTR, characters
// for VT_LPWSTR. The UTF-16 title of codepage_1200.cfb, retyped, must read
// the same either way, and a count past the section's end must be refused.
TEST(CompoundFileTest, ReadsUtf16Strings) {
    Bytes bytes = LoadFixture("codepage_1200.cfb");
    ExpectSetInOneSector(bytes);
    const std::size_t value = PropertyValue(bytes, 2);
    ASSERT_EQ(GetU32(bytes, value), VT_LPSTR);
    SetU32(bytes, value, VT_LPWSTR);
    SetU32(bytes, value + 4, GetU32(bytes, value + 4) / 2);

    SummaryInformation info;
    ASSERT_EQ(ReadBytes(bytes, info), 0u);
    EXPECT_EQ(info.properties[2].type, VT_LPWSTR);
    EXPECT_EQ(info.properties[2].text, u"T\u00fcr \u2713 \u20ac \U0001F600");

    SetU32(bytes, value + 4, 0x40000000);
    EXPECT_EQ(ReadBytes(bytes, info), ERROR_INSTALL_PACKAGE_INVALID);
}

// The same bytes ("T", 0xFC, "r ", 0x80, ...) under other code pages.
TEST(CompoundFileTest, DecodesByTheCodePageTheSetNames) {
    struct Case {
        std::uint16_t codePage;  // 0: the set names none
        std::u16string start;
    };
    for (const Case& c : {Case{1252, u"T\u00fcr \u20ac"}, Case{0, u"T\u00fcr \u20ac"},
                          Case{28591, u"T\u00fcr \u0080"}, Case{932, u"T\ufffdr \ufffd"}}) {
        Bytes bytes = LoadFixture("codepage_1252.cfb");
        ExpectSetInOneSector(bytes);
        const std::size_t section = PropertySet(bytes) + GetU32(bytes, PropertySet(bytes) + 44);
        if (c.codePage == 0) {
            ASSERT_EQ(GetU32(bytes, section + 8), 1u);
            SetU32(bytes, section + 8, 0x7FFF);  // the code page becomes some other property
        } else {
            SetU16(bytes, PropertyValue(bytes, 1) + 4, c.codePage);
        }
        SummaryInformation info;
        ASSERT_EQ(ReadBytes(bytes, info), 0u);
        EXPECT_EQ(info.properties[2].text.substr(0, 5), c.start) << c.codePage;
    }
}

// --- Reading only what is needed ----------------------------------------------------------

// A compound file made up as it is read, 1 GiB in version 3 and 8 GiB in
// version 4, so that both need more than one DIFAT sector. In order: a
// directory of 2000 streams in a balanced tree, the FAT, the DIFAT, a stream
// of zeros that fills the file, and at its very end the property set of
// many_targets.msi, whose FAT sector is reached only through the last DIFAT
// sector. Searching the tree reads a dozen entries; reading them all would
// take 256 KiB.
class HugeFile {
  public:
    enum class Fault { kNone, kDifatLoops, kDifatCountShort, kFatSectorFree };

    HugeFile(int version, Fault fault)
        : fault_(fault), summary_(LoadFixture("many_targets.summary")) {
        shift_ = version == 4 ? 12 : 9;
        size_ = std::uint64_t{1} << (version == 4 ? 33 : 30);
        sector_ = 1u << shift_;
        perSector_ = sector_ / 4;
        sectors_ = (size_ >> shift_) - 1;
        dirSectors_ = (kEntries * 128 + sector_ - 1) >> shift_;
        fatSectors_ = static_cast<std::uint32_t>((sectors_ + perSector_ - 1) / perSector_);
        difatSectors_ =
            fatSectors_ > 109 ? (fatSectors_ - 109 + perSector_ - 2) / (perSector_ - 1) : 0;
        const auto summarySectors =
            static_cast<std::uint32_t>((summary_.size() + sector_ - 1) >> shift_);
        summaryStart_ = static_cast<std::uint32_t>(sectors_ - summarySectors);
        bigStart_ = dirSectors_ + fatSectors_ + difatSectors_;
        bigSectors_ = summaryStart_ - bigStart_;

        // Entry 1 is "Big", 2 the summary, the rest "F0000"... of 5
        // characters or, every third, 24. By length first, "Big" sorts lowest
        // and the summary two thirds up.
        std::vector<std::uint32_t> sorted{1};
        for (std::uint32_t id = 3; id < kEntries; ++id)
            if (!IsLong(id)) sorted.push_back(id);
        sorted.push_back(2);
        for (std::uint32_t id = 3; id < kEntries; ++id)
            if (IsLong(id)) sorted.push_back(id);
        left_.assign(kEntries, kFreeSector);
        right_.assign(kEntries, kFreeSector);
        top_ = Balance(sorted, 0, sorted.size());
    }

    ByteSource Source() {
        ByteSource source;
        source.size = size_;
        source.readAt = [this](std::uint64_t offset, void* out, std::size_t n) {
            if (offset > size_ || n > size_ - offset) return false;
            bytesRead_ += n;
            auto* bytes = static_cast<std::uint8_t*>(out);
            while (n > 0) {
                const std::uint64_t index = offset >> shift_;  // 0 is the header
                const std::size_t within = offset & (sector_ - 1);
                const std::size_t take = std::min<std::size_t>(n, sector_ - within);
                if (index >= 1 + bigStart_ && index < 1 + bigStart_ + bigSectors_)
                    touchedBig_ = true;
                const Bytes sector =
                    index == 0 ? Header() : Sector(static_cast<std::uint32_t>(index - 1));
                std::memcpy(bytes, sector.data() + within, take);
                bytes += take;
                offset += take;
                n -= take;
            }
            return true;
        };
        return source;
    }

    std::uint64_t bytesRead() const { return bytesRead_; }
    bool touchedBig() const { return touchedBig_; }

  private:
    static constexpr std::uint32_t kEntries = 2002;

    static bool IsLong(std::uint32_t id) { return id % 3 == 0; }

    std::uint32_t Balance(const std::vector<std::uint32_t>& sorted, std::size_t from,
                          std::size_t to) {
        if (from == to) return kFreeSector;
        const std::size_t middle = from + (to - from) / 2;
        const std::uint32_t id = sorted[middle];
        left_[id] = Balance(sorted, from, middle);
        right_[id] = Balance(sorted, middle + 1, to);
        return id;
    }

    std::uint32_t FatId(std::uint32_t k) const { return dirSectors_ + k; }
    std::uint32_t DifatId(std::uint32_t j) const { return dirSectors_ + fatSectors_ + j; }
    std::uint32_t FatIdOrFree(std::uint32_t k) const {
        if (fault_ == Fault::kFatSectorFree && k == fatSectors_ - 1) return kFreeSector;
        return k < fatSectors_ ? FatId(k) : kFreeSector;
    }

    Bytes Header() const {
        Bytes h(sector_, 0);
        const std::uint8_t signature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
        std::copy(std::begin(signature), std::end(signature), h.begin());
        SetU16(h, 24, 0x3E);
        SetU16(h, 26, shift_ == 12 ? 4 : 3);
        SetU16(h, 28, 0xFFFE);
        SetU16(h, 30, static_cast<std::uint16_t>(shift_));
        SetU16(h, 32, 6);
        SetU32(h, 40, shift_ == 12 ? dirSectors_ : 0);
        SetU32(h, 44, fatSectors_);
        SetU32(h, 48, 0);
        SetU32(h, 56, 4096);
        SetU32(h, 60, kEndOfChain);
        SetU32(h, 68, difatSectors_ ? DifatId(0) : kEndOfChain);
        SetU32(h, 72, fault_ == Fault::kDifatCountShort ? difatSectors_ - 1 : difatSectors_);
        for (std::uint32_t k = 0; k < 109; ++k) SetU32(h, 76 + 4 * k, FatIdOrFree(k));
        return h;
    }

    void Entry(Bytes& s, std::size_t at, std::uint32_t id) const {
        std::u16string filler(IsLong(id) ? 24 : 5, u'x');
        filler[0] = u'F';
        for (int i = 0, n = static_cast<int>(id - 3); i < 4; ++i, n /= 10)
            filler[4 - i] = static_cast<char16_t>(u'0' + n % 10);
        const std::u16string_view name = id == 0   ? u"Root Entry"
                                         : id == 1 ? u"Big"
                                         : id == 2 ? u"\u0005SummaryInformation"
                                                   : std::u16string_view(filler);
        for (std::size_t i = 0; i < name.size(); ++i) SetU16(s, at + 2 * i, name[i]);
        SetU16(s, at + 64, static_cast<std::uint16_t>(2 * name.size() + 2));
        s[at + 66] = id == 0 ? 5 : 2;
        s[at + 67] = 1;  // black
        SetU32(s, at + 68, id == 0 ? kFreeSector : left_[id]);
        SetU32(s, at + 72, id == 0 ? kFreeSector : right_[id]);
        SetU32(s, at + 76, id == 0 ? top_ : kFreeSector);
        const std::uint64_t size = id == 1   ? std::uint64_t{bigSectors_} << shift_
                                   : id == 2 ? summary_.size()
                                             : 0;
        SetU32(s, at + 116, id == 1 ? bigStart_ : id == 2 ? summaryStart_ : kEndOfChain);
        SetU32(s, at + 120, static_cast<std::uint32_t>(size));
        SetU32(s, at + 124, static_cast<std::uint32_t>(size >> 32));
    }

    Bytes Sector(std::uint32_t id) const {
        Bytes s(sector_, 0);
        if (id < dirSectors_) {
            const std::uint32_t perSector = sector_ / 128;
            for (std::uint32_t i = 0; i < perSector && id * perSector + i < kEntries; ++i)
                Entry(s, 128 * i, id * perSector + i);
        } else if (id < DifatId(0)) {
            const std::uint32_t first = (id - FatId(0)) * perSector_;
            for (std::uint32_t i = 0; i < perSector_; ++i) SetU32(s, 4 * i, FatValue(first + i));
        } else if (id < bigStart_) {
            const std::uint32_t j = id - DifatId(0);
            for (std::uint32_t i = 0; i + 1 < perSector_; ++i)
                SetU32(s, 4 * i, FatIdOrFree(109 + j * (perSector_ - 1) + i));
            const std::uint32_t next = j + 1 == difatSectors_ ? kEndOfChain : DifatId(j + 1);
            SetU32(s, sector_ - 4, fault_ == Fault::kDifatLoops && j == 0 ? DifatId(0) : next);
        } else if (id >= summaryStart_ && id < sectors_) {
            const std::size_t from = std::size_t{id - summaryStart_} << shift_;
            std::copy(summary_.begin() + from,
                      summary_.begin() + std::min(summary_.size(), from + sector_), s.begin());
        }
        return s;
    }

    std::uint32_t FatValue(std::uint64_t s) const {
        if (s >= sectors_) return kFreeSector;
        if (s < dirSectors_) return s + 1 == dirSectors_ ? kEndOfChain : s + 1;
        if (s < DifatId(0)) return 0xFFFFFFFD;  // a FAT sector
        if (s < bigStart_) return 0xFFFFFFFC;   // a DIFAT sector
        if (s + 1 == summaryStart_ || s + 1 == sectors_) return kEndOfChain;
        return static_cast<std::uint32_t>(s + 1);
    }

    Fault fault_;
    Bytes summary_;
    std::uint32_t shift_, sector_, perSector_;
    std::uint64_t size_, sectors_;
    std::uint32_t dirSectors_, fatSectors_, difatSectors_, summaryStart_, bigStart_, bigSectors_;
    std::vector<std::uint32_t> left_, right_;
    std::uint32_t top_;
    std::uint64_t bytesRead_ = 0;
    bool touchedBig_ = false;
};

class HugeFileTest : public testing::TestWithParam<int> {};

TEST_P(HugeFileTest, ReadsOnlyTheWayToTheSummary) {
    HugeFile file(GetParam(), HugeFile::Fault::kNone);
    SummaryInformation info;
    ASSERT_EQ(ReadSummaryInformation(file.Source(), info), 0u);
    EXPECT_EQ(info.properties[7].text, ManyTargets());
    EXPECT_FALSE(file.touchedBig());
    EXPECT_LT(file.bytesRead(), 64u * 1024);
}

TEST_P(HugeFileTest, RejectsABrokenDifat) {
    for (auto fault : {HugeFile::Fault::kDifatLoops, HugeFile::Fault::kDifatCountShort,
                       HugeFile::Fault::kFatSectorFree}) {
        HugeFile file(GetParam(), fault);
        SummaryInformation info;
        EXPECT_EQ(ReadSummaryInformation(file.Source(), info), ERROR_INSTALL_PACKAGE_INVALID)
            << static_cast<int>(fault);
        EXPECT_FALSE(file.touchedBig());
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, HugeFileTest, testing::Values(3, 4));

}  // namespace
}  // namespace sp::standin
