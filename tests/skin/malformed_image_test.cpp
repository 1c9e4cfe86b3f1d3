#include <gtest/gtest.h>

#include <functional>

#include "pe_image_builder.h"
#include "skin/library_mapper.h"
#include "test_platform.h"

namespace qj {
namespace {

using test::MakeStandardImage;
using test::PeImageBuilder;
using test::PutFileU16;
using test::PutFileU32;
using test::StandardImage;

constexpr std::uint32_t kFileHeader = PeImageBuilder::kNtHeadersOffset + 4;
constexpr std::uint32_t kOptional = PeImageBuilder::kOptionalHeaderOffset;

struct MalformedCase {
    const char* what;
    std::function<void(PeImageBuilder&)> spoilImage;            // before the file is built
    std::function<void(std::vector<std::uint8_t>&)> spoilFile;  // after
};

class MalformedImageTest : public ::testing::Test {
protected:
    void SetUp() override { test::AddStandardLibraries(modules); }

    // Maps the spoilt standard image; it must be refused, with everything it set up undone.
    void ExpectRefused(const MalformedCase& c) {
        SCOPED_TRACE(c.what);
        StandardImage standard = MakeStandardImage();
        if (c.spoilImage) {
            c.spoilImage(standard.builder);
        }
        std::vector<std::uint8_t> file = standard.builder.Build();
        if (c.spoilFile) {
            c.spoilFile(file);
        }
        // A copy of exactly the file's size, so that a read past its end is a read past the heap block.
        const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[file.size() + 1]);
        std::copy(file.begin(), file.end(), exact.get());
        const int reservationsBefore = memory.reservations;
        EXPECT_EQ(MapLibraryImage(exact.get(), file.size(), platform), nullptr);
        EXPECT_TRUE(memory.live.empty());
        EXPECT_EQ(modules.closed.size(), modules.opened.size() - CountMissing());
        EXPECT_TRUE(modules.entryCalls.empty());
        lastReserved = memory.reservations > reservationsBefore;
    }

    std::size_t CountMissing() const {
        std::size_t missing = 0;
        for (const std::string& name : modules.opened) {
            missing += name != "first.dll" && name != "second.dll";
        }
        return missing;
    }

    test::RecordingAddressSpace memory{[](const std::string& what) { ADD_FAILURE() << what; }};
    test::TestModuleHost modules;
    LoaderPlatform platform{memory, modules};
    bool lastReserved = false;
};

TEST_F(MalformedImageTest, HeadersThatDoNotHoldAreRefusedBeforeAnyReservation) {
    const std::size_t fileSize = MakeStandardImage().builder.Build().size();
    const MalformedCase cases[] = {
        {"empty", nullptr, [](auto& f) { f.clear(); }},
        {"one byte", nullptr, [](auto& f) { f.resize(1); }},
        {"not MZ", nullptr, [](auto& f) { f[0] = 'N'; }},
        {"DOS header only", nullptr, [](auto& f) { f.resize(64); }},
        {"DOS header cut before its new-header offset", nullptr, [](auto& f) { f.resize(62); }},
        {"new-header offset past the end", nullptr,
         [](auto& f) { PutFileU32(f, 60, static_cast<std::uint32_t>(f.size())); }},
        {"new-header offset on the last bytes", nullptr,
         [](auto& f) { PutFileU32(f, 60, static_cast<std::uint32_t>(f.size() - 2)); }},
        {"new-header offset near 4 GiB", nullptr, [](auto& f) { PutFileU32(f, 60, 0xFFFFFFFE); }},
        {"PE signature wrong", nullptr, [](auto& f) { f[PeImageBuilder::kNtHeadersOffset + 3] = 1; }},
        {"file header cut", nullptr, [](auto& f) { f.resize(kFileHeader + 10); }},
        {"optional header cut", nullptr, [](auto& f) { f.resize(kOptional + 100); }},
        {"64-bit optional header", nullptr, [](auto& f) { PutFileU16(f, kOptional, 0x020B); }},
        {"optional header too small", nullptr, [](auto& f) { PutFileU16(f, kFileHeader + 16, 64); }},
        {"optional header past the end", nullptr, [](auto& f) { PutFileU16(f, kFileHeader + 16, 0xFFFF); }},
        {"section table past the headers", nullptr, [](auto& f) { PutFileU16(f, kFileHeader + 2, 0xFFFF); }},
        {"SizeOfImage 0", nullptr, [](auto& f) { PutFileU32(f, kOptional + 56, 0); }},
        {"SizeOfImage absurd", nullptr, [](auto& f) { PutFileU32(f, kOptional + 56, 0xFFFFF000); }},
        {"SizeOfImage just beyond the limit", nullptr,
         [](auto& f) { PutFileU32(f, kOptional + 56, kMaxImageSize + 1); }},
        {"SizeOfImage below the sections", nullptr, [](auto& f) { PutFileU32(f, kOptional + 56, 0x5100); }},
        {"SizeOfHeaders past the end of the file", nullptr,
         [](auto& f) { PutFileU32(f, kOptional + 60, static_cast<std::uint32_t>(f.size() + 1)); }},
        {"SizeOfHeaders short of the section table", nullptr, [](auto& f) { PutFileU32(f, kOptional + 60, 0x180); }},
        {"entry point past the image", nullptr, [](auto& f) { PutFileU32(f, kOptional + 16, StandardImage::kSize); }},
        {"section data past the end of the file", nullptr,
         [fileSize](auto& f) {
             PutFileU32(f, PeImageBuilder::SectionHeaderOffset(4) + 20, static_cast<std::uint32_t>(fileSize - 0x100));
         }},
        {"section data offset near 4 GiB", nullptr,
         [](auto& f) { PutFileU32(f, PeImageBuilder::SectionHeaderOffset(1) + 20, 0xFFFFFF00); }},
        {"section data size near 4 GiB", nullptr,
         [](auto& f) { PutFileU32(f, PeImageBuilder::SectionHeaderOffset(1) + 16, 0xFFFFFF00); }},
        {"section running past the image", nullptr,
         [](auto& f) { PutFileU32(f, PeImageBuilder::SectionHeaderOffset(4) + 12, 0x5F00); }},
        {"section address near 4 GiB", nullptr,
         [](auto& f) { PutFileU32(f, PeImageBuilder::SectionHeaderOffset(4) + 12, 0xFFFFFF00); }},
        {"empty section whose alignment runs past the image", nullptr,
         [](auto& f) { PutFileU32(f, kOptional + 32, 0x3000); }},
        {"sections overlapping", nullptr,
         [](auto& f) { PutFileU32(f, PeImageBuilder::SectionHeaderOffset(2) + 12, StandardImage::kCode + 0x100); }},
        {"section over the headers", nullptr,
         [](auto& f) { PutFileU32(f, PeImageBuilder::SectionHeaderOffset(0) + 12, 0x200); }},
        {"relocation table past the image", [](auto& b) { b.SetDirectory(5, StandardImage::kRelocations, 0x1001); },
         nullptr},
        {"import table past the image", [](auto& b) { b.SetDirectory(1, 0x5FF0, 0x28); }, nullptr},
        {"export table past the image", [](auto& b) { b.SetDirectory(0, StandardImage::kReadOnly, 0xFFFFFFF0); },
         nullptr},
        {"one byte short", nullptr, [](auto& f) { f.pop_back(); }},
    };
    for (const MalformedCase& c : cases) {
        ExpectRefused(c);
        EXPECT_FALSE(lastReserved) << c.what;
    }
    EXPECT_EQ(memory.reserveAttempts, 0);
}

TEST_F(MalformedImageTest, EveryTruncationOfAGoodImageIsRefused) {
    const std::vector<std::uint8_t> file = MakeStandardImage().builder.Build();
    for (std::size_t length = 0; length < file.size(); ++length) {
        std::vector<std::uint8_t> cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
        ASSERT_EQ(MapLibraryImage(cut.data(), cut.size(), platform), nullptr) << length;
    }
    EXPECT_EQ(memory.reserveAttempts, 0);
    EXPECT_EQ(MapLibraryImage(nullptr, file.size(), platform), nullptr);
}

TEST_F(MalformedImageTest, BadRelocationBlocksFailAfterReservationAndUnmap) {
    const test::OccupiedRange taken(StandardImage::kBase, memory.PageSize());
    ASSERT_TRUE(taken.held()) << "the image must be moved for its relocations to be read";
    constexpr std::uint32_t kBlock = StandardImage::kRelocations;
    const MalformedCase cases[] = {
        {"block size 4", [](auto& b) { b.PutU32(kBlock + 4, 4); }, nullptr},
        {"block size 0", [](auto& b) { b.PutU32(kBlock + 4, 0); }, nullptr},
        {"block size 7", [](auto& b) { b.PutU32(kBlock + 4, 7); }, nullptr},
        {"block longer than its table", [](auto& b) { b.PutU32(kBlock + 4, 0x1000); }, nullptr},
        {"block address near 4 GiB", [](auto& b) { b.PutU32(kBlock, 0xFFFFF000); }, nullptr},
        {"entry past the image",
         [](auto& b) {
             b.PutU32(kBlock, StandardImage::kRelocations);
             b.PutU16(kBlock + 8, test::HighLow(0xFFE));
         },
         nullptr},
        {"relocations stripped",
         [](auto& b) {
             b.SetDirectory(5, 0, 0);
             b.fileCharacteristics |= 0x0001;
         },
         nullptr},
    };
    for (const MalformedCase& c : cases) {
        ExpectRefused(c);
        EXPECT_TRUE(lastReserved) << c.what;
    }
}

TEST_F(MalformedImageTest, BadImportTablesFailAfterReservationAndUnmap) {
    constexpr std::uint32_t kDescriptor = StandardImage::kImports;
    // The image ends right after the relocation section's data, so a table can run into its end.
    constexpr std::uint32_t kShortImage = StandardImage::kRelocations + 0x200;
    const MalformedCase cases[] = {
        {"library name past the image", [](auto& b) { b.PutU32(kDescriptor + 12, 0x7FFFFFF0); }, nullptr},
        {"library name running into the end of the image",
         [](auto& b) {
             b.sizeOfImage = kShortImage;
             b.PutBytes(kShortImage - 8, "xxxxxxxx");  // no terminator before the end
             b.PutU32(kDescriptor + 12, kShortImage - 8);
         },
         nullptr},
        {"lookup table past the image", [](auto& b) { b.PutU32(kDescriptor, 0xFFFFFFF0); }, nullptr},
        {"lookup table running into the end of the image",
         [](auto& b) {
             b.sizeOfImage = kShortImage;
             b.PutU32(kShortImage - 4, b.GetU32(b.GetU32(kDescriptor)));  // an entry, no terminator
             b.PutU32(kDescriptor, kShortImage - 4);
         },
         nullptr},
        {"address table past the image", [](auto& b) { b.PutU32(kDescriptor + 16, 0xFFFFFFF0); }, nullptr},
        {"function name past the image", [](auto& b) { b.PutU32(b.GetU32(kDescriptor), 0x7FFFFFF0); }, nullptr},
        {"unknown library", [](auto& b) { b.PutString(b.GetU32(kDescriptor + 12), "third.dll"); }, nullptr},
    };
    for (const MalformedCase& c : cases) {
        ExpectRefused(c);
        EXPECT_TRUE(lastReserved) << c.what;
    }
}

TEST_F(MalformedImageTest, ImportDescriptorsRunningToTheEndOfTheImageEndTheList) {
    // Without a terminating descriptor, the list ends where the image does.
    constexpr std::uint32_t kShortImage = StandardImage::kRelocations + 0x200;
    StandardImage standard = MakeStandardImage();
    standard.builder.sizeOfImage = kShortImage;
    const std::uint32_t last = kShortImage - 20;
    for (std::uint32_t field = 0; field < 20; field += 4) {
        standard.builder.PutU32(last + field, standard.builder.GetU32(StandardImage::kImports + 20 + field));
    }
    standard.builder.SetDirectory(1, last, 20);
    const std::vector<std::uint8_t> file = standard.builder.Build();
    std::unique_ptr<MappedLibrary> library = MapLibraryImage(file.data(), file.size(), platform);
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(modules.opened, std::vector<std::string>{"second.dll"});
    UnmapLibrary(std::move(library));
}

}  // namespace
}  // namespace qj
