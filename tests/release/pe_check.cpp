// The Windows executables as files: a program without a console window that
// imports only system libraries (the installer's by ordinal) and carries only
// the string tables, the package and the patch-information texts. Whatever
// the toolchain slips in (a manifest, an icon, a C++ runtime DLL) shows up
// here before it ships.
//
// The builds are found through SP_WINDOWS_BUILD_DIR (x64) and
// SP_WINDOWS_X86_BUILD_DIR (x86, the release one), from the environment or as
// configured; a missing build is skipped unless SP_REQUIRE_WINE is on.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "pe_file.h"

namespace sp::test {
namespace {

using Problems = std::vector<std::string>;

constexpr std::array<std::uint16_t, 14> kLanguages = {1028, 1029, 1031, 1033, 1036, 1038, 1040,
                                                      1041, 1042, 1045, 1046, 1049, 2052, 3082};
constexpr std::array<std::uint16_t, 7> kInstallerOrdinals = {8, 70, 78, 113, 141, 150, 190};
constexpr std::uint16_t kRtString = 6;
constexpr std::uint16_t kFirstTextId = 206;
// What the executable may weigh once its package and texts are taken out.
constexpr std::size_t kSizeBudget = 256 * 1024;

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Join(const std::vector<std::uint16_t>& numbers) {
    std::string s;
    for (std::uint16_t n : numbers) s += (s.empty() ? "" : ", ") + std::to_string(n);
    return s;
}

std::string TypeName(const pe::ResourceId& type) {
    static const std::map<std::uint16_t, const char*> kNames = {
        {1, "RT_CURSOR"},        {2, "RT_BITMAP"},        {3, "RT_ICON"},        {4, "RT_MENU"},
        {5, "RT_DIALOG"},        {6, "RT_STRING"},        {9, "RT_ACCELERATOR"}, {10, "RT_RCDATA"},
        {11, "RT_MESSAGETABLE"}, {12, "RT_GROUP_CURSOR"}, {14, "RT_GROUP_ICON"}, {16, "RT_VERSION"},
        {24, "RT_MANIFEST"}};
    if (!type.named)
        if (auto it = kNames.find(type.number); it != kNames.end())
            return type.ToString() + " (" + it->second + ")";
    return type.ToString();
}

Problems CheckSubsystem(const pe::Image& image) {
    if (image.subsystem == pe::kSubsystemGui) return {};
    return {"subsystem is " + std::to_string(image.subsystem) +
            (image.subsystem == pe::kSubsystemConsole ? " (console: a window opens)" : "") +
            ", not 2 (GUI)"};
}

Problems CheckImports(const pe::Image& image) {
    static const std::set<std::string> kRequired = {"kernel32.dll", "user32.dll", "shell32.dll",
                                                    "msi.dll"};
    // msvcrt is the C runtime every Windows version ships.
    static const std::set<std::string> kAllowed = {"kernel32.dll", "user32.dll", "shell32.dll",
                                                   "msi.dll", "msvcrt.dll"};
    Problems problems;
    std::set<std::string> dlls;
    std::vector<std::uint16_t> ordinals;
    for (const pe::Import& imp : image.imports) {
        const std::string dll = Lower(imp.dll);
        if (!kAllowed.count(dll) && dlls.insert(dll).second)
            problems.push_back("imports " + imp.dll + ", which is not a Windows system library");
        dlls.insert(dll);
        if (dll != "msi.dll") continue;
        if (imp.byOrdinal)
            ordinals.push_back(imp.ordinal);
        else
            problems.push_back("msi.dll: " + imp.name + " imported by name, not by ordinal");
    }
    for (const std::string& dll : kRequired)
        if (!dlls.count(dll)) problems.push_back("does not import " + dll);
    std::sort(ordinals.begin(), ordinals.end());
    const std::vector<std::uint16_t> expected(kInstallerOrdinals.begin(), kInstallerOrdinals.end());
    if (ordinals != expected)
        problems.push_back("msi.dll ordinals are {" + Join(ordinals) + "}, expected {" +
                           Join(expected) + "}");
    return problems;
}

Problems CheckResources(const pe::Image& image) {
    Problems problems;
    std::map<std::uint16_t, std::set<std::uint16_t>> blocksByLanguage;
    int packages = 0;
    std::vector<std::uint16_t> textIds;
    for (const pe::Resource& r : image.resources) {
        const std::string where = "type " + TypeName(r.type) + ", name " + r.name.ToString() +
                                  ", language " + std::to_string(r.language);
        if (r.type.Is(kRtString)) {
            if (r.name.named)
                problems.push_back("string table with a name: " + where);
            else if (std::find(kLanguages.begin(), kLanguages.end(), r.language) ==
                     kLanguages.end())
                problems.push_back("string table in a language not among the fourteen: " + where);
            else
                blocksByLanguage[r.language].insert(r.name.number);
        } else if (r.type.Is(u"MSP")) {
            ++packages;
            if (!r.name.Is(u"IDR_MSP")) problems.push_back("package not named IDR_MSP: " + where);
        } else if (r.type.Is(u"TXT") && !r.name.named) {
            textIds.push_back(r.name.number);
        } else {
            problems.push_back("unexpected resource: " + where);
        }
    }
    if (packages != 1)
        problems.push_back("carries " + std::to_string(packages) + " packages, expected one");
    for (std::uint16_t language : kLanguages) {
        if (!blocksByLanguage.count(language))
            problems.push_back("no string table in language " + std::to_string(language));
        else if (blocksByLanguage[language] != blocksByLanguage[1033])
            problems.push_back("string table blocks of language " + std::to_string(language) +
                               " differ from those of 1033");
    }
    std::sort(textIds.begin(), textIds.end());
    for (std::size_t i = 0; i < textIds.size(); ++i) {
        if (textIds[i] != kFirstTextId + i) {
            problems.push_back("patch-information texts are numbered {" + Join(textIds) +
                               "}, expected 206, 207, ... without gaps");
            break;
        }
    }
    return problems;
}

Problems CheckAll(const pe::Image& image) {
    Problems all = CheckSubsystem(image);
    for (Problems more : {CheckImports(image), CheckResources(image)})
        all.insert(all.end(), more.begin(), more.end());
    return all;
}

std::string Setting(const char* variable, const char* configured) {
    const char* value = std::getenv(variable);
    return value && *value ? value : configured;
}

bool BuildsRequired() {
    const std::string value = Lower(Setting("SP_REQUIRE_WINE", SP_CONFIGURED_REQUIRE ? "1" : "0"));
    return value == "1" || value == "on" || value == "true" || value == "yes";
}

// What a Windows build embedded, from its cache: SP_PACKAGE and SP_PATCH_INFO,
// or, when no package was named, the sample the top-level CMakeLists.txt
// falls back to.
struct BuildInputs {
    std::string package;
    std::vector<std::string> texts;
};

BuildInputs ReadBuildInputs(const std::string& buildDir) {
    std::ifstream cache(buildDir + "/CMakeCache.txt");
    if (!cache) throw std::runtime_error("no CMakeCache.txt in " + buildDir);
    std::map<std::string, std::string> entries;
    for (std::string line; std::getline(cache, line);) {
        const std::size_t colon = line.find(':'), equals = line.find('=');
        if (line.empty() || line[0] == '#' || line[0] == '/' || colon == std::string::npos ||
            equals == std::string::npos || colon > equals)
            continue;
        entries[line.substr(0, colon)] = line.substr(equals + 1);
    }
    BuildInputs inputs;
    inputs.package = entries["SP_PACKAGE"];
    std::string texts = entries["SP_PATCH_INFO"];
    if (inputs.package.empty()) {
        const std::string sample = entries["CMAKE_HOME_DIRECTORY"] + "/resources/sample/";
        inputs.package = sample + "sample.msp";
        if (texts.empty()) texts = sample + "patchinfo-1033.txt;" + sample + "patchinfo-1031.txt";
    }
    for (std::size_t start = 0; start < texts.size();) {
        const std::size_t end = std::min(texts.find(';', start), texts.size());
        if (end > start) inputs.texts.push_back(texts.substr(start, end - start));
        start = end + 1;
    }
    return inputs;
}

struct Build {
    const char* name;
    const char* variable;
    const char* configuredDir;
    std::uint16_t machine;
    bool pe32Plus;
};

// Names the case in test listings.
void PrintTo(const Build& build, std::ostream* os) {
    *os << build.name;
}

const Build kBuilds[] = {
    {"x86", "SP_WINDOWS_X86_BUILD_DIR", SP_CONFIGURED_X86_DIR, pe::kMachineI386, false},
    {"x64", "SP_WINDOWS_BUILD_DIR", SP_CONFIGURED_X64_DIR, pe::kMachineAmd64, true},
};

class ReleaseExecutable : public testing::TestWithParam<Build> {
  protected:
    void SetUp() override {
        dir_ = Setting(GetParam().variable, GetParam().configuredDir);
        path_ = dir_ + "/servicepack.exe";
        if (!std::filesystem::exists(path_)) {
            if (BuildsRequired())
                FAIL() << path_ << " is missing (build the windows-" << GetParam().name
                       << " preset, or set " << GetParam().variable << ")";
            GTEST_SKIP() << path_ << " is not built";
        }
        bytes_ = pe::ReadFile(path_);
        image_ = pe::Parse(bytes_);
    }

    std::span<const std::uint8_t> Data(const pe::Resource& r) const {
        return std::span<const std::uint8_t>(bytes_).subspan(r.dataOffset, r.size);
    }

    std::string dir_, path_;
    std::vector<std::uint8_t> bytes_;
    pe::Image image_;
};

std::string Describe(const Problems& problems) {
    std::string s;
    for (const std::string& p : problems) s += "\n  " + p;
    return s;
}

TEST_P(ReleaseExecutable, IsAWindowlessProgramForItsArchitecture) {
    EXPECT_EQ(image_.machine, GetParam().machine);
    EXPECT_EQ(image_.pe32Plus, GetParam().pe32Plus);
    EXPECT_TRUE(CheckSubsystem(image_).empty()) << Describe(CheckSubsystem(image_));
}

TEST_P(ReleaseExecutable, ImportsOnlySystemLibrariesAndTheInstallerByOrdinal) {
    EXPECT_TRUE(CheckImports(image_).empty()) << Describe(CheckImports(image_));
}

TEST_P(ReleaseExecutable, CarriesOnlyTheStringTablesThePackageAndTheTexts) {
    EXPECT_TRUE(CheckResources(image_).empty()) << Describe(CheckResources(image_));
}

TEST_P(ReleaseExecutable, EmbedsThePackageAndTextsItWasBuiltFrom) {
    const BuildInputs inputs = ReadBuildInputs(dir_);
    std::map<std::uint16_t, const pe::Resource*> texts;
    const pe::Resource* package = nullptr;
    for (const pe::Resource& r : image_.resources) {
        if (r.type.Is(u"MSP")) package = &r;
        if (r.type.Is(u"TXT") && !r.name.named) texts[r.name.number] = &r;
    }
    ASSERT_NE(package, nullptr);
    const std::vector<std::uint8_t> expected = pe::ReadFile(inputs.package);
    EXPECT_EQ(package->size, expected.size()) << inputs.package;
    EXPECT_TRUE(std::ranges::equal(Data(*package), expected)) << inputs.package;

    ASSERT_EQ(texts.size(), inputs.texts.size());
    std::uint16_t id = kFirstTextId;
    for (const std::string& text : inputs.texts) {
        ASSERT_TRUE(texts.count(id)) << id;
        EXPECT_TRUE(std::ranges::equal(Data(*texts[id]), pe::ReadFile(text))) << id << " " << text;
        ++id;
    }
}

TEST_P(ReleaseExecutable, StaysSmallWithoutItsPackage) {
    std::size_t payload = image_.certificateSize;
    for (const pe::Resource& r : image_.resources)
        if (r.type.Is(u"MSP") || r.type.Is(u"TXT")) payload += r.size;
    const std::size_t rest = bytes_.size() - payload;
    std::string sections;
    for (const pe::Section& s : image_.sections)
        sections += " " + s.name + "=" + std::to_string(s.rawSize);
    RecordProperty("file_bytes", std::to_string(bytes_.size()));
    RecordProperty("without_payload_bytes", std::to_string(rest));
    std::cout << "[   size   ] " << path_ << ": " << bytes_.size() << " bytes, " << rest
              << " without package and texts;" << sections << "\n";
    EXPECT_LT(rest, kSizeBudget);
}

// The checks themselves, on copies of the real executable with one fault each.
void Put(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint64_t value,
         std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) bytes.at(offset + i) = (value >> (8 * i)) & 0xff;
}

std::uint64_t Get(const std::vector<std::uint8_t>& bytes, std::size_t offset, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value |= std::uint64_t{bytes.at(offset + i)} << (8 * i);
    return value;
}

TEST_P(ReleaseExecutable, ChecksCatchAFaultyCopy) {
    ASSERT_TRUE(CheckAll(image_).empty()) << Describe(CheckAll(image_));
    const std::size_t thunk = image_.pe32Plus ? 8 : 4;
    auto findImport = [&](const std::string& dll, auto&& match) -> const pe::Import& {
        for (const pe::Import& imp : image_.imports)
            if (Lower(imp.dll) == dll && match(imp)) return imp;
        throw std::runtime_error("no such import in " + dll);
    };
    auto findResource = [&](auto&& match) -> const pe::Resource& {
        for (const pe::Resource& r : image_.resources)
            if (match(r)) return r;
        throw std::runtime_error("no such resource");
    };
    using Bytes = std::vector<std::uint8_t>;
    struct Fault {
        const char* what;
        std::function<void(Bytes&)> apply;
        const char* reported;
        bool possible = true;
    };
    const bool hasTexts = std::any_of(image_.resources.begin(), image_.resources.end(),
                                      [](auto& r) { return r.type.Is(u"TXT"); });
    const Fault faults[] = {
        {"console subsystem",
         [&](Bytes& b) { Put(b, image_.subsystemOffset, pe::kSubsystemConsole, 2); },
         "subsystem is 3 (console"},
        {"another installer ordinal",
         [&](Bytes& b) {
             const auto& imp = findImport("msi.dll", [](auto& i) { return i.ordinal == 8; });
             Put(b, imp.thunkOffset, Get(b, imp.thunkOffset, thunk) + 1, thunk);
         },
         "msi.dll ordinals are {9, 70,"},
        {"an installer operation by name",
         [&](Bytes& b) {
             const auto& named = findImport("kernel32.dll", [](auto& i) { return !i.byOrdinal; });
             const auto& imp = findImport("msi.dll", [](auto& i) { return i.ordinal == 190; });
             Put(b, imp.thunkOffset, Get(b, named.thunkOffset, thunk), thunk);
         },
         "imported by name, not by ordinal"},
        {"a library that is not the system's",
         [&](Bytes& b) {
             const auto& imp = findImport("user32.dll", [](auto&) { return true; });
             const std::string other = "WS2_32.dll";  // as long as "USER32.dll"
             std::copy(other.begin(), other.end(), b.begin() + imp.dllNameOffset);
         },
         "imports WS2_32.dll, which is not"},
        {"a manifest",
         [&](Bytes& b) {
             const auto& r = findResource([](auto& r) { return r.type.Is(kRtString); });
             Put(b, r.typeEntryOffset, 24, 4);
         },
         "type 24 (RT_MANIFEST)"},
        {"a string table in a fifteenth language",
         [&](Bytes& b) {
             const auto& r = findResource([](auto& r) { return r.language == 1031; });
             Put(b, r.languageEntryOffset, 1032, 4);
         },
         "language not among the fourteen: type 6 (RT_STRING)"},
        {"texts not numbered from 206",
         [&](Bytes& b) {
             const auto& r =
                 findResource([](auto& r) { return r.type.Is(u"TXT") && r.name.Is(kFirstTextId); });
             Put(b, r.nameEntryOffset, kFirstTextId - 1, 4);
         },
         "texts are numbered {205", hasTexts},
    };
    for (const Fault& fault : faults) {
        if (!fault.possible) continue;
        SCOPED_TRACE(fault.what);
        Bytes copy = bytes_;
        try {
            fault.apply(copy);
        } catch (const std::runtime_error& e) {
            ADD_FAILURE() << "cannot make the fault: " << e.what();
            continue;
        }
        const Problems problems = CheckAll(pe::Parse(copy));
        EXPECT_TRUE(std::any_of(
            problems.begin(), problems.end(),
            [&](const std::string& p) { return p.find(fault.reported) != std::string::npos; }))
            << "expected a problem containing \"" << fault.reported
            << "\"; got:" << Describe(problems);
    }
}

INSTANTIATE_TEST_SUITE_P(Windows, ReleaseExecutable, testing::ValuesIn(kBuilds),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sp::test
