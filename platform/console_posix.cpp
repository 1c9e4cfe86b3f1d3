#include <cstdio>

#include "platform/console.h"

namespace qj {

namespace {

void WriteTo(std::FILE* stream, std::string_view utf8) {
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
    std::fflush(stream);
}

}  // namespace

void WriteStandardOutput(std::string_view utf8) {
    WriteTo(stdout, utf8);
}

void WriteStandardError(std::string_view utf8) {
    WriteTo(stderr, utf8);
}

}  // namespace qj
