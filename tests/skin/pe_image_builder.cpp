#include "pe_image_builder.h"

#include <cstring>

namespace qj::test {

PeImageBuilder::PeImageBuilder(std::uint32_t size) : sizeOfImage(size), memory_(size, 0) {}

void PeImageBuilder::SetDirectory(int index, std::uint32_t address, std::uint32_t size) {
    directories[2 * index] = address;
    directories[2 * index + 1] = size;
}

void PeImageBuilder::PutU16(std::uint32_t address, std::uint16_t value) {
    memory_.at(address) = static_cast<std::uint8_t>(value);
    memory_.at(address + 1) = static_cast<std::uint8_t>(value >> 8);
}

void PeImageBuilder::PutU32(std::uint32_t address, std::uint32_t value) {
    PutU16(address, static_cast<std::uint16_t>(value));
    PutU16(address + 2, static_cast<std::uint16_t>(value >> 16));
}

void PeImageBuilder::PutString(std::uint32_t address, const std::string& text) {
    for (std::size_t i = 0; i <= text.size(); ++i) {
        memory_.at(address + i) = i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0;
    }
}

void PeImageBuilder::PutBytes(std::uint32_t address, const std::string& bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        memory_.at(address + i) = static_cast<std::uint8_t>(bytes[i]);
    }
}

std::uint32_t PeImageBuilder::GetU32(std::uint32_t address) const {
    return memory_.at(address) | memory_.at(address + 1) << 8 | memory_.at(address + 2) << 16 |
           static_cast<std::uint32_t>(memory_.at(address + 3)) << 24;
}

std::uint32_t PeImageBuilder::SectionFileOffset(std::size_t index) const {
    std::uint32_t offset = sizeOfHeaders;
    for (std::size_t i = 0; i < index; ++i) {
        offset += (sections[i].rawSize + kFileAlignment - 1) / kFileAlignment * kFileAlignment;
    }
    return offset;
}

void PutFileU16(std::vector<std::uint8_t>& file, std::uint32_t offset, std::uint16_t value) {
    file.at(offset) = static_cast<std::uint8_t>(value);
    file.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

void PutFileU32(std::vector<std::uint8_t>& file, std::uint32_t offset, std::uint32_t value) {
    PutFileU16(file, offset, static_cast<std::uint16_t>(value));
    PutFileU16(file, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

std::vector<std::uint8_t> PeImageBuilder::Build() const {
    std::vector<std::uint8_t> file(SectionFileOffset(sections.size()), 0);
    file.at(0) = 'M';
    file.at(1) = 'Z';
    PutFileU32(file, 60, kNtHeadersOffset);
    std::memcpy(&file.at(kNtHeadersOffset), "PE\0\0", 4);

    const std::uint32_t fileHeader = kNtHeadersOffset + 4;
    PutFileU16(file, fileHeader, 0x014C);  // i386
    PutFileU16(file, fileHeader + 2, static_cast<std::uint16_t>(sections.size()));
    PutFileU16(file, fileHeader + 16, 224);
    PutFileU16(file, fileHeader + 18, fileCharacteristics);

    const std::uint32_t optional = kOptionalHeaderOffset;
    PutFileU16(file, optional, 0x010B);
    PutFileU32(file, optional + 8, sizeOfInitializedData);
    PutFileU32(file, optional + 12, sizeOfUninitializedData);
    PutFileU32(file, optional + 16, entryPoint);
    PutFileU32(file, optional + 28, imageBase);
    PutFileU32(file, optional + 32, sectionAlignment);
    PutFileU32(file, optional + 36, kFileAlignment);
    PutFileU32(file, optional + 56, sizeOfImage);
    PutFileU32(file, optional + 60, sizeOfHeaders);
    PutFileU16(file, optional + 68, 2);  // GUI subsystem
    PutFileU32(file, optional + 92, 16);
    for (std::size_t i = 0; i < directories.size(); ++i) {
        PutFileU32(file, optional + 96 + 4 * i, directories[i]);
    }

    for (std::size_t i = 0; i < sections.size(); ++i) {
        const Section& section = sections[i];
        const std::uint32_t header = SectionHeaderOffset(i);
        std::memcpy(&file.at(header), section.name.data(), std::min<std::size_t>(section.name.size(), 8));
        PutFileU32(file, header + 8, section.rawSize != 0 ? section.rawSize : sectionAlignment);
        PutFileU32(file, header + 12, section.virtualAddress);
        PutFileU32(file, header + 16, section.rawSize);
        PutFileU32(file, header + 20, section.rawSize != 0 ? SectionFileOffset(i) : 0);
        PutFileU32(file, header + 36, section.characteristics);
        if (section.rawSize != 0) {
            std::memcpy(&file.at(SectionFileOffset(i)), &memory_.at(section.virtualAddress), section.rawSize);
        }
    }
    return file;
}

std::vector<std::uint32_t> WriteImports(PeImageBuilder& image, std::uint32_t address,
                                        const std::vector<ImportedLibrary>& libraries) {
    const std::uint32_t descriptorsSize = 20 * static_cast<std::uint32_t>(libraries.size() + 1);
    std::uint32_t next = address + descriptorsSize;
    std::vector<std::uint32_t> addressTables;
    for (std::size_t i = 0; i < libraries.size(); ++i) {
        const ImportedLibrary& library = libraries[i];
        const std::uint32_t descriptor = address + 20 * static_cast<std::uint32_t>(i);
        const std::uint32_t tableSize = 4 * static_cast<std::uint32_t>(library.functions.size() + 1);
        const std::uint32_t lookupTable = next;
        const std::uint32_t addressTable = library.withLookupTable ? lookupTable + tableSize : lookupTable;
        next = addressTable + tableSize;
        image.PutString(next, library.name);
        image.PutU32(descriptor + 12, next);
        next += static_cast<std::uint32_t>(library.name.size()) + 1;
        for (std::size_t f = 0; f < library.functions.size(); ++f) {
            const ImportedFunction& function = library.functions[f];
            std::uint32_t entry = 0x80000000u | function.ordinal;
            if (!function.name.empty()) {
                entry = next;
                image.PutU16(next, 0);  // hint
                image.PutString(next + 2, function.name);
                next += 2 + static_cast<std::uint32_t>(function.name.size()) + 1;
            }
            image.PutU32(lookupTable + 4 * static_cast<std::uint32_t>(f), entry);
            image.PutU32(addressTable + 4 * static_cast<std::uint32_t>(f), entry);
        }
        image.PutU32(descriptor, library.withLookupTable ? lookupTable : 0);
        image.PutU32(descriptor + 16, addressTable);
        addressTables.push_back(addressTable);
    }
    image.SetDirectory(1, address, descriptorsSize);
    return addressTables;
}

void WriteExports(PeImageBuilder& image, std::uint32_t address, const std::vector<std::uint32_t>& functions,
                  const std::vector<ExportedName>& names) {
    const std::uint32_t functionTable = address + 40;
    const std::uint32_t nameTable = functionTable + 4 * static_cast<std::uint32_t>(functions.size());
    const std::uint32_t ordinalTable = nameTable + 4 * static_cast<std::uint32_t>(names.size());
    std::uint32_t next = ordinalTable + 2 * static_cast<std::uint32_t>(names.size());
    image.PutU32(address + 16, 1);  // ordinal base
    image.PutU32(address + 20, static_cast<std::uint32_t>(functions.size()));
    image.PutU32(address + 24, static_cast<std::uint32_t>(names.size()));
    image.PutU32(address + 28, functionTable);
    image.PutU32(address + 32, nameTable);
    image.PutU32(address + 36, ordinalTable);
    for (std::size_t i = 0; i < functions.size(); ++i) {
        image.PutU32(functionTable + 4 * static_cast<std::uint32_t>(i), functions[i]);
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        image.PutU32(nameTable + 4 * static_cast<std::uint32_t>(i), next);
        image.PutU16(ordinalTable + 2 * static_cast<std::uint32_t>(i), names[i].index);
        image.PutString(next, names[i].name);
        next += static_cast<std::uint32_t>(names[i].name.size()) + 1;
    }
    image.SetDirectory(0, address, next - address);
}

void WriteRelocations(PeImageBuilder& image, std::uint32_t address, const std::vector<RelocationBlock>& blocks) {
    std::uint32_t next = address;
    for (const RelocationBlock& block : blocks) {
        const std::uint32_t size = 8 + 2 * static_cast<std::uint32_t>(block.entries.size());
        image.PutU32(next, block.page);
        image.PutU32(next + 4, size);
        for (std::size_t i = 0; i < block.entries.size(); ++i) {
            image.PutU16(next + 8 + 2 * static_cast<std::uint32_t>(i), block.entries[i]);
        }
        next += size;
    }
    image.SetDirectory(5, address, next - address);
}

StandardImage MakeStandardImage() {
    StandardImage standard;
    PeImageBuilder& image = standard.builder;
    using S = StandardImage;
    image.imageBase = S::kBase;
    image.entryPoint = S::kEntry;
    image.sizeOfInitializedData = 0x600;
    image.sizeOfUninitializedData = 0x1000;
    image.sections = {
        {".text", S::kCode, 0x200, 0x60000020},          // code, execute, read
        {".rdata", S::kReadOnly, 0x400, 0x40000040},     // initialised data, read
        {".data", S::kData, 0x200, 0xC0000040},          // initialised data, read, write
        {".bss", S::kUninitialized, 0, 0xC0000080},      // uninitialised data, read, write
        {".reloc", S::kRelocations, 0x200, 0x42000040},  // initialised data, read, discardable
    };

    image.PutU32(S::kCode, 0x00C3C3C3);  // stands for code; never run
    for (std::size_t i = 0; i < std::size(S::kSlots); ++i) {
        image.PutU32(S::kSlots[i], S::kBase + S::kSlotTargets[i]);
    }
    image.PutU32(S::kPlainSlot, S::kPlainValue);
    image.PutU32(S::kOtherTypeSlot, S::kOtherTypeValue);
    image.PutString(S::kData + 0x40, "data");

    WriteExports(image, S::kReadOnly, {S::kAttachFunction, S::kAdjustFunction, S::kUnnamedFunction},
                 {{"SkinH_AttachRes", 0}, {"SkinH_AdjustHSV", 1}, {"Beyond", 7}});
    standard.addressTables = WriteImports(
        image, S::kImports,
        {{"first.dll", {{"FirstFunction", 0}, {"", 7}}, true}, {"second.dll", {{"SecondFunction", 0}}, false}});
    WriteRelocations(image, S::kRelocations,
                     {{S::kCode, {HighLow(0x10), HighLow(0x14), 0x0000}},
                      {S::kData, {HighLow(0x00), static_cast<std::uint16_t>(0xA000 | 0x08)}}});
    return standard;
}

}  // namespace qj::test
