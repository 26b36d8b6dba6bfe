#include "platform/standin/products_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/standin/utf.h"

namespace sp::standin {
namespace {

char16_t AsciiLower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c;
}

bool SameIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

bool IsBlank(std::string_view line) {
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

// A whole decimal number with an optional sign, within [minimum, maximum].
bool IsWholeNumber(std::string_view text, std::int64_t minimum, std::int64_t maximum) {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return false;
    std::int64_t magnitude = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        magnitude = magnitude * 10 + (c - '0');
        // Far beyond either bound; stop before the arithmetic could overflow.
        if (magnitude > (std::int64_t{1} << 40)) return false;
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    return value >= minimum && value <= maximum;
}

struct NumericKey {
    std::u16string_view key;
    std::int64_t minimum;
    std::int64_t maximum;
};

// An install state is an int; a scripted result is what the installer
// returns, a 32-bit code that people also write as a negative number.
constexpr NumericKey kNumericKeys[] = {
    {u"State", INT32_MIN, INT32_MAX},
    {u"ConfigureResult", INT32_MIN, UINT32_MAX},
};

void AppendLineSafe(std::string& out, std::u16string_view text) {
    for (char c : Utf16ToUtf8(text)) {
        if (c == '\n' || c == '\r' || c == '\0')
            out += "\xEF\xBF\xBD";
        else
            out += c;
    }
}

std::string Describe(const std::string& what, int errorNumber) {
    return what + ": " + std::strerror(errorNumber);
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

const std::u16string* ProductRecord::Find(std::u16string_view key) const {
    for (const auto& [name, value] : properties)
        if (name == key) return &value;
    return nullptr;
}

void ProductRecord::Set(std::u16string_view key, std::u16string value) {
    for (auto& [name, existing] : properties) {
        if (name == key) {
            existing = std::move(value);
            return;
        }
    }
    properties.emplace_back(std::u16string(key), std::move(value));
}

ProductRecord* ProductsFile::Find(std::u16string_view code) {
    for (ProductRecord& record : products)
        if (SameIgnoringAsciiCase(record.productCode, code)) return &record;
    return nullptr;
}

bool ParseProductsFile(std::string_view utf8, ProductsFile& out, std::string& error) {
    out.products.clear();
    error.clear();
    // Editors on Windows like to start UTF-8 files with a byte-order mark.
    if (utf8.starts_with("\xEF\xBB\xBF")) utf8.remove_prefix(3);

    std::size_t lineNumber = 0;
    auto fail = [&](const std::string& message) {
        error = "products file line " + std::to_string(lineNumber) + ": " + message;
        out.products.clear();
        return false;
    };

    std::size_t start = 0;
    while (start < utf8.size()) {
        ++lineNumber;
        std::size_t end = utf8.find('\n', start);
        if (end == std::string_view::npos) end = utf8.size();
        std::string_view line = utf8.substr(start, end - start);
        start = end + 1;
        if (line.ends_with('\r')) line.remove_suffix(1);

        if (line.find('\0') != std::string_view::npos) return fail("contains a NUL byte");
        // A value ending in a carriage return could not be written back: the
        // line's own CR would be taken off and the value's with it.
        if (line.find('\r') != std::string_view::npos)
            return fail("contains a carriage return inside the line");
        bool valid = true;
        const std::u16string text = Utf8ToUtf16(line, &valid);
        if (!valid) return fail("is not valid UTF-8");

        if (IsBlank(line) || line[0] == ';' || line[0] == '#') continue;

        if (line[0] == '[') {
            const std::size_t last = line.find_last_not_of(" \t");
            if (line[last] != ']')
                return fail("has '[' without a closing ']' at the end of the line");
            const std::size_t closing = text.find_last_of(u']');
            std::u16string code = text.substr(1, closing - 1);
            if (code.empty()) return fail("has an empty product code");
            if (out.Find(code) != nullptr)
                return fail("registers product " + Utf16ToUtf8(code) + " a second time");
            out.products.push_back(ProductRecord{std::move(code), {}});
            continue;
        }

        const std::size_t equals = text.find(u'=');
        if (equals == std::u16string::npos)
            return fail("is not a [product-code] section, a Key=Value line or a comment");
        if (out.products.empty())
            return fail("has a Key=Value line before the first [product-code] section");
        if (equals == 0) return fail("has no key before '='");
        std::u16string key = text.substr(0, equals);
        std::u16string value = text.substr(equals + 1);
        ProductRecord& record = out.products.back();
        if (record.Find(key) != nullptr)
            return fail("sets " + Utf16ToUtf8(key) + " a second time for product " +
                        Utf16ToUtf8(record.productCode));
        for (const NumericKey& numeric : kNumericKeys) {
            if (key == numeric.key &&
                !IsWholeNumber(line.substr(line.find('=') + 1), numeric.minimum, numeric.maximum))
                return fail(Utf16ToUtf8(key) + " must be a whole decimal number, not \"" +
                            Utf16ToUtf8(value) + "\"");
        }
        record.properties.emplace_back(std::move(key), std::move(value));
    }
    return true;
}

std::string SerializeProductsFile(const ProductsFile& file) {
    std::string out;
    for (const ProductRecord& record : file.products) {
        if (!out.empty()) out += '\n';
        out += '[';
        AppendLineSafe(out, record.productCode);
        out += "]\n";
        for (const auto& [key, value] : record.properties) {
            AppendLineSafe(out, key);
            out += '=';
            AppendLineSafe(out, value);
            out += '\n';
        }
    }
    return out;
}

bool LoadProductsFile(const std::string& path, ProductsFile& out, std::string& error) {
    out.products.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = Describe("cannot open the products file " + path, errno);
        return false;
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = Describe("cannot read the products file " + path, errno);
            ::close(fd);
            return false;
        }
        if (got == 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    if (ParseProductsFile(text, out, error)) return true;
    error = path + ": " + error;
    return false;
}

bool SaveProductsFileAtomically(const std::string& path, const ProductsFile& file,
                                std::string& error) {
    const std::string text = SerializeProductsFile(file);

    // Two processes may save at once; each writes its own new file.
    static std::atomic<unsigned> counter{0};
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = path + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        error = Describe("cannot create a new products file beside " + path, errno);
        return false;
    }

    // The replacement keeps the permissions the file had.
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        (void)::fchmod(fd, old.st_mode & 07777);

    std::string failure;
    if (!WriteAll(fd, text))
        failure = "cannot write " + temporary;
    else if (::fsync(fd) != 0)
        failure = "cannot flush " + temporary;
    int errorNumber = errno;
    if (::close(fd) != 0 && failure.empty()) {
        failure = "cannot close " + temporary;
        errorNumber = errno;
    }
    if (failure.empty() && ::rename(temporary.c_str(), path.c_str()) != 0) {
        failure = "cannot replace " + path;
        errorNumber = errno;
    }
    if (!failure.empty()) {
        ::unlink(temporary.c_str());
        error = Describe(failure, errorNumber);
        return false;
    }

    // Make the rename itself durable; the file is already in place, so a
    // directory that cannot be flushed is no failure.
    const int directory = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        (void)::fsync(directory);
        ::close(directory);
    }
    return true;
}

}  // namespace sp::standin
