#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "skin/byte_view.h"

namespace qj {

// Field offsets and flags of a PE image: 32-bit (PE32) and, where they differ, 64-bit (PE32+).
namespace pe {
inline constexpr std::uint16_t kDosSignature = 0x5A4D;     // "MZ"
inline constexpr std::uint32_t kNtSignature = 0x00004550;  // "PE\0\0"
inline constexpr std::uint16_t kPe32Magic = 0x010B;
inline constexpr std::uint16_t kPe32PlusMagic = 0x020B;
inline constexpr std::uint16_t kMachineAmd64 = 0x8664;         // the one 64-bit machine the loader takes
inline constexpr std::uint32_t kNewHeaderOffsetField = 60;     // e_lfanew
inline constexpr std::uint32_t kFileHeaderOffset = 4;          // from the "PE" signature
inline constexpr std::uint32_t kOptionalHeaderOffset = 24;     // from the "PE" signature
inline constexpr std::uint32_t kImageBaseField = 28;           // in the optional header
inline constexpr std::uint32_t kDataDirectoriesField = 96;     // in the optional header
inline constexpr std::uint32_t kImageBase64Field = 24;         // PE32+: 8 bytes, in the optional header
inline constexpr std::uint32_t kDataDirectories64Field = 112;  // PE32+
inline constexpr std::uint32_t kSectionHeaderSize = 40;
inline constexpr std::uint32_t kVirtualSizeField = 8;  // in a section header (Misc)
inline constexpr std::uint32_t kImportDescriptorSize = 20;
inline constexpr std::uint32_t kExportDirectorySize = 40;

inline constexpr std::uint16_t kRelocationsStripped = 0x0001;  // file header characteristics

inline constexpr std::uint32_t kContainsInitializedData = 0x00000040;
inline constexpr std::uint32_t kContainsUninitializedData = 0x00000080;
inline constexpr std::uint32_t kMemDiscardable = 0x02000000;
inline constexpr std::uint32_t kMemNotCached = 0x04000000;
inline constexpr std::uint32_t kMemExecute = 0x20000000;
inline constexpr std::uint32_t kMemRead = 0x40000000;
inline constexpr std::uint32_t kMemWrite = 0x80000000;

inline constexpr int kExportDirectory = 0;
inline constexpr int kImportDirectory = 1;
inline constexpr int kRelocationDirectory = 5;
inline constexpr int kDirectoryCount = 16;

inline constexpr std::uint16_t kRelocationHighLow = 3;  // 32-bit absolute address
inline constexpr std::uint16_t kRelocationDir64 = 10;   // PE32+: 64-bit absolute address
inline constexpr std::uint32_t kImportByOrdinal = 0x80000000;
inline constexpr std::uint64_t kImportByOrdinal64 = std::uint64_t{1} << 63;  // PE32+

inline constexpr std::uint32_t kProcessDetach = 0;
inline constexpr std::uint32_t kProcessAttach = 1;
}  // namespace pe

// The loader refuses images that claim more address space than this: far above any library it is
// meant for, and small enough that a forged header cannot make it reserve absurd amounts.
inline constexpr std::uint32_t kMaxImageSize = 64u << 20;

struct DataDirectory {
    std::uint32_t virtualAddress = 0;
    std::uint32_t size = 0;
};

struct SectionHeader {
    std::uint32_t headerOffset = 0;  // of the header itself, in the file
    std::uint32_t virtualAddress = 0;
    std::uint32_t sizeOfRawData = 0;
    std::uint32_t pointerToRawData = 0;
    std::uint32_t characteristics = 0;
};

// The headers of a file image, read and checked before any memory is reserved for it.
struct PeLayout {
    std::uint32_t ntHeadersOffset = 0;  // e_lfanew
    std::uint16_t fileCharacteristics = 0;
    bool pe32Plus = false;  // a 64-bit image: 64-bit image base, addresses and import thunks
    std::uint64_t imageBase = 0;
    std::uint32_t sectionAlignment = 0;
    std::uint32_t sizeOfImage = 0;
    std::uint32_t sizeOfHeaders = 0;
    std::uint32_t sizeOfInitializedData = 0;
    std::uint32_t sizeOfUninitializedData = 0;
    std::uint32_t addressOfEntryPoint = 0;
    std::array<DataDirectory, pe::kDirectoryCount> directories{};  // absent ones are empty
    std::vector<SectionHeader> sections;

    // Bytes a section occupies in the mapped image when its data is copied (or zero-filled).
    std::uint32_t MappedExtent(const SectionHeader& section) const {
        return section.sizeOfRawData != 0 ? section.sizeOfRawData : sectionAlignment;
    }
};

// Reads the headers of a file image and checks that every structure the loader copies from the
// file, and every range it writes into the mapped image, lies inside its bounds. None when the
// image is not a 32-bit PE image the loader can map.
std::optional<PeLayout> ReadPeLayout(ByteView file);

}  // namespace qj
