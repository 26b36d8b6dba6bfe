// Arbitrary bytes as a products file: parsing never crashes, whatever parses
// is written back as text that parses to the same products, and a value
// from elsewhere (here: the input itself) never breaks the file's lines.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/standin/products_file.h"
#include "platform/standin/utf.h"

using sp::standin::ParseProductsFile;
using sp::standin::ProductsFile;
using sp::standin::SerializeProductsFile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ProductsFile parsed;
    std::string error;
    if (!ParseProductsFile(text, parsed, error)) {
        if (!error.starts_with("products file line ") || !parsed.products.empty()) std::abort();
        return 0;
    }

    const std::string written = SerializeProductsFile(parsed);
    ProductsFile reread;
    if (!ParseProductsFile(written, reread, error) || reread != parsed) std::abort();
    if (SerializeProductsFile(reread) != written) std::abort();

    if (!parsed.products.empty()) {
        const std::size_t count = parsed.products.size();
        parsed.products.back().Set(u"Patches", sp::standin::Utf8ToUtf16(text));
        if (!ParseProductsFile(SerializeProductsFile(parsed), reread, error) ||
            reread.products.size() != count ||
            reread.products.back().properties.size() != parsed.products.back().properties.size())
            std::abort();
    }
    return 0;
}
