#include "text/code_page.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "text/code_page_system.h"
#include "text/gbk.h"

namespace qj {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsLead(unsigned char b) {
    return IsGbkLeadByte(b);
}
bool IsTrail(unsigned char b) {
    return IsGbkTrailByte(b);
}

// Conversion tables of code page 936, read once from the system's converter.
class GbkTables {
public:
    static const GbkTables& Get() {
        static const GbkTables tables;
        return tables;
    }

    char16_t Single(unsigned char b) const { return single_[b]; }
    char16_t Double(unsigned char lead, unsigned char trail) const {
        return double_[static_cast<size_t>(lead - 0x80) * 256 + trail];
    }
    // 0 when GBK lacks the character (U+0000 itself is handled by the caller).
    unsigned Encode(char16_t u) const { return encode_[u]; }
    // What a pair that forms one unit becomes on its way through UTF-16 and back: itself for most,
    // "?" when it cannot be decoded or encoded, another code when the code page has two for one
    // character. A code below 0x100 is one byte.
    unsigned RoundTripPair(unsigned char lead, unsigned char trail) const {
        return roundTripPair_[static_cast<size_t>(lead - 0x80) * 256 + trail];
    }
    // The same for a byte that is a unit of its own (ASCII, 0x80, 0xFF, a lone lead byte).
    unsigned RoundTripSingle(unsigned char b) const { return roundTripSingle_[b]; }
    // Nonzero for two bytes (the first plus the second times 256, as they lie in memory) that form
    // one unit which comes back unchanged.
    const unsigned char* KeptPairs() const { return keptPairs_.data(); }
    // The codes of the 64 characters that a three-byte UTF-8 sequence with these first two bytes
    // can stand for, indexed by the low six bits of its third byte; row (first & 0x0F) * 64 +
    // (second & 0x3F). Rows of overlong forms and surrogates hold zeros.
    const uint16_t* const* Utf8Rows() const { return utf8Rows_.data(); }

private:
    GbkTables() : double_(128 * 256, 0), encode_(65536, 0) {
        const auto decodeOne = [](const char* in, size_t len) { return SystemDecodeGbkUnit(in, len); };
        for (unsigned b = 0; b < 0x80; ++b) {
            single_[b] = static_cast<char16_t>(b);
        }
        for (unsigned b = 0x80; b < 0x100; ++b) {
            const char c = static_cast<char>(b);
            single_[b] = IsLead(static_cast<unsigned char>(b)) ? 0 : decodeOne(&c, 1);
            if (single_[b] != 0 && encode_[single_[b]] == 0) {
                encode_[single_[b]] = static_cast<uint16_t>(b);
            }
        }
        for (unsigned b = 1; b < 0x80; ++b) {
            encode_[b] = static_cast<uint16_t>(b);
        }
        for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
            for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
                if (!IsTrail(static_cast<unsigned char>(trail))) {
                    continue;
                }
                const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                const char16_t u = decodeOne(pair, 2);
                double_[(lead - 0x80) * 256 + trail] = u;
                if (u != 0 && encode_[u] == 0) {
                    encode_[u] = static_cast<uint16_t>((lead << 8) | trail);
                }
            }
        }
        AddUserDefinedAreas();
        AddPrivateSymbolCodes();
        const auto encodeOrQuestion = [this](char16_t u) -> unsigned {
            const unsigned code = u == 0 ? 0 : encode_[u];
            return (u != 0 && code == 0) ? '?' : code;
        };
        for (unsigned b = 0; b < 0x100; ++b) {
            const char16_t u = single_[b];
            roundTripSingle_[b] = static_cast<uint16_t>(encodeOrQuestion((u || b == 0) ? u : kReplacement));
        }
        utf8Rows_.resize(16 * 64);
        for (unsigned first = 0; first < 16; ++first) {
            for (unsigned second = 0; second < 64; ++second) {
                const unsigned base = first << 12 | second << 6;
                const bool refused = base < 0x800 || (base >= 0xD800 && base <= 0xDFFF);
                utf8Rows_[first * 64 + second] = refused ? kNoCodes.data() : encode_.data() + base;
            }
        }
        roundTripPair_.assign(128 * 256, '?');
        keptPairs_.assign(65536, 0);
        for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
            for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
                const char16_t u = double_[(lead - 0x80) * 256 + trail];
                const unsigned code = encodeOrQuestion(u ? u : kReplacement);
                roundTripPair_[(lead - 0x80) * 256 + trail] = static_cast<uint16_t>(code);
                keptPairs_[trail << 8 | lead] =
                    IsTrail(static_cast<unsigned char>(trail)) && code == (lead << 8 | trail);
            }
        }
    }

    // The user-defined areas of code page 936, which iconv's CP936 leaves out, map to the Private
    // Use Area from U+E000 on as on the original platform: AAA1-AFFE, then F8A1-FEFE (trail bytes
    // A1-FE), then A140-A7A0 (trail bytes 40-A0 without 7F), each row by row. The same order is what
    // GB18030 gives these codes.
    void AddUserDefinedAreas() {
        struct Area {
            unsigned firstLead, lastLead, firstTrail, lastTrail;
        };
        static constexpr Area kAreas[] = {{0xAA, 0xAF, 0xA1, 0xFE}, {0xF8, 0xFE, 0xA1, 0xFE}, {0xA1, 0xA7, 0x40, 0xA0}};
        unsigned next = 0xE000;
        for (const Area& area : kAreas) {
            for (unsigned lead = area.firstLead; lead <= area.lastLead; ++lead) {
                for (unsigned trail = area.firstTrail; trail <= area.lastTrail; ++trail) {
                    if (!IsTrail(static_cast<unsigned char>(trail))) {
                        continue;
                    }
                    const auto u = static_cast<char16_t>(next++);
                    char16_t& decoded = double_[(lead - 0x80) * 256 + trail];
                    if (decoded == 0 && encode_[u] == 0) {
                        decoded = u;
                        encode_[u] = static_cast<uint16_t>((lead << 8) | trail);
                    }
                }
            }
        }
    }

    // Codes of the symbol and compatibility rows that code page 936 as Windows has it maps to the
    // Private Use Area from U+E766 on (the characters GB18030 later gave real code points), and
    // iconv's CP936 leaves out: without them a keyword list written on Windows would lose these
    // characters here. Each run of codes takes the next code points in turn.
    void AddPrivateSymbolCodes() {
        struct Run {
            unsigned first, last;
        };
        static constexpr Run kRuns[] = {
            {0xA2AB, 0xA2B0}, {0xA2E3, 0xA2E4}, {0xA2EF, 0xA2F0}, {0xA2FD, 0xA2FE}, {0xA4F4, 0xA4FE},
            {0xA5F7, 0xA5FE}, {0xA6B9, 0xA6C0}, {0xA6D9, 0xA6DF}, {0xA6EC, 0xA6ED}, {0xA6F3, 0xA6F3},
            {0xA6F6, 0xA6FE}, {0xA7C2, 0xA7D0}, {0xA7F2, 0xA7FE}, {0xA896, 0xA8A0}, {0xA8BC, 0xA8BC},
            {0xA8BF, 0xA8BF}, {0xA8C1, 0xA8C4}, {0xA8EA, 0xA8FE}, {0xA958, 0xA958}, {0xA95B, 0xA95B},
            {0xA95D, 0xA95F}, {0xA989, 0xA995}, {0xA997, 0xA9A3}, {0xA9F0, 0xA9FE}, {0xD7FA, 0xD7FE},
            {0xFE50, 0xFE7E}, {0xFE80, 0xFEA0},
        };
        unsigned next = 0xE766;
        for (const Run& run : kRuns) {
            for (unsigned code = run.first; code <= run.last; ++code) {
                const auto u = static_cast<char16_t>(next++);
                char16_t& decoded = double_[((code >> 8) - 0x80) * 256 + (code & 0xFF)];
                if (decoded == 0 && encode_[u] == 0) {
                    decoded = u;
                    encode_[u] = static_cast<uint16_t>(code);
                }
            }
        }
    }

    std::array<char16_t, 256> single_{};
    std::vector<char16_t> double_;
    std::vector<uint16_t> encode_;
    std::array<uint16_t, 256> roundTripSingle_{};
    std::vector<uint16_t> roundTripPair_;
    std::vector<unsigned char> keptPairs_;
    static constexpr std::array<uint16_t, 64> kNoCodes{};
    std::vector<const uint16_t*> utf8Rows_;
};

char* WriteCode(char* o, unsigned code) {
    if (code >= 0x100) {
        *o++ = static_cast<char>(code >> 8);
    }
    *o++ = static_cast<char>(code & 0xFF);
    return o;
}

// UTF-8 of one UTF-16 unit that is no surrogate.
char* WriteUtf8(char* o, char16_t u) {
    if (u < 0x80) {
        *o++ = static_cast<char>(u);
    } else if (u < 0x800) {
        *o++ = static_cast<char>(0xC0 | (u >> 6));
        *o++ = static_cast<char>(0x80 | (u & 0x3F));
    } else {
        *o++ = static_cast<char>(0xE0 | (u >> 12));
        *o++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        *o++ = static_cast<char>(0x80 | (u & 0x3F));
    }
    return o;
}

// The length of the well-formed UTF-8 sequence at `i` and its code point; 0 when the bytes there
// are no such sequence (overlong, a surrogate, beyond U+10FFFF, cut short).
std::size_t Utf8Sequence(std::string_view s, std::size_t i, char32_t* code) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const auto continuation = [&](std::size_t k) { return i + k < s.size() && (at(k) & 0xC0) == 0x80; };
    const unsigned char b = at(0);
    if (b >= 0xC2 && b <= 0xDF && continuation(1)) {
        *code = ((b & 0x1Fu) << 6) | (at(1) & 0x3Fu);
        return 2;
    }
    if (b >= 0xE0 && b <= 0xEF && continuation(1) && continuation(2)) {
        *code = ((b & 0x0Fu) << 12) | ((at(1) & 0x3Fu) << 6) | (at(2) & 0x3Fu);
        return (*code >= 0x800 && (*code < 0xD800 || *code > 0xDFFF)) ? 3 : 0;
    }
    if (b >= 0xF0 && b <= 0xF4 && continuation(1) && continuation(2) && continuation(3)) {
        *code = ((b & 0x07u) << 18) | ((at(1) & 0x3Fu) << 12) | ((at(2) & 0x3Fu) << 6) | (at(3) & 0x3Fu);
        return (*code >= 0x10000 && *code <= 0x10FFFF) ? 4 : 0;
    }
    return 0;
}

std::u16string BytesToUtf16(std::string_view bytes) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return units;
}

Bytes Utf16ToBytes(std::u16string_view units) {
    Bytes bytes(units.size() * 2, '\0');
    for (size_t i = 0; i < units.size(); ++i) {
        bytes[2 * i] = static_cast<char>(units[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(units[i] >> 8);
    }
    return bytes;
}

std::string_view UpToZero(std::string_view text) {
    const size_t zero = text.find('\0');
    return zero == std::string_view::npos ? text : text.substr(0, zero);
}

std::u16string_view UpToZero(std::u16string_view units) {
    const size_t zero = units.find(u'\0');
    return zero == std::u16string_view::npos ? units : units.substr(0, zero);
}

bool IsGbkCodePage(int codePage) {
    return codePage == kCodePageAnsi || codePage == kCodePageGbk;
}

}  // namespace

std::u16string GbkToUtf16(std::string_view gbk) {
    const GbkTables& t = GbkTables::Get();
    std::u16string out;
    out.reserve(gbk.size());
    for (size_t i = 0; i < gbk.size();) {
        const auto b = static_cast<unsigned char>(gbk[i]);
        if (IsLead(b)) {
            if (i + 1 < gbk.size() && IsTrail(static_cast<unsigned char>(gbk[i + 1]))) {
                const char16_t u = t.Double(b, static_cast<unsigned char>(gbk[i + 1]));
                out.push_back(u ? u : kReplacement);
                i += 2;
            } else {
                out.push_back(kReplacement);  // lone lead byte: the byte behind it is read on its own
                i += 1;
            }
            continue;
        }
        const char16_t u = t.Single(b);
        out.push_back((u || b == 0) ? u : kReplacement);
        i += 1;
    }
    return out;
}

std::string Utf16ToGbk(std::u16string_view utf16) {
    const GbkTables& t = GbkTables::Get();
    std::string out;
    out.reserve(utf16.size() * 2);
    for (size_t i = 0; i < utf16.size(); ++i) {
        const char16_t u = utf16[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
            out.push_back('?');  // outside the BMP: GBK has none of these
            ++i;
            continue;
        }
        if (u == 0) {
            out.push_back('\0');
            continue;
        }
        const unsigned code = t.Encode(u);
        if (code == 0) {
            out.push_back('?');
        } else if (code < 0x100) {
            out.push_back(static_cast<char>(code));
        } else {
            out.push_back(static_cast<char>(code >> 8));
            out.push_back(static_cast<char>(code & 0xFF));
        }
    }
    return out;
}

Bytes TextToWide(std::string_view text, int codePage) {
    text = UpToZero(text);
    std::u16string units;
    if (IsGbkCodePage(codePage)) {
        units = GbkToUtf16(text);
    } else if (codePage == kCodePageUtf8) {
        units = SystemUtf8ToUtf16(text);
    }
    units.push_back(u'\0');
    return Utf16ToBytes(units);
}

Text WideToText(std::string_view wide, int codePage) {
    const std::u16string units = BytesToUtf16(wide);
    const std::u16string_view text = UpToZero(std::u16string_view(units));
    if (IsGbkCodePage(codePage)) {
        return Utf16ToGbk(text);
    }
    if (codePage == kCodePageUtf8) {
        return SystemUtf16ToUtf8(text);
    }
    return {};
}

// Both directions go unit by unit through the tables, without a UTF-16 copy of the text: every
// GBK unit decodes to one UTF-16 unit that is no surrogate, which UTF-8 writes as one sequence.
// The output is written through a pointer into room for the longest result, then cut to size.
Text AnsiToUtf8(std::string_view text) {
    text = UpToZero(text);
    const GbkTables& t = GbkTables::Get();
    Text out(text.size() * 3, '\0');  // at most three bytes for each byte (0x80, a lone lead byte)
    char* o = out.data();
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            *o++ = static_cast<char>(b);
            ++i;
            continue;
        }
        char16_t u = 0;
        if (IsLead(b) && i + 1 < text.size() && IsTrail(static_cast<unsigned char>(text[i + 1]))) {
            u = t.Double(b, static_cast<unsigned char>(text[i + 1]));
            i += 2;
        } else {
            u = IsLead(b) ? 0 : t.Single(b);
            i += 1;
        }
        o = WriteUtf8(o, u ? u : kReplacement);
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
}

// Well-formed UTF-8 goes straight to GBK; anything else takes the converter's way, whose rules for
// broken input (which bytes one replacement character stands for) stay the only ones.
Text Utf8ToAnsi(std::string_view text) {
    text = UpToZero(text);
    const GbkTables& t = GbkTables::Get();
    const uint16_t* const* const rows = t.Utf8Rows();
    Text out(text.size(), '\0');  // never longer: GBK takes at most two bytes where UTF-8 takes two
    char* o = out.data();
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const last = p + text.size();
    while (p < last) {
        if (*p < 0x80) {
            *o++ = static_cast<char>(*p++);
            continue;
        }
        // Runs of three-byte characters that GBK writes as pairs (Chinese text) in a tight loop.
        while (last - p >= 3) {
            const unsigned first = p[0];
            const unsigned second = p[1];
            const unsigned third = p[2];
            if (((first & 0xF0) | (second & 0xC0) << 8 | (third & 0xC0) << 16) != 0x8080E0u) {
                break;
            }
            const unsigned gbk = rows[(first & 0x0F) << 6 | (second & 0x3F)][third & 0x3F];
            if (gbk < 0x100) {
                break;
            }
            o[0] = static_cast<char>(gbk >> 8);
            o[1] = static_cast<char>(gbk & 0xFF);
            o += 2;
            p += 3;
        }
        if (p == last || *p < 0x80) {
            continue;
        }
        char32_t code = 0;
        const size_t length =
            Utf8Sequence(text, static_cast<size_t>(p - reinterpret_cast<const unsigned char*>(text.data())), &code);
        if (length == 0) {
            return Utf16ToGbk(SystemUtf8ToUtf16(text));
        }
        const unsigned gbk = code > 0xFFFF ? 0 : t.Encode(static_cast<char16_t>(code));
        o = WriteCode(o, gbk == 0 ? '?' : gbk);
        p += length;
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
}

std::size_t GbkKeptSpan(std::string_view gbk, char stop1, char stop2) {
    const unsigned char* const kept = GbkTables::Get().KeptPairs();
    const auto* const first = reinterpret_cast<const unsigned char*>(gbk.data());
    const auto* const last = first + gbk.size();
    const auto isPlain = [&](unsigned char b) {
        return b < 0x80 && b != static_cast<unsigned char>(stop1) && b != static_cast<unsigned char>(stop2);
    };
    const auto* p = first;
    // Kept pairs are looked up by their two bytes at once; only lead bytes start one, so an ASCII
    // byte is never taken for the start of a pair.
    while (last - p >= 2) {
        if (kept[p[0] | p[1] << 8]) {
            p += 2;
        } else if (isPlain(*p)) {
            ++p;
        } else {
            return static_cast<std::size_t>(p - first);
        }
    }
    if (p < last && isPlain(*p)) {
        ++p;
    }
    return static_cast<std::size_t>(p - first);
}

void AppendGbkRoundTrip(Text& out, std::string_view gbk) {
    // Nearly every unit comes back as itself: what comes before the first that does not (or a zero
    // byte) is copied in one piece.
    const size_t kept = GbkKeptSpan(gbk, '\0', '\0');
    out.append(gbk.data(), kept);
    if (kept == gbk.size()) {
        return;
    }
    const GbkTables& t = GbkTables::Get();
    const auto* p = reinterpret_cast<const unsigned char*>(gbk.data()) + kept;
    const auto* const last = reinterpret_cast<const unsigned char*>(gbk.data()) + gbk.size();
    const size_t before = out.size();
    out.resize(before + static_cast<size_t>(last - p) * 2);  // a byte may come back as a pair
    char* o = out.data() + before;
    while (p < last) {
        const unsigned char b = *p;
        if (b < 0x80) {
            *o++ = static_cast<char>(b);
            ++p;
        } else if (IsLead(b) && last - p >= 2 && IsTrail(p[1])) {
            o = WriteCode(o, t.RoundTripPair(b, p[1]));
            p += 2;
        } else {
            o = WriteCode(o, t.RoundTripSingle(b));
            ++p;
        }
    }
    out.resize(static_cast<size_t>(o - out.data()));
}

Text GbkRoundTrip(std::string_view gbk) {
    Text out;
    out.reserve(gbk.size());
    AppendGbkRoundTrip(out, gbk);
    return out;
}

Text UrlEncode(std::string_view text, bool keepSafe, bool utf8First) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    if (text.empty()) {
        return {};
    }
    const std::string converted = utf8First ? AnsiToUtf8(text) : std::string();
    const std::string_view bytes = utf8First ? std::string_view(converted) : text;
    Text out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        const bool safe =
            (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '-' || b == '.';
        if (keepSafe && safe) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 0x0F]);
        }
    }
    return out;
}

}  // namespace qj

namespace qj {

std::size_t GbkByteOffsetOfUnit(std::string_view gbk, std::size_t unit) {
    std::size_t i = 0;
    for (std::size_t k = 0; k < unit && i < gbk.size(); ++k) {
        const auto b = static_cast<unsigned char>(gbk[i]);
        i += (IsLead(b) && i + 1 < gbk.size() && IsTrail(static_cast<unsigned char>(gbk[i + 1]))) ? 2 : 1;
    }
    return i;
}

}  // namespace qj

namespace qj {

namespace {

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80 && c != 0; });
}

}  // namespace

std::string GbkToWire(std::string_view text) {
    return IsAscii(text) ? std::string(text) : AnsiToUtf8(text);
}

Text WireToGbk(std::string_view utf8) {
    return IsAscii(utf8) ? Text(utf8) : Utf8ToAnsi(utf8);
}

bool IsCleanUtf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead == 0) {
            return false;
        }
        std::size_t length = 0;
        unsigned minimum = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            minimum = 0x10000;
        } else {
            return false;
        }
        if (i + length > bytes.size()) {
            return false;
        }
        unsigned code = lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto trail = static_cast<unsigned char>(bytes[i + k]);
            if ((trail & 0xC0) != 0x80) {
                return false;
            }
            code = code << 6 | (trail & 0x3F);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

}  // namespace qj
