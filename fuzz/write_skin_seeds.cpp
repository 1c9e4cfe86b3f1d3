// Writes well-formed images into the folder given as argument, as seeds for the mapper's fuzz run.
#include <cstdio>
#include <fstream>
#include <string>

#include "pe_image_builder.h"

namespace {

void Write(const std::string& folder, const char* name, const std::vector<std::uint8_t>& image) {
    std::ofstream out(folder + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: qj_fuzz_skin_seeds corpus-folder\n");
        return 2;
    }
    using qj::test::MakeStandardImage;
    using qj::test::StandardImage;
    const std::string folder = argv[1];

    Write(folder, "seed-standard", MakeStandardImage().builder.Build());

    StandardImage moved = MakeStandardImage();
    moved.builder.imageBase = 0;  // never free: always mapped elsewhere, so relocations are applied
    Write(folder, "seed-relocated", moved.builder.Build());

    StandardImage shared = MakeStandardImage();
    shared.builder.sectionAlignment = 0x200;
    shared.builder.entryPoint = 0;
    Write(folder, "seed-small-alignment", shared.builder.Build());

    qj::test::PeImageBuilder bare(0x2000);
    bare.sections = {{".text", 0x1000, 0x200, 0x60000020}};
    Write(folder, "seed-bare", bare.Build());
    return 0;
}
