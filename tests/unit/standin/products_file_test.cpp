#include "platform/standin/products_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace sp::standin {
namespace {

namespace fs = std::filesystem;

constexpr const char16_t* kOffice = u"{6F1A2B3C-0000-4D5E-8F90-A1B2C3D4E5F6}";
constexpr const char16_t* kViewer = u"{0D3E4F5A-1111-4B2C-9D8E-F0A1B2C3D4E5}";

struct GoodFile {
    const char* name;
    std::string_view text;
    std::vector<ProductRecord> products;
};

void PrintTo(const GoodFile& c, std::ostream* out) {
    *out << c.name;
}

class ParseProductsFileTest : public testing::TestWithParam<GoodFile> {};

TEST_P(ParseProductsFileTest, ReadsTheProducts) {
    ProductsFile file;
    std::string error;
    ASSERT_TRUE(ParseProductsFile(GetParam().text, file, error)) << error;
    EXPECT_EQ(file.products, GetParam().products);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ParseProductsFileTest,
    testing::Values(GoodFile{"Empty", "", {}},
                    GoodFile{"OnlyComments", "; nothing installed\n# yet\n\n   \n\t\n", {}},
                    GoodFile{"TwoProducts",
                             "; the demo machine\n"
                             "[{6F1A2B3C-0000-4D5E-8F90-A1B2C3D4E5F6}]\n"
                             "State=5\n"
                             "ProductName=Office Suite\n"
                             "Language=1031\n"
                             "VersionString=11.0.5614.0\n"
                             "\n"
                             "# advertised only\n"
                             "[{0D3E4F5A-1111-4B2C-9D8E-F0A1B2C3D4E5}]\n"
                             "State=1\n"
                             "ConfigureResult=1603\n"
                             "Patches={AAAA};C:\\tmp\\b.msp",
                             {{kOffice,
                               {{u"State", u"5"},
                                {u"ProductName", u"Office Suite"},
                                {u"Language", u"1031"},
                                {u"VersionString", u"11.0.5614.0"}}},
                              {kViewer,
                               {{u"State", u"1"},
                                {u"ConfigureResult", u"1603"},
                                {u"Patches", u"{AAAA};C:\\tmp\\b.msp"}}}}},
                    // Written on Windows: a byte-order mark and CRLF line ends.
                    GoodFile{"WindowsLineEnds",
                             "\xEF\xBB\xBF[{6F1A2B3C-0000-4D5E-8F90-A1B2C3D4E5F6}]\r\nState=5\r\n"
                             "ProductName=Office\r\n",
                             {{kOffice, {{u"State", u"5"}, {u"ProductName", u"Office"}}}}},
                    // Values are everything after the first '=', spaces included; keys
                    // other than the known ones are kept; keys differing in case are
                    // different keys.
                    GoodFile{"ValuesVerbatim",
                             "[{x}]\nProductName=  a = b  \nVersionString=\nInstallDate=20240101\n"
                             "state=junk\n",
                             {{u"{x}",
                               {{u"ProductName", u"  a = b  "},
                                {u"VersionString", u""},
                                {u"InstallDate", u"20240101"},
                                {u"state", u"junk"}}}}},
                    // The code is whatever is between the brackets; blanks may follow.
                    GoodFile{"CodeAsWritten",
                             "[ {lower-case} ]  \t\n[a]b]\n",
                             {{u" {lower-case} ", {}}, {u"a]b", {}}}},
                    GoodFile{"SignedNumbers",
                             "[{x}]\nState=-1\nConfigureResult=4294967295\n[{y}]\nState=+5\n"
                             "ConfigureResult=-2147483648\n",
                             {{u"{x}", {{u"State", u"-1"}, {u"ConfigureResult", u"4294967295"}}},
                              {u"{y}", {{u"State", u"+5"}, {u"ConfigureResult", u"-2147483648"}}}}},
                    GoodFile{"Utf8",
                             "[{x}]\nProductName=B\xC3\xBCro \xE2\x9C\x93 \xF0\x9F\x98\x80\n",
                             {{u"{x}", {{u"ProductName", u"B\u00fcro \u2713 \U0001F600"}}}}}));

struct BadFile {
    const char* name;
    std::string_view text;
    int line;
};

void PrintTo(const BadFile& c, std::ostream* out) {
    *out << c.name;
}

class MalformedProductsFileTest : public testing::TestWithParam<BadFile> {};

TEST_P(MalformedProductsFileTest, NamesTheLine) {
    ProductsFile file;
    std::string error;
    EXPECT_FALSE(ParseProductsFile(GetParam().text, file, error));
    EXPECT_TRUE(error.starts_with("products file line " + std::to_string(GetParam().line) + ": "))
        << error;
    EXPECT_TRUE(file.products.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, MalformedProductsFileTest,
    testing::Values(BadFile{"KeyBeforeSection", "; header\n\nState=5\n[{x}]\n", 3},
                    BadFile{"NoEquals", "[{x}]\nState=5\nProductName\n", 3},
                    BadFile{"IndentedSection", "[{x}]\n  [{y}]\n", 2},
                    BadFile{"UnterminatedSection", "[{x}]\nState=5\n[{y}\nState=5\n", 3},
                    BadFile{"TextAfterSection", "[{x}] installed\n", 1},
                    BadFile{"EmptyCode", "[]\n", 1},
                    BadFile{"ProductTwice", "[{ab}]\n[{x}]\n[{AB}]\n", 3},
                    BadFile{"KeyTwice", "[{x}]\nState=5\nLanguage=1033\nState=1\n", 4},
                    BadFile{"EmptyKey", "[{x}]\n=5\n", 2},
                    BadFile{"NulByte", std::string_view("[{x}]\nProductName=a\0b\n", 22), 2},
                    BadFile{"CarriageReturnInside", "[{x}]\nProductName=a\rb\n", 2},
                    BadFile{"TwoCarriageReturns", "[{x}]\nProductName=a\r\r\n", 2},
                    BadFile{"StrayContinuationByte", "[{x}]\n\nProductName=\x80\n", 3},
                    BadFile{"OverlongEncoding", "[{x}]\nProductName=\xC0\xAF\n", 2},
                    BadFile{"EncodedSurrogate", "[{x}]\nProductName=\xED\xA0\x80\n", 2},
                    BadFile{"TruncatedAtEnd", "[{x}]\nProductName=\xE2\x9C", 2},
                    BadFile{"InvalidInComment", "; \xFF\n", 1},
                    BadFile{"StateNotNumber", "[{x}]\nState=installed\n", 2},
                    BadFile{"StateEmpty", "[{x}]\nState=\n", 2},
                    BadFile{"StateSpaced", "[{x}]\nState= 5\n", 2},
                    BadFile{"StateTrailing", "[{x}]\nState=5 \n", 2},
                    BadFile{"StateHex", "[{x}]\nState=0x5\n", 2},
                    BadFile{"StateSignOnly", "[{x}]\nState=-\n", 2},
                    BadFile{"StateTooLarge", "[{x}]\nState=2147483648\n", 2},
                    BadFile{"StateHuge", "[{x}]\nState=99999999999999999999999\n", 2},
                    BadFile{"ResultNotNumber", "[{x}]\nConfigureResult=1603.0\n", 2},
                    BadFile{"ResultTooLarge", "[{x}]\nConfigureResult=4294967296\n", 2}));

ProductsFile Parsed(std::string_view text) {
    ProductsFile file;
    std::string error;
    EXPECT_TRUE(ParseProductsFile(text, file, error)) << error;
    return file;
}

TEST(SerializeProductsFileTest, ReadsBackAsTheSameProducts) {
    ProductsFile written;
    written.products = {
        {kOffice,
         {{u"State", u"5"},
          {u"ProductName", u" Office = Suite "},
          {u"FutureKey", u"kept"},
          {u"Patches", u"{A};C:\\tmp\\b.msp"}}},
        {u"a]b", {{u"ProductName", u"B\u00fcro \U0001F600"}, {u"VersionString", u""}}},
        {u"{empty}", {}},
    };
    const ProductsFile read = Parsed(SerializeProductsFile(written));
    EXPECT_EQ(read, written);
    EXPECT_EQ(SerializeProductsFile(read), SerializeProductsFile(written));
}

TEST(SerializeProductsFileTest, KeepsUnknownKeysThroughAnUpdate) {
    ProductsFile file = Parsed("[{x}]\nState=5\nInstallSource=D:\\\nVersionString=1.0\n");
    file.Find(u"{X}")->Set(u"VersionString", u"1.1");
    file.Find(u"{x}")->Set(u"Patches", u"{P1}");
    EXPECT_EQ(SerializeProductsFile(file),
              "[{x}]\nState=5\nInstallSource=D:\\\nVersionString=1.1\nPatches={P1}\n");
}

// A value comes from a patch package; a line break in it must not turn into
// a section or a key of its own.
TEST(SerializeProductsFileTest, KeepsEveryValueOnItsLine) {
    ProductsFile file;
    file.products = {{u"{x}", {{u"State", u"5"}}}};
    file.products[0].Set(u"Patches", std::u16string(u"a\n[{evil}]\r\nState=2\0z", 21));
    file.products[0].Set(u"ProductName", u"lone \xD800 surrogate");
    const ProductsFile read = Parsed(SerializeProductsFile(file));
    ASSERT_EQ(read.products.size(), 1u);
    EXPECT_EQ(*read.products[0].Find(u"State"), u"5");
    EXPECT_EQ(*read.products[0].Find(u"Patches"), u"a\uFFFD[{evil}]\uFFFD\uFFFDState=2\uFFFDz");
    EXPECT_EQ(*read.products[0].Find(u"ProductName"), u"lone \uFFFD surrogate");
}

class ProductsFileOnDiskTest : public testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "products-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        directory_ = pattern;
        path_ = (directory_ / "products.ini").string();
    }
    void TearDown() override {
        fs::permissions(directory_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(directory_);
    }

    static void Write(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(directory_))
            names.push_back(entry.path().filename().string());
        return names;
    }

    fs::path directory_;
    std::string path_;
};

TEST_F(ProductsFileOnDiskTest, LoadNamesTheFileAndTheLine) {
    ProductsFile file;
    std::string error;
    EXPECT_FALSE(LoadProductsFile(path_, file, error));
    EXPECT_NE(error.find(path_), std::string::npos) << error;

    Write(path_, "[{x}]\nState=5\nState=1\n");
    EXPECT_FALSE(LoadProductsFile(path_, file, error));
    EXPECT_NE(error.find(path_), std::string::npos) << error;
    EXPECT_NE(error.find("products file line 3: "), std::string::npos) << error;

    Write(path_, "[{x}]\r\nState=5\r\n");
    ASSERT_TRUE(LoadProductsFile(path_, file, error)) << error;
    EXPECT_EQ(file.products, (std::vector<ProductRecord>{{u"{x}", {{u"State", u"5"}}}}));
}

TEST_F(ProductsFileOnDiskTest, SaveReplacesTheFileAndLeavesNothingElse) {
    Write(path_, "; old\n[{x}]\nState=5\n");
    ::chmod(path_.c_str(), 0640);
    ProductsFile file = Parsed("[{x}]\nState=5\nVersionString=2.0\n");
    std::string error;
    ASSERT_TRUE(SaveProductsFileAtomically(path_, file, error)) << error;
    EXPECT_EQ(Read(path_), SerializeProductsFile(file));
    EXPECT_EQ(Entries(), std::vector<std::string>{"products.ini"});
    struct stat status {};
    ASSERT_EQ(::stat(path_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);

    // A file that was not there yet is created.
    fs::remove(path_);
    ASSERT_TRUE(SaveProductsFileAtomically(path_, file, error)) << error;
    EXPECT_EQ(Read(path_), SerializeProductsFile(file));
    EXPECT_EQ(Entries(), std::vector<std::string>{"products.ini"});
}

TEST_F(ProductsFileOnDiskTest, FailedSaveLeavesTheOldFileWhole) {
    const std::string old = "[{x}]\nState=5\nVersionString=1.0\n";
    Write(path_, old);
    const ProductsFile file = Parsed("[{x}]\nState=5\nVersionString=2.0\n");
    fs::permissions(directory_, fs::perms::owner_read | fs::perms::owner_exec);
    if (::access(directory_.c_str(), W_OK) == 0)
        GTEST_SKIP() << "this user can write to a read-only directory";
    std::string error;
    EXPECT_FALSE(SaveProductsFileAtomically(path_, file, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(Read(path_), old);
    EXPECT_EQ(Entries(), std::vector<std::string>{"products.ini"});
}

// Even a superuser cannot rename a file over a directory: the new file was
// written by then and must be taken away again.
TEST_F(ProductsFileOnDiskTest, FailedRenameTakesTheNewFileAway) {
    fs::create_directory(path_);
    std::string error;
    EXPECT_FALSE(SaveProductsFileAtomically(path_, Parsed("[{x}]\nState=5\n"), error));
    EXPECT_NE(error.find(path_), std::string::npos) << error;
    EXPECT_EQ(Entries(), std::vector<std::string>{"products.ini"});
    EXPECT_TRUE(fs::is_directory(path_));
}

}  // namespace
}  // namespace sp::standin
