#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qj::test {

// Builds small 32-bit PE DLL images in memory. Contents are written by their address in the mapped
// image; Build() lays the file out: headers (0x400 bytes), then each section's file data.
class PeImageBuilder {
public:
    struct Section {
        std::string name;
        std::uint32_t virtualAddress = 0;
        std::uint32_t rawSize = 0;  // bytes of the section that the file carries (0: none)
        std::uint32_t characteristics = 0;
    };

    static constexpr std::uint32_t kNtHeadersOffset = 0x80;
    static constexpr std::uint32_t kOptionalHeaderOffset = kNtHeadersOffset + 24;
    static constexpr std::uint32_t kSectionTableOffset = kOptionalHeaderOffset + 224;
    static constexpr std::uint32_t kFileAlignment = 0x200;

    explicit PeImageBuilder(std::uint32_t sizeOfImage);

    std::uint32_t imageBase = 0x10000000;
    std::uint32_t sectionAlignment = 0x1000;
    std::uint32_t sizeOfImage;
    std::uint32_t sizeOfHeaders = 0x400;
    std::uint32_t entryPoint = 0;
    std::uint32_t sizeOfInitializedData = 0;
    std::uint32_t sizeOfUninitializedData = 0;
    std::uint16_t fileCharacteristics = 0x2102;       // DLL, 32-bit machine, executable
    std::array<std::uint32_t, 2 * 16> directories{};  // address and size of each data directory
    std::vector<Section> sections;

    void SetDirectory(int index, std::uint32_t address, std::uint32_t size);
    void PutU16(std::uint32_t address, std::uint16_t value);
    void PutU32(std::uint32_t address, std::uint32_t value);
    void PutString(std::uint32_t address, const std::string& text);  // with its terminator
    void PutBytes(std::uint32_t address, const std::string& bytes);
    std::uint32_t GetU32(std::uint32_t address) const;

    std::vector<std::uint8_t> Build() const;

    // File offsets, for tests that spoil a built image.
    static std::uint32_t SectionHeaderOffset(std::size_t index) { return kSectionTableOffset + 40 * index; }
    std::uint32_t SectionFileOffset(std::size_t index) const;

private:
    std::vector<std::uint8_t> memory_;
};

void PutFileU16(std::vector<std::uint8_t>& file, std::uint32_t offset, std::uint16_t value);
void PutFileU32(std::vector<std::uint8_t>& file, std::uint32_t offset, std::uint32_t value);

struct ImportedFunction {
    std::string name;  // empty: imported by ordinal
    std::uint16_t ordinal = 0;
};

struct ImportedLibrary {
    std::string name;
    std::vector<ImportedFunction> functions;
    bool withLookupTable = true;  // false: the address table doubles as the lookup table
};

// Writes import descriptors at `address`, followed by the names and tables they point to, and sets
// the import directory. Returns the address of each library's address table.
std::vector<std::uint32_t> WriteImports(PeImageBuilder& image, std::uint32_t address,
                                        const std::vector<ImportedLibrary>& libraries);

struct ExportedName {
    std::string name;
    std::uint16_t index = 0;  // into the function table
};

// Writes an export directory at `address` with its tables and sets the export directory entry.
void WriteExports(PeImageBuilder& image, std::uint32_t address, const std::vector<std::uint32_t>& functions,
                  const std::vector<ExportedName>& names);

struct RelocationBlock {
    std::uint32_t page = 0;
    std::vector<std::uint16_t> entries;  // type << 12 | offset
};

// Writes relocation blocks at `address` and sets the relocation directory to cover exactly them.
void WriteRelocations(PeImageBuilder& image, std::uint32_t address, const std::vector<RelocationBlock>& blocks);

inline std::uint16_t HighLow(std::uint16_t offset) {
    return static_cast<std::uint16_t>(0x3000 | offset);
}

// A DLL with code, read-only data, data, uninitialised data and a discardable relocation section;
// two imported libraries (one function by name and one by ordinal from the first, one by name
// through the address table alone from the second), exports and an entry point.
struct StandardImage {
    static constexpr std::uint32_t kBase = 0x10000000;
    static constexpr std::uint32_t kCode = 0x1000;
    static constexpr std::uint32_t kReadOnly = 0x2000;
    static constexpr std::uint32_t kData = 0x3000;
    static constexpr std::uint32_t kUninitialized = 0x4000;
    static constexpr std::uint32_t kRelocations = 0x5000;
    static constexpr std::uint32_t kSize = 0x6000;

    static constexpr std::uint32_t kEntry = kCode;
    static constexpr std::uint32_t kAttachFunction = kCode + 0x20;
    static constexpr std::uint32_t kAdjustFunction = kCode + 0x30;
    static constexpr std::uint32_t kUnnamedFunction = kCode + 0x40;
    // Absolute addresses listed in the relocation table, and what they point to.
    static constexpr std::uint32_t kSlots[] = {kCode + 0x10, kCode + 0x14, kData};
    static constexpr std::uint32_t kSlotTargets[] = {kData, kAttachFunction, kEntry};
    // Values the relocation must leave alone: one not listed, one listed with a 64-bit type.
    static constexpr std::uint32_t kPlainSlot = kCode + 0x18;
    static constexpr std::uint32_t kPlainValue = 0x11223344;
    static constexpr std::uint32_t kOtherTypeSlot = kData + 0x08;
    static constexpr std::uint32_t kOtherTypeValue = 0x55667788;

    static constexpr std::uint32_t kImports = kReadOnly + 0x100;

    PeImageBuilder builder{kSize};
    std::vector<std::uint32_t> addressTables;  // of the two imported libraries
};

StandardImage MakeStandardImage();

}  // namespace qj::test
