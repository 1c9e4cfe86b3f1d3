#include "text/code_page.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

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

// Conversion tables of code page 936, read once from iconv's CP936 converter.
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

private:
    GbkTables() : double_(128 * 256, 0), encode_(65536, 0) {
        iconv_t cd = iconv_open("UTF-16LE", "CP936");
        auto decodeOne = [cd](const char* in, size_t len) -> char16_t {
            if (cd == reinterpret_cast<iconv_t>(-1)) {
                return 0;
            }
            char src[2] = {in[0], len > 1 ? in[1] : '\0'};
            char out[8];
            char* inp = src;
            char* outp = out;
            size_t inLeft = len;
            size_t outLeft = sizeof out;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1) || inLeft != 0 ||
                sizeof out - outLeft != 2) {
                return 0;
            }
            return static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                         (static_cast<unsigned char>(out[1]) << 8));
        };
        for (unsigned b = 0; b < 0x80; ++b) {
            single_[b] = static_cast<char16_t>(b);
        }
        for (unsigned b = 0x80; b < 0x100; ++b) {
            const char c = static_cast<char>(b);
            single_[b] = IsLead(static_cast<unsigned char>(b)) ? 0 : decodeOne(&c, 1);
            if (single_[b] != 0 && encode_[single_[b]] == 0) {
                encode_[single_[b]] = b;
            }
        }
        for (unsigned b = 1; b < 0x80; ++b) {
            encode_[b] = b;
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
                    encode_[u] = (lead << 8) | trail;
                }
            }
        }
        if (cd != reinterpret_cast<iconv_t>(-1)) {
            iconv_close(cd);
        }
        AddUserDefinedAreas();
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
                        encode_[u] = (lead << 8) | trail;
                    }
                }
            }
        }
    }

    std::array<char16_t, 256> single_{};
    std::vector<char16_t> double_;
    std::vector<unsigned> encode_;
};

// Converts with iconv; input it cannot convert is replaced by `replacement` (in the target
// encoding) and skipped by `skip` bytes, so conversion always covers the whole input.
std::string IconvAll(const char* to, const char* from, std::string_view in, std::string_view replacement, size_t skip) {
    std::string out;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return out;
    }
    std::vector<char> buffer(in.size() * 4 + 16);
    char* inp = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    while (inLeft > 0) {
        char* outp = buffer.data();
        size_t outLeft = buffer.size();
        const size_t rc = iconv(cd, &inp, &inLeft, &outp, &outLeft);
        out.append(buffer.data(), buffer.size() - outLeft);
        if (rc != static_cast<size_t>(-1)) {
            break;
        }
        if (errno == E2BIG) {
            continue;
        }
        // EILSEQ: invalid input, replaced unit by unit. EINVAL: an incomplete sequence at the end,
        // replaced as a whole.
        out.append(replacement);
        const size_t n = errno == EINVAL ? inLeft : std::min(skip, inLeft);
        inp += n;
        inLeft -= n;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
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

std::u16string Utf8ToUtf16(std::string_view utf8) {
    static const std::string kReplacementLe("\xFD\xFF", 2);
    return BytesToUtf16(IconvAll("UTF-16LE", "UTF-8", utf8, kReplacementLe, 1));
}

std::string Utf16ToUtf8(std::u16string_view units) {
    const Bytes le = Utf16ToBytes(units);
    return IconvAll("UTF-8", "UTF-16LE", le, "\xEF\xBF\xBD", 2);
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
        units = Utf8ToUtf16(text);
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
        return Utf16ToUtf8(text);
    }
    return {};
}

Text AnsiToUtf8(std::string_view text) {
    return Utf16ToUtf8(GbkToUtf16(UpToZero(text)));
}

Text Utf8ToAnsi(std::string_view text) {
    return Utf16ToGbk(Utf8ToUtf16(UpToZero(text)));
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
