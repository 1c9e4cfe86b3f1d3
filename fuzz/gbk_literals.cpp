// Rewrites a UTF-8 source file so that a compiler without a GBK execution character set (clang)
// gives its narrow literals the bytes GCC gives them with -fexec-charset=GB18030: every non-ASCII
// character inside an ordinary string or character literal becomes \x escapes of its GB18030
// bytes. Everything else stays byte for byte, and so does the line structure, so positions in
// diagnostics and __LINE__ keep their meaning.
//
// A hex escape runs on over every hex digit behind it, so where an ASCII hex digit follows a
// rewritten character the literal is closed and reopened ("\xD6\xD0" "abc"), which concatenation
// undoes. Raw literals holding non-ASCII text become ordinary literals, one per source line.
// Literals with an encoding prefix (u8, u, U, L) are left alone: their encoding does not depend on
// the execution character set.
//
// Usage: qj_gbk_literals INPUT OUTPUT
#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

class Transcoder {
public:
    Transcoder(std::string_view source, std::string path) : in_(source), path_(std::move(path)) {
        cd_ = iconv_open("GB18030", "UTF-8");
        if (cd_ == reinterpret_cast<iconv_t>(-1)) {
            throw std::runtime_error("iconv cannot convert UTF-8 to GB18030");
        }
    }
    ~Transcoder() { iconv_close(cd_); }
    Transcoder(const Transcoder&) = delete;
    Transcoder& operator=(const Transcoder&) = delete;

    std::string Run() {
        while (pos_ < in_.size()) {
            const char c = in_[pos_];
            if (c == '/' && Peek(1) == '/') {
                CopyLineComment();
            } else if (c == '/' && Peek(1) == '*') {
                CopyBlockComment();
            } else if (IsDigit(c) || (c == '.' && IsDigit(Peek(1)))) {
                CopyNumber();
            } else if (IsIdentifierStart(c)) {
                Identifier();
            } else if (c == '"' || c == '\'') {
                NarrowLiteral();
            } else {
                Copy(1);
            }
        }
        return out_;
    }

private:
    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
    static bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
    static bool IsIdentifierStart(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || static_cast<unsigned char>(c) >= 0x80;
    }
    static bool IsIdentifierPart(char c) { return IsIdentifierStart(c) || IsDigit(c); }

    char Peek(std::size_t ahead) const { return pos_ + ahead < in_.size() ? in_[pos_ + ahead] : '\0'; }

    void Copy(std::size_t n) {
        out_.append(in_.substr(pos_, n));
        pos_ += n;
    }

    [[noreturn]] void Fail(const std::string& what) const {
        std::size_t line = 1;
        for (std::size_t i = 0; i < pos_ && i < in_.size(); ++i) {
            line += in_[i] == '\n' ? 1 : 0;
        }
        throw std::runtime_error(path_ + ":" + std::to_string(line) + ": " + what);
    }

    void CopyLineComment() {
        // A backslash at the end of the line continues the comment.
        while (pos_ < in_.size() && !(in_[pos_] == '\n' && (pos_ == 0 || in_[pos_ - 1] != '\\'))) {
            Copy(1);
        }
    }

    void CopyBlockComment() {
        const std::size_t end = in_.find("*/", pos_ + 2);
        if (end == std::string_view::npos) {
            Fail("unterminated comment");
        }
        Copy(end + 2 - pos_);
    }

    // A preprocessing number: digit separators (1'000) and exponent signs belong to it.
    void CopyNumber() {
        Copy(1);
        while (pos_ < in_.size()) {
            const char c = in_[pos_];
            const char previous = in_[pos_ - 1];
            if (IsIdentifierPart(c) || c == '.' ||
                ((c == '+' || c == '-') &&
                 (previous == 'e' || previous == 'E' || previous == 'p' || previous == 'P')) ||
                (c == '\'' && IsIdentifierPart(Peek(1)))) {
                Copy(1);
            } else {
                break;
            }
        }
    }

    void Identifier() {
        const std::size_t start = pos_;
        while (pos_ < in_.size() && IsIdentifierPart(in_[pos_])) {
            ++pos_;
        }
        const std::string_view word = in_.substr(start, pos_ - start);
        out_.append(word);
        if (pos_ >= in_.size() || (in_[pos_] != '"' && in_[pos_] != '\'')) {
            return;
        }
        const bool raw = in_[pos_] == '"' && !word.empty() && word.back() == 'R';
        const std::string_view prefix = raw ? word.substr(0, word.size() - 1) : word;
        const bool encoded = prefix == "u8" || prefix == "u" || prefix == "U" || prefix == "L";
        if (raw && (prefix.empty() || encoded)) {
            RawLiteral(encoded);
        } else if (encoded) {
            CopyLiteral();
        }
        // Any other word is no prefix: the literal behind it is an ordinary one, read next.
    }

    // A literal whose bytes do not depend on the execution character set, copied as it stands.
    void CopyLiteral() {
        const char quote = in_[pos_];
        Copy(1);
        while (pos_ < in_.size() && in_[pos_] != quote) {
            if (in_[pos_] == '\n') {
                Fail("unterminated literal");
            }
            Copy(in_[pos_] == '\\' ? 2 : 1);
        }
        Copy(1);
    }

    // The length of the UTF-8 sequence at the current position.
    std::size_t SequenceLength() const {
        const auto lead = static_cast<unsigned char>(in_[pos_]);
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        if (length == 0 || pos_ + length > in_.size()) {
            Fail("not UTF-8");
        }
        return length;
    }

    // The GB18030 bytes of the character at the current position as \x escapes.
    std::string Escaped(std::size_t length) {
        std::string utf8(in_.substr(pos_, length));
        char buffer[16];
        char* from = utf8.data();
        std::size_t fromLeft = utf8.size();
        char* to = buffer;
        std::size_t toLeft = sizeof buffer;
        if (iconv(cd_, &from, &fromLeft, &to, &toLeft) == static_cast<std::size_t>(-1) || fromLeft != 0) {
            Fail("a character GB18030 cannot encode");
        }
        static const char kHex[] = "0123456789ABCDEF";
        std::string escaped;
        for (const char* b = buffer; b < to; ++b) {
            const auto byte = static_cast<unsigned char>(*b);
            escaped += "\\x";
            escaped += kHex[byte >> 4];
            escaped += kHex[byte & 0xF];
        }
        return escaped;
    }

    void NarrowLiteral() {
        const char quote = in_[pos_];
        Copy(1);
        bool behindHexEscape = false;
        while (true) {
            if (pos_ >= in_.size() || in_[pos_] == '\n') {
                Fail("unterminated literal");
            }
            const char c = in_[pos_];
            if (c == quote) {
                Copy(1);
                return;
            }
            if (static_cast<unsigned char>(c) >= 0x80) {
                const std::size_t length = SequenceLength();
                out_ += Escaped(length);
                pos_ += length;
                behindHexEscape = true;
                continue;
            }
            if (behindHexEscape && IsHexDigit(c)) {
                if (quote == '\'') {
                    Fail("a hex digit behind a non-ASCII character in a character literal");
                }
                out_ += "\" \"";
            }
            behindHexEscape = false;
            // An escape is copied whole as far as it concerns us: the backslash and the byte behind
            // it (an escaped non-ASCII character would be no valid escape anyway).
            if (c == '\\' && pos_ + 1 < in_.size() && static_cast<unsigned char>(in_[pos_ + 1]) < 0x80) {
                Copy(2);
            } else {
                Copy(1);
            }
        }
    }

    // R"delim( ... )delim": copied when it is ASCII or encoded, else rewritten as ordinary
    // literals, one for each source line it spans, so the line count stays.
    void RawLiteral(bool encoded) {
        const std::size_t open = in_.find('(', pos_);
        if (open == std::string_view::npos) {
            Fail("malformed raw literal");
        }
        const std::string delimiter = ")" + std::string(in_.substr(pos_ + 1, open - pos_ - 1)) + "\"";
        const std::size_t close = in_.find(delimiter, open + 1);
        if (close == std::string_view::npos) {
            Fail("unterminated raw literal");
        }
        const std::size_t end = close + delimiter.size();
        const std::string_view body = in_.substr(open + 1, close - open - 1);
        bool ascii = true;
        for (const char c : body) {
            ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        }
        if (ascii || encoded) {
            Copy(end - pos_);
            return;
        }
        out_.pop_back();  // the R of the prefix
        std::string literal = "\"";
        bool behindHexEscape = false;
        pos_ = open + 1;
        while (pos_ < close) {
            const char c = in_[pos_];
            if (static_cast<unsigned char>(c) >= 0x80) {
                const std::size_t length = SequenceLength();
                literal += Escaped(length);
                pos_ += length;
                behindHexEscape = true;
                continue;
            }
            if (behindHexEscape && IsHexDigit(c)) {
                literal += "\" \"";
            }
            behindHexEscape = false;
            if (c == '\n') {
                literal += "\\n\"\n\"";
            } else if (c == '\\' || c == '"') {
                literal += '\\';
                literal += c;
            } else if (c == '\t') {
                literal += "\\t";
            } else if (c == '\r') {
                literal += "\\r";
            } else {
                literal += c;
            }
            ++pos_;
        }
        out_ += literal + "\"";
        pos_ = end;
    }

    std::string_view in_;
    std::string path_;
    std::size_t pos_ = 0;
    std::string out_;
    iconv_t cd_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: qj_gbk_literals INPUT OUTPUT\n");
        return 2;
    }
    std::ifstream input(argv[1], std::ios::binary);
    if (!input) {
        std::fprintf(stderr, "qj_gbk_literals: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::string source((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
    std::string result;
    try {
        result = Transcoder(source, argv[1]).Run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qj_gbk_literals: %s\n", e.what());
        return 1;
    }
    // Written only when it changed, so that what includes it is not rebuilt for nothing.
    std::ifstream old(argv[2], std::ios::binary);
    if (old && std::string((std::istreambuf_iterator<char>(old)), std::istreambuf_iterator<char>()) == result) {
        return 0;
    }
    old.close();
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(argv[2]).parent_path(), ignored);
    std::ofstream output(argv[2], std::ios::binary | std::ios::trunc);
    output << result;
    if (!output.flush()) {
        std::fprintf(stderr, "qj_gbk_literals: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
