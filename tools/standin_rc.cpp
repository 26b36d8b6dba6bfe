// Build-time resource compiler for the stand-in executable. It reads the same
// resource scripts the Windows resource compiler reads (string tables in
// LANGUAGE blocks, and "NAME TYPE file" lines) and writes a C++ table plus an
// assembler file that pulls each binary in with .incbin, so a package of
// hundreds of megabytes never passes through a generated array.
//
//   standin_rc -I dir ... --cpp out.cpp --asm out.S script.rc ...
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Fail(const std::string& where, const std::string& message) {
    std::fprintf(stderr, "standin_rc: %s: %s\n", where.c_str(), message.c_str());
    std::exit(1);
}

const std::map<std::string, unsigned> kLanguageNames = {
    {"LANG_NEUTRAL", 0x00},    {"LANG_CHINESE", 0x04},   {"LANG_CZECH", 0x05},
    {"LANG_GERMAN", 0x07},     {"LANG_ENGLISH", 0x09},   {"LANG_SPANISH", 0x0a},
    {"LANG_FRENCH", 0x0c},     {"LANG_HUNGARIAN", 0x0e}, {"LANG_ITALIAN", 0x10},
    {"LANG_JAPANESE", 0x11},   {"LANG_KOREAN", 0x12},    {"LANG_POLISH", 0x15},
    {"LANG_PORTUGUESE", 0x16}, {"LANG_RUSSIAN", 0x19},   {"LANG_GREEK", 0x08},
};
const std::map<std::string, unsigned> kSublanguageNames = {
    {"SUBLANG_NEUTRAL", 0x00},
    {"SUBLANG_DEFAULT", 0x01},
    {"SUBLANG_CHINESE_TRADITIONAL", 0x01},
    {"SUBLANG_CHINESE_SIMPLIFIED", 0x02},
    {"SUBLANG_GERMAN", 0x01},
    {"SUBLANG_ENGLISH_US", 0x01},
    {"SUBLANG_FRENCH", 0x01},
    {"SUBLANG_ITALIAN", 0x01},
    {"SUBLANG_PORTUGUESE_BRAZILIAN", 0x01},
    {"SUBLANG_SPANISH_MODERN", 0x03},
};

struct Token {
    enum Kind { Word, String, Punct, End } kind;
    std::string text;  // for String: the decoded UTF-8 value
    int line;
};

struct Binary {
    std::string type, name, file;
    unsigned id = 0;
    unsigned language = 0;
};

struct Text {
    unsigned language, id;
    std::u16string value;
};

struct Script {
    std::vector<std::string> includeDirs;
    std::map<std::string, std::string> defines;
    std::vector<Binary> binaries;
    std::vector<Text> strings;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) Fail(path, "cannot read");
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

std::string Directory(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string FindInclude(const Script& script, const std::string& from, const std::string& name) {
    std::vector<std::string> dirs{Directory(from)};
    dirs.insert(dirs.end(), script.includeDirs.begin(), script.includeDirs.end());
    for (const auto& dir : dirs) {
        const std::string candidate = dir + "/" + name;
        if (std::ifstream(candidate)) return candidate;
    }
    Fail(from, "cannot find include " + name);
}

void AppendUtf16(std::u16string& out, std::uint32_t c) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
        out += static_cast<char16_t>(c);
    }
}

std::u16string Utf8ToUtf16(const std::string& s, const std::string& where) {
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
        if (extra < 0 || i + extra >= s.size() + (extra == 0 ? 1 : 0)) Fail(where, "bad UTF-8");
        std::uint32_t c = extra == 0 ? b : b & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            const auto cont = static_cast<unsigned char>(s[i + k]);
            if ((cont & 0xC0) != 0x80) Fail(where, "bad UTF-8");
            c = (c << 6) | (cont & 0x3F);
        }
        AppendUtf16(out, c);
        i += extra + 1;
    }
    return out;
}

class Lexer {
  public:
    Lexer(std::string text, std::string path) : text_(std::move(text)), path_(std::move(path)) {}

    Token Next() {
        SkipBlanks();
        if (pos_ >= text_.size()) return {Token::End, "", line_};
        const char c = text_[pos_];
        if (c == '"') return ReadString();
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
            std::string word;
            while (pos_ < text_.size() &&
                   (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_'))
                word += text_[pos_++];
            return {Token::Word, word, line_};
        }
        ++pos_;
        return {Token::Punct, std::string(1, c), line_};
    }

    // The rest of the current line, for preprocessor directives.
    std::string RestOfLine() {
        std::string rest;
        while (pos_ < text_.size() && text_[pos_] != '\n') rest += text_[pos_++];
        return rest;
    }

    bool AtLineStartDirective() {
        SkipBlanks();
        return pos_ < text_.size() && text_[pos_] == '#';
    }

    std::string Where() const { return path_ + ":" + std::to_string(line_); }

  private:
    void SkipBlanks() {
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == '\n') {
                ++line_;
                ++pos_;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++pos_;
            } else if (text_.compare(pos_, 2, "//") == 0) {
                while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
            } else if (text_.compare(pos_, 2, "/*") == 0) {
                const auto end = text_.find("*/", pos_ + 2);
                if (end == std::string::npos) Fail(Where(), "unterminated comment");
                for (auto k = pos_; k < end; ++k) line_ += text_[k] == '\n';
                pos_ = end + 2;
            } else {
                break;
            }
        }
    }

    Token ReadString() {
        const int startLine = line_;
        std::string value;
        ++pos_;
        for (;;) {
            if (pos_ >= text_.size() || text_[pos_] == '\n') Fail(Where(), "unterminated string");
            const char c = text_[pos_++];
            if (c == '"') {
                if (pos_ < text_.size() && text_[pos_] == '"') {
                    value += '"';
                    ++pos_;
                    continue;
                }
                break;
            }
            if (c != '\\') {
                value += c;
                continue;
            }
            if (pos_ >= text_.size()) Fail(Where(), "dangling escape");
            const char e = text_[pos_++];
            switch (e) {
                case 'n':
                    value += '\n';
                    break;
                case 't':
                    value += '\t';
                    break;
                case 'r':
                    value += '\r';
                    break;
                case 'a':
                    value += '\a';
                    break;
                case '0':
                    value += '\0';
                    break;
                case '\\':
                    value += '\\';
                    break;
                case '"':
                    value += '"';
                    break;
                default:
                    Fail(Where(), std::string("unknown escape \\") + e);
            }
        }
        return {Token::String, value, startLine};
    }

    std::string text_, path_;
    std::size_t pos_ = 0;
    int line_ = 1;
};

unsigned Number(const Script& script, const std::string& word, const std::string& where) {
    std::string value = word;
    for (int depth = 0; depth < 8; ++depth) {
        const auto define = script.defines.find(value);
        if (define == script.defines.end()) break;
        value = define->second;
    }
    char* end = nullptr;
    const unsigned long number = std::strtoul(value.c_str(), &end, 0);
    if (value.empty() || *end != '\0' || number > 0xFFFF)
        Fail(where, "not a resource number: " + word);
    return static_cast<unsigned>(number);
}

void Parse(Script& script, const std::string& path);

// Handles one directive; `skipping` is the state of the #if stack.
void Directive(Script& script, const std::string& path, const std::string& line,
               std::vector<bool>& active) {
    std::istringstream in(line.substr(1));
    std::string keyword, argument;
    in >> keyword >> argument;
    const bool live = active.empty() || active.back();
    if (keyword == "ifndef" || keyword == "ifdef") {
        // The resource compiler defines RC_INVOKED; C++-only parts are skipped.
        const bool defined = argument == "RC_INVOKED" || script.defines.count(argument) > 0;
        active.push_back(live && (keyword == "ifdef" ? defined : !defined));
    } else if (keyword == "else") {
        if (active.empty()) Fail(path, "#else without #if");
        const bool outer = active.size() < 2 || active[active.size() - 2];
        active.back() = outer && !active.back();
    } else if (keyword == "endif") {
        if (active.empty()) Fail(path, "#endif without #if");
        active.pop_back();
    } else if (!live) {
        return;
    } else if (keyword == "define") {
        std::string value;
        in >> value;
        script.defines[argument] = value;
    } else if (keyword == "include") {
        if (argument.size() > 2 && argument.front() == '"')
            Parse(script, FindInclude(script, path, argument.substr(1, argument.size() - 2)));
        // <windows.h> and the like only supply constants this tool knows itself.
    } else if (keyword != "pragma" && keyword != "undef") {
        Fail(path, "unsupported directive #" + keyword);
    }
}

void Parse(Script& script, const std::string& path) {
    const std::string text = ReadFile(path);
    const bool isHeader = path.size() > 2 && path.substr(path.size() - 2) == ".h";
    Lexer lexer(text, path);
    std::vector<bool> active;
    unsigned language = 0x0409;
    std::vector<Token> statement;

    auto nextToken = [&]() -> Token {
        for (;;) {
            if (lexer.AtLineStartDirective()) {
                Directive(script, path, lexer.RestOfLine(), active);
                continue;
            }
            Token token = lexer.Next();
            if (token.kind == Token::End || active.empty() || active.back()) return token;
        }
    };

    for (Token token = nextToken(); token.kind != Token::End; token = nextToken()) {
        if (isHeader) continue;  // headers only contribute defines
        const std::string where = path + ":" + std::to_string(token.line);
        if (token.kind == Token::Word && token.text == "LANGUAGE") {
            const Token primary = nextToken();
            if (nextToken().text != ",") Fail(where, "LANGUAGE needs two values");
            const Token secondary = nextToken();
            const auto p = kLanguageNames.find(primary.text);
            const auto s = kSublanguageNames.find(secondary.text);
            const unsigned pv =
                p != kLanguageNames.end() ? p->second : Number(script, primary.text, where);
            const unsigned sv =
                s != kSublanguageNames.end() ? s->second : Number(script, secondary.text, where);
            language = (sv << 10) | pv;
        } else if (token.kind == Token::Word && token.text == "STRINGTABLE") {
            Token t = nextToken();
            while (t.kind == Token::Word && t.text != "BEGIN") t = nextToken();  // options
            if (t.text != "BEGIN" && t.text != "{") Fail(where, "STRINGTABLE without BEGIN");
            for (t = nextToken(); t.text != "END" && t.text != "}"; t = nextToken()) {
                if (t.kind == Token::End) Fail(where, "STRINGTABLE without END");
                const unsigned id = Number(script, t.text, where);
                Token value = nextToken();
                if (value.text == ",") value = nextToken();
                if (value.kind != Token::String) Fail(where, "string expected for " + t.text);
                for (const Text& existing : script.strings)
                    if (existing.language == language && existing.id == id)
                        Fail(where, "string " + std::to_string(id) + " given twice");
                script.strings.push_back({language, id, Utf8ToUtf16(value.text, where)});
            }
        } else if (token.kind == Token::Word) {
            const Token type = nextToken();
            const Token file = nextToken();
            if (type.kind != Token::Word || file.kind != Token::String)
                Fail(where, "expected NAME TYPE \"file\" after " + token.text);
            Binary binary;
            binary.type = type.text;
            binary.language = language;
            binary.file = file.text;
            if (!binary.file.empty() && binary.file[0] != '/')
                binary.file = Directory(path) + "/" + binary.file;
            const bool numeric = std::isdigit(static_cast<unsigned char>(token.text[0])) ||
                                 script.defines.count(token.text);
            if (numeric) {
                binary.id = Number(script, token.text, where);
            } else {
                binary.name = token.text;
            }
            if (!std::ifstream(binary.file)) Fail(where, "cannot read " + binary.file);
            script.binaries.push_back(binary);
        } else {
            Fail(where, "unexpected '" + token.text + "'");
        }
    }
    if (!active.empty()) Fail(path, "#if without #endif");
}

std::string Utf16Literal(const std::u16string& text) {
    std::string out = "{";
    for (char16_t c : text) out += std::to_string(static_cast<unsigned>(c)) + ",";
    return out + "0}";
}

std::string AsciiLiteral(const std::string& text) {
    std::string out = "u\"";
    for (char c : text) {
        if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20 ||
            static_cast<unsigned char>(c) > 0x7E)
            Fail(text, "resource names and types must be plain ASCII");
        out += c;
    }
    return out + "\"";
}

std::string AsmPath(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    Script script;
    std::string cppPath, asmPath;
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-I" && i + 1 < argc) {
            script.includeDirs.push_back(argv[++i]);
        } else if (arg == "--cpp" && i + 1 < argc) {
            cppPath = argv[++i];
        } else if (arg == "--asm" && i + 1 < argc) {
            asmPath = argv[++i];
        } else {
            inputs.push_back(arg);
        }
    }
    if (cppPath.empty() || asmPath.empty() || inputs.empty())
        Fail("usage", "standin_rc -I dir --cpp out.cpp --asm out.S script.rc...");
    for (const auto& input : inputs) Parse(script, input);

    std::ostringstream cpp;
    cpp << "// Generated by standin_rc from the resource scripts; do not edit.\n"
        << "#include \"platform/standin/resource_table.h\"\n\n";
    for (std::size_t i = 0; i < script.binaries.size(); ++i)
        cpp << "extern \"C\" const unsigned char sp_resource_" << i << "[], sp_resource_" << i
            << "_end[];\n";
    for (std::size_t i = 0; i < script.strings.size(); ++i)
        cpp << "static const char16_t kString" << i
            << "[] = " << Utf16Literal(script.strings[i].value) << ";\n";
    cpp << "\nstatic const sp::standin::BinaryResource kBinaries[] = {\n";
    for (std::size_t i = 0; i < script.binaries.size(); ++i) {
        const Binary& b = script.binaries[i];
        cpp << "    {" << AsciiLiteral(b.type) << ", "
            << (b.name.empty() ? "nullptr" : AsciiLiteral(b.name)) << ", " << b.id << ", "
            << b.language << ", sp_resource_" << i << ", sp_resource_" << i << "_end},\n";
    }
    if (script.binaries.empty()) cpp << "    {u\"\", nullptr, 0, 0, nullptr, nullptr},\n";
    cpp << "};\n\nstatic const sp::standin::StringResource kStrings[] = {\n";
    for (std::size_t i = 0; i < script.strings.size(); ++i)
        cpp << "    {" << script.strings[i].language << ", " << script.strings[i].id << ", kString"
            << i << ", " << script.strings[i].value.size() << "},\n";
    if (script.strings.empty()) cpp << "    {0, 0, nullptr, 0},\n";
    cpp << "};\n\nextern const sp::standin::ResourceTable spModuleResources;\n"
        << "const sp::standin::ResourceTable spModuleResources = {kBinaries, "
        << script.binaries.size() << ", kStrings, " << script.strings.size() << "};\n";

    std::ostringstream s;
    s << "/* Generated by standin_rc; do not edit. */\n\t.section .rodata.sp_resources,\"a\"\n";
    for (std::size_t i = 0; i < script.binaries.size(); ++i) {
        s << "\t.balign 16\n\t.globl sp_resource_" << i << "\nsp_resource_" << i << ":\n"
          << "\t.incbin \"" << AsmPath(script.binaries[i].file) << "\"\n\t.globl sp_resource_" << i
          << "_end\nsp_resource_" << i << "_end:\n";
    }
    s << "\t.section .note.GNU-stack,\"\",@progbits\n";

    for (const auto& [path, content] :
         {std::pair{cppPath, cpp.str()}, std::pair{asmPath, s.str()}}) {
        // Rewrite only on change, so an unchanged script does not relink.
        std::ifstream old(path, std::ios::binary);
        std::ostringstream previous;
        if (old) previous << old.rdbuf();
        if (old && previous.str() == content) continue;
        std::ofstream out(path, std::ios::binary);
        out << content;
        if (!out) Fail(path, "cannot write");
    }
    return 0;
}
