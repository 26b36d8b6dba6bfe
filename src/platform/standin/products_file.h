// The stand-in machine's registry of installed products: what Windows keeps
// as installer registrations, kept here in a small UTF-8 text file.
//
//   ; comment            # comment too; blank lines are ignored
//   [{product-code}]
//   State=5              installed; 1 advertised, 2 absent, -1 unknown
//   ProductName=...
//   Language=1031
//   VersionString=1.2.3
//   ConfigureResult=1603 optional: configuring answers this, changing nothing
//   Patches=a;b          written by the stand-in as it applies patches
//
// Values are everything after the first '=' (a trailing CR of the line is
// dropped, nothing else). Keys other than these are kept and written back, so
// a file from a later tool version survives a rewrite. Comments do not.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sp::standin {

struct ProductRecord {
    // Exactly as written between the brackets.
    std::u16string productCode;
    // In file order; keys are unique and matched exactly.
    std::vector<std::pair<std::u16string, std::u16string>> properties;

    // The value of `key`, or null when the product has none.
    const std::u16string* Find(std::u16string_view key) const;
    // Replaces the value of `key` in place, or appends the key at the end.
    void Set(std::u16string_view key, std::u16string value);

    bool operator==(const ProductRecord&) const = default;
};

struct ProductsFile {
    // In file order; no two product codes are the same ignoring ASCII case.
    std::vector<ProductRecord> products;

    // The product whose code matches `code` ignoring ASCII case (product
    // codes are GUIDs, which Windows compares that way), or null.
    ProductRecord* Find(std::u16string_view code);

    bool operator==(const ProductsFile&) const = default;
};

// Parses the file's text into `out`. On failure returns false and a message
// naming the 1-based line ("products file line 7: ...").
bool ParseProductsFile(std::string_view utf8, ProductsFile& out, std::string& error);

// The text ParseProductsFile reads back as the same products. A line feed,
// carriage return or NUL inside a code, key or value cannot be kept on one
// line and is written as U+FFFD, so a value never turns into lines of its own.
std::string SerializeProductsFile(const ProductsFile& file);

// Reads and parses the file at `path`; a missing file is an error.
bool LoadProductsFile(const std::string& path, ProductsFile& out, std::string& error);

// Writes a new file beside `path`, flushes it to disk and renames it over
// `path`: a reader sees the old file or the new one, never half of one, and
// on failure the old file is left as it was and no new file remains.
bool SaveProductsFileAtomically(const std::string& path, const ProductsFile& file,
                                std::string& error);

}  // namespace sp::standin
