#include "skin/library_mapper.h"

#include <gtest/gtest.h>

#include <cstring>

#include "pe_image_builder.h"
#include "test_platform.h"

namespace qj {
namespace {

using test::MakeStandardImage;
using test::PeImageBuilder;
using test::StandardImage;

class LibraryMapperTest : public ::testing::Test {
protected:
    void SetUp() override { test::AddStandardLibraries(modules); }

    std::unique_ptr<MappedLibrary> Map(const std::vector<std::uint8_t>& file) {
        return MapLibraryImage(file.data(), file.size(), platform);
    }

    static std::uint32_t Read32(const MappedLibrary& library, std::uint32_t address) {
        std::uint32_t value;
        std::memcpy(&value, library.imageBase + address, 4);
        return value;
    }

    static std::uint32_t Low32(const void* address) {
        return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address));
    }

    std::size_t Page() const { return memory.PageSize(); }

    test::RecordingAddressSpace memory{[](const std::string& what) { ADD_FAILURE() << what; }};
    test::TestModuleHost modules;
    LoaderPlatform platform{memory, modules};
};

TEST_F(LibraryMapperTest, MapsAtThePreferredBaseWithoutRelocating) {
    const StandardImage standard = MakeStandardImage();
    const std::vector<std::uint8_t> file = standard.builder.Build();
    ASSERT_TRUE(test::RangeIsFree(StandardImage::kBase - Page(), StandardImage::kSize + 2 * Page()));

    std::unique_ptr<MappedLibrary> library = Map(file);
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(library->imageBase), StandardImage::kBase);
    EXPECT_EQ(library->headers, library->imageBase + PeImageBuilder::kNtHeadersOffset);
    // The headers are copied; only the sections' address fields have changed.
    std::vector<std::uint8_t> expectedHeaders(file.begin(), file.begin() + 0x400);
    for (std::size_t i = 0; i < standard.builder.sections.size(); ++i) {
        test::PutFileU32(expectedHeaders, PeImageBuilder::SectionHeaderOffset(i) + 8,
                         StandardImage::kBase + standard.builder.sections[i].virtualAddress);
    }
    EXPECT_EQ(std::vector<std::uint8_t>(library->imageBase, library->imageBase + 0x400), expectedHeaders);
    for (std::size_t i = 0; i < std::size(StandardImage::kSlots); ++i) {
        EXPECT_EQ(Read32(*library, StandardImage::kSlots[i]), StandardImage::kBase + StandardImage::kSlotTargets[i]);
    }
    EXPECT_STREQ(reinterpret_cast<const char*>(library->imageBase + StandardImage::kData + 0x40), "data");
    EXPECT_EQ(Read32(*library, StandardImage::kUninitialized), 0u);
    EXPECT_EQ(Read32(*library, StandardImage::kUninitialized + 0xFFC), 0u);

    UnmapLibrary(std::move(library));
    EXPECT_TRUE(memory.live.empty());
    EXPECT_TRUE(test::RangeIsFree(StandardImage::kBase, StandardImage::kSize)) << "address space given back";
}

TEST_F(LibraryMapperTest, MapsElsewhereAndMovesEveryAbsoluteAddressByTheDelta) {
    const StandardImage standard = MakeStandardImage();
    const test::OccupiedRange taken(StandardImage::kBase, Page());
    ASSERT_TRUE(taken.held());

    std::unique_ptr<MappedLibrary> library = Map(standard.builder.Build());
    ASSERT_NE(library, nullptr);
    const std::uint32_t actual = Low32(library->imageBase);
    ASSERT_NE(actual, StandardImage::kBase);
    ASSERT_LE(reinterpret_cast<std::uintptr_t>(library->imageBase) + StandardImage::kSize, std::uint64_t{1} << 32);

    const std::uint32_t delta = actual - StandardImage::kBase;
    for (std::size_t i = 0; i < std::size(StandardImage::kSlots); ++i) {
        EXPECT_EQ(Read32(*library, StandardImage::kSlots[i]),
                  standard.builder.GetU32(StandardImage::kSlots[i]) + delta);
        EXPECT_EQ(Read32(*library, StandardImage::kSlots[i]), actual + StandardImage::kSlotTargets[i]);
    }
    EXPECT_EQ(Read32(*library, StandardImage::kPlainSlot), StandardImage::kPlainValue);
    EXPECT_EQ(Read32(*library, StandardImage::kOtherTypeSlot), StandardImage::kOtherTypeValue)
        << "only 32-bit absolute entries are applied";

    // The mapped headers tell where the image and each section now are.
    EXPECT_EQ(Read32(*library, PeImageBuilder::kOptionalHeaderOffset + 28), actual);
    for (std::size_t i = 0; i < standard.builder.sections.size(); ++i) {
        EXPECT_EQ(Read32(*library, PeImageBuilder::SectionHeaderOffset(i) + 8),
                  actual + standard.builder.sections[i].virtualAddress);
    }
    UnmapLibrary(std::move(library));
    EXPECT_TRUE(memory.live.empty());
}

TEST_F(LibraryMapperTest, NeverMapsIntoTheLowest64KiB) {
    for (std::uint32_t preferred : {0x0u, 0x1000u, 0x8000u}) {
        StandardImage standard = MakeStandardImage();
        standard.builder.imageBase = preferred;
        standard.builder.PutU32(StandardImage::kSlots[0], preferred + StandardImage::kSlotTargets[0]);
        std::unique_ptr<MappedLibrary> library = Map(standard.builder.Build());
        ASSERT_NE(library, nullptr) << preferred;
        EXPECT_GE(reinterpret_cast<std::uintptr_t>(library->imageBase), 0x10000u) << preferred;
        EXPECT_EQ(Read32(*library, StandardImage::kSlots[0]),
                  Low32(library->imageBase) + StandardImage::kSlotTargets[0]);
        UnmapLibrary(std::move(library));
    }
    EXPECT_TRUE(memory.live.empty());
}

TEST_F(LibraryMapperTest, ResolvesImportsThroughTheHostInLoadOrder) {
    const StandardImage standard = MakeStandardImage();
    std::unique_ptr<MappedLibrary> library = Map(standard.builder.Build());
    ASSERT_NE(library, nullptr);

    EXPECT_EQ(modules.opened, (std::vector<std::string>{"first.dll", "second.dll"}));
    EXPECT_EQ(library->libraries,
              (std::vector<LibraryHandle>{modules.HandleOf("first.dll"), modules.HandleOf("second.dll")}));
    EXPECT_EQ(library->libraryCount, 2u);
    const std::uint32_t first = standard.addressTables[0];
    const std::uint32_t second = standard.addressTables[1];
    EXPECT_EQ(Read32(*library, first), modules.AddressOf("first.dll", "FirstFunction"));
    EXPECT_EQ(Read32(*library, first + 4), modules.AddressOf("first.dll", 7)) << "by ordinal";
    EXPECT_EQ(Read32(*library, first + 8), 0u);
    EXPECT_EQ(Read32(*library, second), modules.AddressOf("second.dll", "SecondFunction"))
        << "an address table without lookup table serves as both";

    const std::vector<LibraryHandle> handles = library->libraries;
    UnmapLibrary(std::move(library));
    EXPECT_EQ(modules.closed, handles);
}

TEST_F(LibraryMapperTest, CallsTheEntryPointOnceToAttachAndOnceToDetach) {
    std::unique_ptr<MappedLibrary> library = Map(MakeStandardImage().builder.Build());
    ASSERT_NE(library, nullptr);
    const auto base = reinterpret_cast<std::uintptr_t>(library->imageBase);
    EXPECT_TRUE(library->attached);
    ASSERT_EQ(modules.entryCalls.size(), 1u);
    EXPECT_EQ(modules.entryCalls[0].entryPoint, base + StandardImage::kEntry);
    EXPECT_EQ(modules.entryCalls[0].imageBase, base);
    EXPECT_EQ(modules.entryCalls[0].reason, 1u);

    UnmapLibrary(std::move(library));
    ASSERT_EQ(modules.entryCalls.size(), 2u);
    EXPECT_EQ(modules.entryCalls[1].entryPoint, base + StandardImage::kEntry);
    EXPECT_EQ(modules.entryCalls[1].reason, 0u);
    EXPECT_TRUE(memory.live.empty());
}

TEST_F(LibraryMapperTest, AnEntryPointThatRefusesFailsTheMappingWithoutDetach) {
    modules.entryResult = false;
    EXPECT_EQ(Map(MakeStandardImage().builder.Build()), nullptr);
    EXPECT_EQ(modules.entryCalls.size(), 1u);
    EXPECT_EQ(modules.closed.size(), 2u) << "imported libraries closed again";
    EXPECT_EQ(memory.reservations, 1);
    EXPECT_TRUE(memory.live.empty());
}

TEST_F(LibraryMapperTest, AnImageWithoutEntryPointIsNeverCalled) {
    StandardImage standard = MakeStandardImage();
    standard.builder.entryPoint = 0;
    std::unique_ptr<MappedLibrary> library = Map(standard.builder.Build());
    ASSERT_NE(library, nullptr);
    EXPECT_FALSE(library->attached);
    UnmapLibrary(std::move(library));
    EXPECT_TRUE(modules.entryCalls.empty());
}

TEST_F(LibraryMapperTest, AnImportThatCannotBeResolvedFailsTheMappingAndUnmaps) {
    struct Case {
        const char* what;
        std::function<void(test::TestModuleHost&)> libraries;
        std::size_t closedAfter;
    };
    const Case cases[] = {
        {"second library missing", [](auto& host) { host.AddLibrary("first.dll", {"FirstFunction"}, {7}, 0x7A000000); },
         1},
        {"function by name missing",
         [](auto& host) {
             host.AddLibrary("first.dll", {"FirstFunctio"}, {7}, 0x7A000000);
             host.AddLibrary("second.dll", {"SecondFunction"}, {}, 0x7B000000);
         },
         1},
        {"function by ordinal missing",
         [](auto& host) {
             host.AddLibrary("first.dll", {"FirstFunction"}, {8}, 0x7A000000);
             host.AddLibrary("second.dll", {"SecondFunction"}, {}, 0x7B000000);
         },
         1},
        {"function beyond 32-bit addresses",
         [](auto& host) {
             host.AddLibrary("first.dll", {"FirstFunction"}, {7}, 0x7A000000);
             host.AddLibrary("second.dll", {"SecondFunction"}, {}, static_cast<std::uintptr_t>(-64));
         },
         2},
    };
    const std::vector<std::uint8_t> file = MakeStandardImage().builder.Build();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.closedAfter == 2 && sizeof(std::uintptr_t) <= 4) {
            continue;
        }
        test::RecordingAddressSpace space{[](const std::string& what) { ADD_FAILURE() << what; }};
        test::TestModuleHost host;
        c.libraries(host);
        LoaderPlatform own{space, host};
        EXPECT_EQ(MapLibraryImage(file.data(), file.size(), own), nullptr);
        EXPECT_EQ(host.closed.size(), c.closedAfter);
        EXPECT_TRUE(host.entryCalls.empty());
        EXPECT_EQ(space.reservations, 1);
        EXPECT_TRUE(space.live.empty());
    }
}

TEST_F(LibraryMapperTest, FindsExportsByTheirExactNameOnly) {
    std::unique_ptr<MappedLibrary> library = Map(MakeStandardImage().builder.Build());
    ASSERT_NE(library, nullptr);
    const auto base = reinterpret_cast<std::uintptr_t>(library->imageBase);
    EXPECT_EQ(FindExport(*library, "SkinH_AttachRes"), base + StandardImage::kAttachFunction);
    EXPECT_EQ(FindExport(*library, "SkinH_AdjustHSV"), base + StandardImage::kAdjustFunction);
    for (const char* name : {"SkinH_Attach", "SkinH_AttachResX", "skinh_attachres", "SkinH_", "", "Missing"}) {
        EXPECT_EQ(FindExport(*library, name), std::nullopt) << name;
    }
    EXPECT_EQ(FindExport(*library, std::string_view("SkinH_AttachRes\0X", 17)), std::nullopt);
    EXPECT_EQ(FindExport(*library, "Beyond"), std::nullopt) << "its index lies beyond the function table";
    UnmapLibrary(std::move(library));
}

TEST_F(LibraryMapperTest, SpoiltExportTablesGiveNone) {
    struct Case {
        const char* what;
        std::uint32_t field;  // in the export directory
        std::uint32_t value;
        const char* wanted = "SkinH_AdjustHSV";
    };
    const Case cases[] = {
        {"no functions", 20, 0},
        {"no names", 24, 0},
        {"name table past the image", 32, StandardImage::kSize - 2},
        {"ordinal table past the image", 36, 0xFFFFFFF0},
        {"function table past the image", 28, StandardImage::kSize},
        {"more names than the image holds", 24, 0x40000000, "Absent"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StandardImage standard = MakeStandardImage();
        standard.builder.PutU32(StandardImage::kReadOnly + c.field, c.value);
        std::unique_ptr<MappedLibrary> library = Map(standard.builder.Build());
        ASSERT_NE(library, nullptr);
        EXPECT_EQ(FindExport(*library, c.wanted), std::nullopt);
        UnmapLibrary(std::move(library));
    }

    StandardImage pointsAway = MakeStandardImage();
    pointsAway.builder.PutU32(StandardImage::kReadOnly + 40, StandardImage::kSize);             // first function
    pointsAway.builder.PutU32(StandardImage::kReadOnly + 44, StandardImage::kReadOnly + 0x10);  // into the table
    std::unique_ptr<MappedLibrary> library = Map(pointsAway.builder.Build());
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(FindExport(*library, "SkinH_AttachRes"), std::nullopt) << "function past the image";
    EXPECT_EQ(FindExport(*library, "SkinH_AdjustHSV"), std::nullopt) << "forwarder text, not code";
    UnmapLibrary(std::move(library));

    StandardImage none = MakeStandardImage();
    none.builder.SetDirectory(0, 0, 0);
    library = Map(none.builder.Build());
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(FindExport(*library, "SkinH_AttachRes"), std::nullopt) << "no export directory";
    UnmapLibrary(std::move(library));
}

TEST_F(LibraryMapperTest, ExportTablesOnDiscardedOrInaccessiblePagesAreNotRead) {
    for (std::uint32_t flags :
         {0x42000040u /* discardable */, 0x00000040u /* no access */, 0x20000040u /* execute */}) {
        SCOPED_TRACE(flags);
        StandardImage standard = MakeStandardImage();
        standard.builder.sections[4].characteristics = flags;
        test::WriteExports(standard.builder, StandardImage::kRelocations + 0x100, {StandardImage::kAttachFunction},
                           {{"SkinH_AttachRes", 0}});
        std::unique_ptr<MappedLibrary> library = Map(standard.builder.Build());
        ASSERT_NE(library, nullptr);
        EXPECT_EQ(FindExport(*library, "SkinH_AttachRes"), std::nullopt);
        UnmapLibrary(std::move(library));
    }
}

TEST_F(LibraryMapperTest, GivesEachSectionTheProtectionItsFlagsAskFor) {
    constexpr std::uint32_t kExecute = 0x20000000, kRead = 0x40000000, kWrite = 0x80000000;
    struct Expected {
        std::uint32_t flags;
        PageAccess access;
        const char* permissions;
    };
    const Expected table[] = {
        {0, PageAccess::kNoAccess, "---"},
        {kWrite, PageAccess::kWriteCopy, "rw-"},
        {kRead, PageAccess::kReadOnly, "r--"},
        {kRead | kWrite, PageAccess::kReadWrite, "rw-"},
        {kExecute, PageAccess::kExecute, "--x"},
        {kExecute | kWrite, PageAccess::kExecuteWriteCopy, "rwx"},
        {kExecute | kRead, PageAccess::kExecuteRead, "r-x"},
        {kExecute | kRead | kWrite, PageAccess::kExecuteReadWrite, "rwx"},
    };
    constexpr std::uint32_t kNotCached = 0x04000000, kDiscardable = 0x02000000;
    const std::uint32_t count = std::size(table);
    PeImageBuilder image(0x1000 * (count + 4));
    for (std::uint32_t i = 0; i < count; ++i) {
        image.sections.push_back({"s", 0x1000 * (i + 1), 0x200, 0x40 | table[i].flags});
    }
    const std::uint32_t notCached = 0x1000 * (count + 1);
    const std::uint32_t discarded = notCached + 0x1000;
    const std::uint32_t emptyData = discarded + 0x1000;
    image.sections.push_back({"nc", notCached, 0x200, 0x40 | kRead | kNotCached});
    image.sections.push_back({"disc", discarded, 0x200, 0x40 | kRead | kDiscardable});
    image.sections.push_back({"bss", emptyData, 0, 0x80 | kRead});  // its data size is 0

    std::unique_ptr<MappedLibrary> library = Map(image.Build());
    ASSERT_NE(library, nullptr);
    ASSERT_EQ(memory.protections.size(), count + 1);
    for (std::uint32_t i = 0; i < count; ++i) {
        SCOPED_TRACE(table[i].permissions);
        EXPECT_EQ(memory.protections[i].offset, 0x1000 * (i + 1));
        EXPECT_EQ(memory.protections[i].size, Page());
        EXPECT_EQ(memory.protections[i].protection, (PageProtection{table[i].access, false}));
        EXPECT_EQ(test::PagePermissions(library->imageBase + 0x1000 * (i + 1)), table[i].permissions);
    }
    EXPECT_EQ(memory.protections[count].offset, notCached);
    EXPECT_EQ(memory.protections[count].protection, (PageProtection{PageAccess::kReadOnly, true}));
    ASSERT_EQ(memory.decommits.size(), 1u);
    EXPECT_EQ(memory.decommits[0].offset, discarded);
    EXPECT_EQ(test::PagePermissions(library->imageBase + discarded), "---");
    EXPECT_EQ(test::PagePermissions(library->imageBase + emptyData), "rw-") << "left as committed";
    EXPECT_EQ(test::PagePermissions(library->imageBase), "rw-") << "headers";
    UnmapLibrary(std::move(library));
}

TEST_F(LibraryMapperTest, SectionsSharingAPageGetTheUnionOfTheirFlags) {
    if (Page() != 0x1000) {
        GTEST_SKIP() << "laid out for 4 KiB pages";
    }
    PeImageBuilder image(0x2000);
    image.sectionAlignment = 0x200;
    image.sections = {
        {".text", 0x400, 0x200, 0x60000020},    // execute, read
        {".data", 0x600, 0x200, 0xC0000040},    // read, write
        {".rdata", 0x1000, 0x200, 0x40000040},  // read, a page of its own
    };
    test::WriteExports(image, 0x1000, {0x400}, {{"Code", 0}});
    std::unique_ptr<MappedLibrary> library = Map(image.Build());
    ASSERT_NE(library, nullptr);
    ASSERT_EQ(memory.protections.size(), 2u);
    EXPECT_EQ(memory.protections[0].offset, 0u);
    EXPECT_EQ(memory.protections[0].protection.access, PageAccess::kExecuteReadWrite);
    EXPECT_EQ(memory.protections[1].offset, 0x1000u);
    EXPECT_EQ(memory.protections[1].protection.access, PageAccess::kReadOnly);
    EXPECT_EQ(test::PagePermissions(library->imageBase), "rwx");
    EXPECT_EQ(FindExport(*library, "Code"), reinterpret_cast<std::uintptr_t>(library->imageBase) + 0x400);
    UnmapLibrary(std::move(library));
}

TEST_F(LibraryMapperTest, AnUninitialisedSectionTakesItsSizeFromTheOptionalHeader) {
    StandardImage standard = MakeStandardImage();
    standard.builder.sizeOfUninitializedData = 0x100000;  // more than the image: cut at its end
    std::unique_ptr<MappedLibrary> library = Map(standard.builder.Build());
    ASSERT_NE(library, nullptr);
    bool found = false;
    for (const auto& call : memory.protections) {
        if (call.offset == StandardImage::kUninitialized) {
            found = true;
            EXPECT_EQ(call.size, StandardImage::kSize - StandardImage::kUninitialized);
            EXPECT_EQ(call.protection.access, PageAccess::kReadWrite);
        }
    }
    EXPECT_TRUE(found);
    UnmapLibrary(std::move(library));
}

}  // namespace
}  // namespace qj
