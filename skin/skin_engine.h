#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "skin/library_mapper.h"

namespace qj {

// What draws the windows of the process with a skin: the two calls the program makes of a skin
// engine.
class SkinEngine {
public:
    virtual ~SkinEngine() = default;
    // From now on every window of the process is drawn with this skin, colours unadjusted.
    virtual void AttachSkin(std::string_view skinData) = 0;
    // Shifts the skin's colours; hue -180..180 degrees, saturation and brightness -100..100.
    virtual void AdjustColours(int hue, int saturation, int brightness) = 0;
};

// Attaches `skinData` and then applies the colour adjustment, hue clamped to -180..180 and
// saturation to -100..100, brightness 0. Nothing is reported; an engine that cannot work does
// nothing.
void ApplySkin(SkinEngine& engine, std::string_view skinData, int hue = 0, int saturation = 0);

// The skin engine of this program: the skin is a style sheet (UTF-8 text), and colour adjustments
// shift every colour in it. The sheet is handed to `apply` (which sets it on the application) on
// every attach, and on an adjustment when the shifted sheet differs from the one applied last.
class StyleSheetSkinEngine final : public SkinEngine {
public:
    using ApplyFunction = std::function<void(const std::string& styleSheet)>;

    explicit StyleSheetSkinEngine(ApplyFunction apply);

    void AttachSkin(std::string_view skinData) override;
    void AdjustColours(int hue, int saturation, int brightness) override;

private:
    void Apply(std::string styleSheet);

    ApplyFunction apply_;
    std::string skin_;
    std::string applied_;
};

// A skin engine that is a DLL image held in memory: mapped with MapLibraryImage on first use (and
// on each later use until a mapping succeeds), its exports "SkinH_AttachRes" and "SkinH_AdjustHSV"
// called through the platform's module host. The engine stays mapped while this object lives.
class LibrarySkinEngine final : public SkinEngine {
public:
    LibrarySkinEngine(std::vector<std::uint8_t> engineImage, LoaderPlatform& platform);
    ~LibrarySkinEngine() override;
    LibrarySkinEngine(const LibrarySkinEngine&) = delete;
    LibrarySkinEngine& operator=(const LibrarySkinEngine&) = delete;

    void AttachSkin(std::string_view skinData) override;
    void AdjustColours(int hue, int saturation, int brightness) override;

    bool IsMapped() const { return library_ != nullptr; }

private:
    bool EnsureMapped();

    std::vector<std::uint8_t> image_;
    LoaderPlatform& platform_;
    std::unique_ptr<MappedLibrary> library_;
    std::string skin_;  // the engine keeps drawing with the attached skin: keep its bytes alive
};

}  // namespace qj
