#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "text/code_page_system.h"

namespace qj {

namespace {

// Converts with iconv; input it cannot convert is replaced by `replacement` (in the target
// encoding) and skipped by `skip` bytes, so conversion always covers the whole input.
std::string IconvAll(const char* to, const char* from, std::string_view in, std::string_view replacement,
                     std::size_t skip) {
    std::string out;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return out;
    }
    std::vector<char> buffer(in.size() * 4 + 16);
    char* inp = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    while (inLeft > 0) {
        char* outp = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t rc = iconv(cd, &inp, &inLeft, &outp, &outLeft);
        out.append(buffer.data(), buffer.size() - outLeft);
        if (rc != static_cast<std::size_t>(-1)) {
            break;
        }
        if (errno == E2BIG) {
            continue;
        }
        // EILSEQ: invalid input, replaced unit by unit. EINVAL: an incomplete sequence at the end,
        // replaced as a whole.
        out.append(replacement);
        const std::size_t n = errno == EINVAL ? inLeft : std::min(skip, inLeft);
        inp += n;
        inLeft -= n;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}

std::u16string LittleEndianUnits(std::string_view bytes) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return units;
}

}  // namespace

char16_t SystemDecodeGbkUnit(const char* bytes, std::size_t length) {
    // One converter for the whole table build, which asks some 24,000 times from one thread.
    static iconv_t cd = iconv_open("UTF-16LE", "CP936");
    if (cd == reinterpret_cast<iconv_t>(-1) || length == 0 || length > 2) {
        return 0;
    }
    char src[2] = {bytes[0], length > 1 ? bytes[1] : '\0'};
    char out[8];
    char* inp = src;
    char* outp = out;
    std::size_t inLeft = length;
    std::size_t outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0 ||
        sizeof out - outLeft != 2) {
        return 0;
    }
    return static_cast<char16_t>(static_cast<unsigned char>(out[0]) | (static_cast<unsigned char>(out[1]) << 8));
}

std::u16string SystemUtf8ToUtf16(std::string_view utf8) {
    static const std::string kReplacementLe("\xFD\xFF", 2);
    return LittleEndianUnits(IconvAll("UTF-16LE", "UTF-8", utf8, kReplacementLe, 1));
}

std::string SystemUtf16ToUtf8(std::u16string_view units) {
    std::string le(units.size() * 2, '\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        le[2 * i] = static_cast<char>(units[i] & 0xFF);
        le[2 * i + 1] = static_cast<char>(units[i] >> 8);
    }
    return IconvAll("UTF-8", "UTF-16LE", le, "\xEF\xBF\xBD", 2);
}

}  // namespace qj
