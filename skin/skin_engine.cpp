#include "skin/skin_engine.h"

#include <optional>

#include "skin/colour_shift.h"

namespace qj {

void ApplySkin(SkinEngine& engine, std::string_view skinData, int hue, int saturation) {
    engine.AttachSkin(skinData);
    engine.AdjustColours(ClampHue(hue), ClampSaturation(saturation), 0);
}

StyleSheetSkinEngine::StyleSheetSkinEngine(ApplyFunction apply) : apply_(std::move(apply)) {}

void StyleSheetSkinEngine::AttachSkin(std::string_view skinData) {
    skin_ = std::string(skinData);
    Apply(skin_);
}

void StyleSheetSkinEngine::AdjustColours(int hue, int saturation, int brightness) {
    std::string adjusted = ShiftStyleSheetColours(skin_, hue, saturation, brightness);
    if (adjusted != applied_) {
        Apply(std::move(adjusted));
    }
}

void StyleSheetSkinEngine::Apply(std::string styleSheet) {
    applied_ = std::move(styleSheet);
    if (apply_) {
        apply_(applied_);
    }
}

namespace {

// 32-bit stack argument of a signed value, as the engine's functions take it.
std::uintptr_t SignedArgument(int value) {
    return static_cast<std::uint32_t>(value);
}

}  // namespace

LibrarySkinEngine::LibrarySkinEngine(std::vector<std::uint8_t> engineImage, LoaderPlatform& platform)
    : image_(std::move(engineImage)), platform_(platform) {}

LibrarySkinEngine::~LibrarySkinEngine() {
    UnmapLibrary(std::move(library_));
}

bool LibrarySkinEngine::EnsureMapped() {
    if (!library_) {
        library_ = MapLibraryImage(image_.data(), image_.size(), platform_);
    }
    return library_ != nullptr;
}

void LibrarySkinEngine::AttachSkin(std::string_view skinData) {
    if (!EnsureMapped()) {
        return;
    }
    const std::optional<std::uintptr_t> attach = FindExport(*library_, "SkinH_AttachRes");
    if (!attach) {
        return;
    }
    skin_ = std::string(skinData);
    // Skin data, its size, no password, hue, saturation and brightness 0.
    const std::uintptr_t arguments[] = {reinterpret_cast<std::uintptr_t>(skin_.data()), skin_.size(), 0, 0, 0, 0};
    platform_.modules.CallFunction(*attach, arguments);
}

void LibrarySkinEngine::AdjustColours(int hue, int saturation, int brightness) {
    if (!EnsureMapped()) {
        return;
    }
    const std::optional<std::uintptr_t> adjust = FindExport(*library_, "SkinH_AdjustHSV");
    if (!adjust) {
        return;
    }
    const std::uintptr_t arguments[] = {SignedArgument(hue), SignedArgument(saturation), SignedArgument(brightness)};
    platform_.modules.CallFunction(*adjust, arguments);
}

}  // namespace qj
