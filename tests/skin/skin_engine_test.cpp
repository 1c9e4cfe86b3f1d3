#include "skin/skin_engine.h"

#include <gtest/gtest.h>

#include <cstring>

#include "pe_image_builder.h"
#include "skin/builtin_skin.h"
#include "skin/colour_shift.h"
#include "test_platform.h"

namespace qj {
namespace {

using test::MakeStandardImage;
using test::StandardImage;

TEST(StyleSheetSkinEngineTest, AttachesTheSkinThenAppliesTheClampedAdjustment) {
    std::vector<std::string> applied;
    StyleSheetSkinEngine engine([&](const std::string& sheet) { applied.push_back(sheet); });
    const std::string skin(BuiltInSkin());

    ApplySkin(engine, skin, 200, -150);
    ASSERT_EQ(applied.size(), 2u);
    EXPECT_EQ(applied[0], skin) << "attached with its colours unadjusted";
    EXPECT_EQ(applied[1], ShiftStyleSheetColours(skin, 180, -100, 0));
    EXPECT_NE(applied[1], skin);

    ApplySkin(engine, skin, -180, -100);
    EXPECT_EQ(applied.back(), applied[1]) << "the bounds themselves give the same sheet";
}

TEST(StyleSheetSkinEngineTest, WithoutAdjustmentTheSkinIsAppliedOnceAsItIs) {
    std::vector<std::string> applied;
    StyleSheetSkinEngine engine([&](const std::string& sheet) { applied.push_back(sheet); });
    ApplySkin(engine, BuiltInSkin());
    EXPECT_EQ(applied, std::vector<std::string>{std::string(BuiltInSkin())});

    // Attaching again starts from the unadjusted skin, whatever was adjusted before.
    engine.AdjustColours(40, 0, 0);
    ApplySkin(engine, "a { color: #ff0000; }");
    ASSERT_EQ(applied.size(), 3u);
    EXPECT_EQ(applied.back(), "a { color: #ff0000; }");
}

class LibrarySkinEngineTest : public ::testing::Test {
protected:
    void SetUp() override { test::AddStandardLibraries(modules); }

    test::RecordingAddressSpace memory{[](const std::string& what) { ADD_FAILURE() << what; }};
    test::TestModuleHost modules;
    LoaderPlatform platform{memory, modules};
};

TEST_F(LibrarySkinEngineTest, MapsTheEngineOnceAndCallsItsTwoFunctionsInOrder) {
    const std::vector<std::uint8_t> image = MakeStandardImage().builder.Build();
    const std::string skin = std::string(".SHE") + std::string(100, '\x7f');
    {
        LibrarySkinEngine engine(image, platform);
        ApplySkin(engine, skin, 200, -150);
        ASSERT_TRUE(engine.IsMapped());
        ASSERT_EQ(memory.reservations, 1);
        const auto base = reinterpret_cast<std::uintptr_t>(memory.live.begin()->first);

        ASSERT_EQ(modules.functionCalls.size(), 2u);
        const auto& attach = modules.functionCalls[0];
        EXPECT_EQ(attach.function, base + StandardImage::kAttachFunction);
        ASSERT_EQ(attach.arguments.size(), 6u);
        EXPECT_EQ(attach.arguments[1], skin.size());
        EXPECT_EQ(std::memcmp(reinterpret_cast<const void*>(attach.arguments[0]), skin.data(), skin.size()), 0);
        EXPECT_EQ(std::vector<std::uintptr_t>(attach.arguments.begin() + 2, attach.arguments.end()),
                  (std::vector<std::uintptr_t>{0, 0, 0, 0}))
            << "no password; hue, saturation and brightness 0";

        const auto& adjust = modules.functionCalls[1];
        EXPECT_EQ(adjust.function, base + StandardImage::kAdjustFunction);
        EXPECT_EQ(adjust.arguments, (std::vector<std::uintptr_t>{180, 0xFFFFFF9C, 0})) << "180, -100, 0";

        ApplySkin(engine, skin);
        EXPECT_EQ(memory.reservations, 1) << "mapped once, kept";
        ASSERT_EQ(modules.functionCalls.size(), 4u);
        EXPECT_EQ(modules.functionCalls[3].arguments, (std::vector<std::uintptr_t>{0, 0, 0}));
        EXPECT_EQ(modules.entryCalls.size(), 1u);
    }
    EXPECT_EQ(modules.entryCalls.size(), 2u) << "detached when the engine goes";
    EXPECT_TRUE(memory.live.empty());
}

TEST_F(LibrarySkinEngineTest, AnEngineThatCannotBeMappedDoesNothingAndIsTriedAgain) {
    modules.entryResult = false;
    LibrarySkinEngine engine(MakeStandardImage().builder.Build(), platform);
    ApplySkin(engine, "skin", 10, 10);
    EXPECT_FALSE(engine.IsMapped());
    EXPECT_TRUE(modules.functionCalls.empty());
    EXPECT_EQ(memory.reservations, 2) << "before the attach and again before the adjustment";
    EXPECT_TRUE(memory.live.empty());

    modules.entryResult = true;
    ApplySkin(engine, "skin");
    EXPECT_TRUE(engine.IsMapped());
    EXPECT_EQ(modules.functionCalls.size(), 2u);
}

TEST_F(LibrarySkinEngineTest, AMissingFunctionIsSkipped) {
    StandardImage standard = MakeStandardImage();
    standard.builder.PutString(standard.builder.GetU32(standard.builder.GetU32(StandardImage::kReadOnly + 32)),
                               "SkinH_AttachReZ");
    LibrarySkinEngine engine(standard.builder.Build(), platform);
    ApplySkin(engine, "skin", 5, 5);
    ASSERT_EQ(modules.functionCalls.size(), 1u);
    EXPECT_EQ(modules.functionCalls[0].arguments, (std::vector<std::uintptr_t>{5, 5, 0}));

    LibrarySkinEngine garbage(std::vector<std::uint8_t>(300, 'M'), platform);
    ApplySkin(garbage, "skin");
    EXPECT_EQ(modules.functionCalls.size(), 1u);
}

}  // namespace
}  // namespace qj
