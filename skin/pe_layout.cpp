#include "skin/pe_layout.h"

namespace qj {

namespace {

// Offsets inside the optional header.
constexpr std::uint32_t kSizeOfInitializedDataField = 8;
constexpr std::uint32_t kSizeOfUninitializedDataField = 12;
constexpr std::uint32_t kEntryPointField = 16;
constexpr std::uint32_t kSectionAlignmentField = 32;
constexpr std::uint32_t kSizeOfImageField = 56;
constexpr std::uint32_t kSizeOfHeadersField = 60;
constexpr std::uint32_t kNumberOfRvaAndSizesField = 92;
constexpr std::uint32_t kNumberOfRvaAndSizes64Field = 108;

bool InsideImage(std::uint64_t offset, std::uint64_t length, std::uint32_t sizeOfImage) {
    return offset <= sizeOfImage && length <= sizeOfImage - offset;
}

bool ReadSections(ByteView file, std::uint64_t tableOffset, std::uint16_t count, PeLayout& layout) {
    layout.sections.reserve(count);
    // Sections follow the headers and each other in ascending order without overlapping, so the
    // bytes written while mapping never exceed the image size.
    std::uint64_t mappedEnd = layout.sizeOfHeaders;
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::uint64_t at = tableOffset + std::uint64_t{i} * pe::kSectionHeaderSize;
        SectionHeader section;
        section.headerOffset = static_cast<std::uint32_t>(at);
        section.virtualAddress = *file.U32(at + 12);
        section.sizeOfRawData = *file.U32(at + 16);
        section.pointerToRawData = *file.U32(at + 20);
        section.characteristics = *file.U32(at + 36);
        if (section.virtualAddress < mappedEnd || section.virtualAddress >= layout.sizeOfImage) {
            return false;
        }
        const std::uint32_t extent = layout.MappedExtent(section);
        if (!InsideImage(section.virtualAddress, extent, layout.sizeOfImage)) {
            return false;
        }
        if (section.sizeOfRawData != 0 && !file.Contains(section.pointerToRawData, section.sizeOfRawData)) {
            return false;
        }
        mappedEnd = std::uint64_t{section.virtualAddress} + extent;
        layout.sections.push_back(section);
    }
    return true;
}

}  // namespace

std::optional<PeLayout> ReadPeLayout(ByteView file) {
    if (file.U16(0) != pe::kDosSignature) {
        return std::nullopt;
    }
    const std::optional<std::uint32_t> ntOffset = file.U32(pe::kNewHeaderOffsetField);
    if (!ntOffset || file.U32(*ntOffset) != pe::kNtSignature) {
        return std::nullopt;
    }
    PeLayout layout;
    layout.ntHeadersOffset = *ntOffset;

    const std::uint64_t fileHeader = std::uint64_t{*ntOffset} + pe::kFileHeaderOffset;
    const std::uint64_t optionalHeader = std::uint64_t{*ntOffset} + pe::kOptionalHeaderOffset;
    if (!file.Contains(fileHeader, 20)) {
        return std::nullopt;
    }
    const std::uint16_t sectionCount = *file.U16(fileHeader + 2);
    const std::uint16_t optionalHeaderSize = *file.U16(fileHeader + 16);
    layout.fileCharacteristics = *file.U16(fileHeader + 18);
    const std::optional<std::uint16_t> magic = file.U16(optionalHeader);
    // A 64-bit header counts only on a 64-bit machine's image, mapped by a 64-bit program.
    layout.pe32Plus =
        magic == pe::kPe32PlusMagic && *file.U16(fileHeader) == pe::kMachineAmd64 && sizeof(std::uintptr_t) == 8;
    const std::uint32_t directoriesField = layout.pe32Plus ? pe::kDataDirectories64Field : pe::kDataDirectoriesField;
    if (optionalHeaderSize < directoriesField || !file.Contains(optionalHeader, optionalHeaderSize) ||
        (magic != pe::kPe32Magic && !layout.pe32Plus)) {
        return std::nullopt;
    }
    layout.sizeOfInitializedData = *file.U32(optionalHeader + kSizeOfInitializedDataField);
    layout.sizeOfUninitializedData = *file.U32(optionalHeader + kSizeOfUninitializedDataField);
    layout.addressOfEntryPoint = *file.U32(optionalHeader + kEntryPointField);
    layout.imageBase = layout.pe32Plus ? *file.U64(optionalHeader + pe::kImageBase64Field)
                                       : *file.U32(optionalHeader + pe::kImageBaseField);
    layout.sectionAlignment = *file.U32(optionalHeader + kSectionAlignmentField);
    layout.sizeOfImage = *file.U32(optionalHeader + kSizeOfImageField);
    layout.sizeOfHeaders = *file.U32(optionalHeader + kSizeOfHeadersField);

    if (layout.sizeOfImage == 0 || layout.sizeOfImage > kMaxImageSize) {
        return std::nullopt;
    }
    const std::uint64_t sectionTable = optionalHeader + optionalHeaderSize;
    const std::uint64_t headersEnd = sectionTable + std::uint64_t{sectionCount} * pe::kSectionHeaderSize;
    if (headersEnd > layout.sizeOfHeaders || layout.sizeOfHeaders > file.size() ||
        layout.sizeOfHeaders > layout.sizeOfImage) {
        return std::nullopt;
    }
    if (layout.addressOfEntryPoint >= layout.sizeOfImage) {
        return std::nullopt;
    }

    // A directory exists only when the header both counts it and has room for it.
    const std::uint32_t directoryCount =
        *file.U32(optionalHeader + (layout.pe32Plus ? kNumberOfRvaAndSizes64Field : kNumberOfRvaAndSizesField));
    for (std::uint32_t i = 0; i < pe::kDirectoryCount && i < directoryCount; ++i) {
        const std::uint32_t field = directoriesField + 8 * i;
        if (field + 8 > optionalHeaderSize) {
            break;
        }
        layout.directories[i] = {*file.U32(optionalHeader + field), *file.U32(optionalHeader + field + 4)};
    }
    // The tables the loader walks must lie inside the mapped image (other directories may hold
    // file offsets and are none of the loader's business).
    for (int used : {pe::kExportDirectory, pe::kImportDirectory, pe::kRelocationDirectory}) {
        const DataDirectory& directory = layout.directories[used];
        if (directory.size != 0 && !InsideImage(directory.virtualAddress, directory.size, layout.sizeOfImage)) {
            return std::nullopt;
        }
    }

    if (!ReadSections(file, sectionTable, sectionCount, layout)) {
        return std::nullopt;
    }
    return layout;
}

}  // namespace qj
