#include "skin/library_mapper.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace qj {

namespace {

constexpr std::uint64_t kFourGiB = std::uint64_t{1} << 32;

// Page access by the section's executable, readable and writable flags.
constexpr PageAccess kAccessByFlags[2][2][2] = {
    {{PageAccess::kNoAccess, PageAccess::kWriteCopy}, {PageAccess::kReadOnly, PageAccess::kReadWrite}},
    {{PageAccess::kExecute, PageAccess::kExecuteWriteCopy}, {PageAccess::kExecuteRead, PageAccess::kExecuteReadWrite}},
};

PageProtection ProtectionFor(std::uint32_t characteristics) {
    const bool executable = (characteristics & pe::kMemExecute) != 0;
    const bool readable = (characteristics & pe::kMemRead) != 0;
    const bool writable = (characteristics & pe::kMemWrite) != 0;
    return {kAccessByFlags[executable][readable][writable], (characteristics & pe::kMemNotCached) != 0};
}

std::uint64_t AlignDown(std::uint64_t value, std::uint64_t alignment) {
    return value / alignment * alignment;
}
std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

std::uint32_t Low32(const void* address) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address));
}

MutableByteView ImageView(MappedLibrary& library) {
    return {library.imageBase, library.sizeOfImage};
}

void CopySections(MappedLibrary& library, const PeLayout& layout, const std::uint8_t* file) {
    MutableByteView image = ImageView(library);
    for (const SectionHeader& section : layout.sections) {
        std::uint8_t* destination = library.imageBase + section.virtualAddress;
        if (section.sizeOfRawData == 0) {
            if (layout.sectionAlignment != 0) {
                std::memset(destination, 0, layout.sectionAlignment);
            }
        } else {
            std::memcpy(destination, file + section.pointerToRawData, section.sizeOfRawData);
        }
        // The mapped header's address field of a 32-bit image carries where the section now lives
        // (a 64-bit address would not fit it).
        if (!layout.pe32Plus) {
            image.PutU32(std::uint64_t{section.headerOffset} + pe::kVirtualSizeField, Low32(destination));
        }
    }
}

// Adds `delta` to every absolute address the relocation table lists: 32-bit ones, and in a 64-bit
// image 64-bit ones. The walk ends at a block of address 0 or at the end of the table; a block
// that is shorter than its own header, runs past the table or points past the image fails the
// mapping.
bool ApplyRelocations(MappedLibrary& library, const PeLayout& layout, std::uint64_t delta) {
    if (delta == 0) {
        return true;
    }
    const DataDirectory& table = layout.directories[pe::kRelocationDirectory];
    if (table.size == 0) {
        // Without relocations an image built for one address cannot work at another.
        return (layout.fileCharacteristics & pe::kRelocationsStripped) == 0;
    }
    MutableByteView image = ImageView(library);
    const std::uint64_t end = std::uint64_t{table.virtualAddress} + table.size;
    for (std::uint64_t block = table.virtualAddress; block + 8 <= end;) {
        const std::uint32_t pageAddress = *image.U32(block);
        const std::uint32_t blockSize = *image.U32(block + 4);
        if (pageAddress == 0) {
            break;
        }
        if (blockSize < 8 || blockSize > end - block) {
            return false;
        }
        const std::uint64_t entries = (blockSize - 8) / 2;
        for (std::uint64_t i = 0; i < entries; ++i) {
            const std::uint16_t entry = *image.U16(block + 8 + 2 * i);
            const std::uint64_t target = std::uint64_t{pageAddress} + (entry & 0x0FFF);
            if (entry >> 12 == pe::kRelocationHighLow) {
                const std::optional<std::uint32_t> value = image.U32(target);
                if (!value || !image.PutU32(target, *value + static_cast<std::uint32_t>(delta))) {
                    return false;
                }
            } else if (entry >> 12 == pe::kRelocationDir64 && layout.pe32Plus) {
                const std::optional<std::uint64_t> value = image.U64(target);
                if (!value || !image.PutU64(target, *value + delta)) {
                    return false;
                }
            }
        }
        block += blockSize;
    }
    return true;
}

// Resolves one library's lookup table into its address table; the entries of a 64-bit image are
// 64 bits wide.
bool ResolveFunctions(MutableByteView& image, ModuleHost& modules, LibraryHandle handle, std::uint32_t lookupTable,
                      std::uint32_t addressTable, bool wide) {
    const std::uint64_t step = wide ? 8 : 4;
    const std::uint64_t byOrdinal = wide ? pe::kImportByOrdinal64 : pe::kImportByOrdinal;
    for (std::uint64_t i = 0;; i += step) {
        const std::uint64_t at = std::uint64_t{lookupTable} + i;
        std::optional<std::uint64_t> entry = image.U64(at);
        if (!wide) {
            const std::optional<std::uint32_t> narrow = image.U32(at);
            entry = narrow ? std::optional<std::uint64_t>(*narrow) : std::nullopt;
        }
        if (!entry) {
            return false;
        }
        if (*entry == 0) {
            return true;
        }
        std::uintptr_t function = 0;
        if (*entry & byOrdinal) {
            function = modules.FindFunctionByOrdinal(handle, static_cast<std::uint16_t>(*entry & 0xFFFF));
        } else {
            // A name entry is an image offset of 31 bits whatever the width.
            const std::optional<std::string_view> name = image.CString((*entry & 0x7FFFFFFF) + 2);
            if (!name) {
                return false;
            }
            function = modules.FindFunction(handle, *name);
        }
        if (function == 0) {
            return false;
        }
        // A 32-bit image's address table holds 32-bit addresses; one that does not fit would be wrong.
        const bool stored =
            wide ? image.PutU64(std::uint64_t{addressTable} + i, function)
                 : std::uint64_t{function} < kFourGiB &&
                       image.PutU32(std::uint64_t{addressTable} + i, static_cast<std::uint32_t>(function));
        if (!stored) {
            return false;
        }
    }
}

bool ResolveImports(MappedLibrary& library, const PeLayout& layout) {
    const DataDirectory& table = layout.directories[pe::kImportDirectory];
    if (table.size == 0) {
        return true;
    }
    MutableByteView image = ImageView(library);
    ModuleHost& modules = library.platform->modules;
    for (std::uint64_t descriptor = table.virtualAddress; image.Contains(descriptor, pe::kImportDescriptorSize);
         descriptor += pe::kImportDescriptorSize) {
        const std::uint32_t nameAddress = *image.U32(descriptor + 12);
        if (nameAddress == 0) {
            break;
        }
        const std::optional<std::string_view> name = image.CString(nameAddress);
        if (!name) {
            return false;
        }
        const LibraryHandle handle = modules.OpenLibrary(*name);
        if (handle == 0) {
            return false;
        }
        library.libraries.push_back(handle);
        library.libraryCount = static_cast<std::uint32_t>(library.libraries.size());
        const std::uint32_t originalFirstThunk = *image.U32(descriptor);
        const std::uint32_t firstThunk = *image.U32(descriptor + 16);
        const std::uint32_t lookupTable = originalFirstThunk != 0 ? originalFirstThunk : firstThunk;
        if (!ResolveFunctions(image, modules, handle, lookupTable, firstThunk, layout.pe32Plus)) {
            return false;
        }
    }
    return true;
}

// A stretch of the image that gets one protection: a section, or neighbouring sections that share
// a page (their flags are united, so none of them loses access it asked for).
struct ProtectionRun {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::uint32_t characteristics = 0;
    bool headersOnly = false;
};

bool ApplyProtection(MappedLibrary& library, const ProtectionRun& run, std::size_t page) {
    if (run.headersOnly) {
        return true;  // the headers keep the access they were committed with
    }
    const std::uint64_t first = AlignDown(run.start, page);
    const std::uint64_t last = AlignUp(run.end, page);
    AddressSpace& memory = library.platform->memory;
    bool readable = false;
    if (run.characteristics & pe::kMemDiscardable) {
        if (!memory.Decommit(library.imageBase + first, last - first)) {
            return false;
        }
    } else {
        const PageProtection protection = ProtectionFor(run.characteristics);
        if (!memory.Protect(library.imageBase + first, last - first, protection)) {
            return false;
        }
        readable = IsReadableAccess(protection.access);
    }
    for (std::uint64_t at = first; at < last; at += page) {
        library.readablePages[at / page] = readable;
    }
    return true;
}

// The size whose pages take a section's protection: its file data, or for a section without any,
// the size the optional header gives for its kind of data. Never beyond the image.
std::uint64_t ProtectedSize(const PeLayout& layout, const SectionHeader& section) {
    std::uint64_t size = section.sizeOfRawData;
    if (size == 0) {
        if (section.characteristics & pe::kContainsInitializedData) {
            size = layout.sizeOfInitializedData;
        } else if (section.characteristics & pe::kContainsUninitializedData) {
            size = layout.sizeOfUninitializedData;
        }
    }
    return std::min<std::uint64_t>(size, layout.sizeOfImage - section.virtualAddress);
}

bool ProtectSections(MappedLibrary& library, const PeLayout& layout) {
    const std::size_t page = library.platform->memory.PageSize();
    // The headers start as a run of their own, so a section sharing their page cannot take away
    // their access or discard them.
    ProtectionRun pending{0, layout.sizeOfHeaders, pe::kMemRead | pe::kMemWrite, true};
    for (const SectionHeader& section : layout.sections) {
        const std::uint64_t size = ProtectedSize(layout, section);
        if (size == 0) {
            continue;  // its protection stays as it is
        }
        const std::uint64_t start = section.virtualAddress;
        if (AlignDown(start, page) < AlignUp(pending.end, page)) {
            const std::uint32_t discardable = pending.characteristics & section.characteristics & pe::kMemDiscardable;
            pending.characteristics =
                ((pending.characteristics | section.characteristics) & ~pe::kMemDiscardable) | discardable;
            pending.end = std::max(pending.end, start + size);
            pending.headersOnly = false;
            continue;
        }
        if (!ApplyProtection(library, pending, page)) {
            return false;
        }
        pending = {start, start + size, section.characteristics, false};
    }
    return ApplyProtection(library, pending, page);
}

std::unique_ptr<MappedLibrary> Fail(std::unique_ptr<MappedLibrary> library) {
    UnmapLibrary(std::move(library));
    return nullptr;
}

}  // namespace

std::unique_ptr<MappedLibrary> MapLibraryImage(const std::uint8_t* image, std::size_t size, LoaderPlatform& platform) {
    const ByteView file(image, size);
    const std::optional<PeLayout> layout = ReadPeLayout(file);
    if (!layout) {
        return nullptr;
    }

    AddressSpace& memory = platform.memory;
    const std::size_t page = memory.PageSize();
    const std::size_t reservedSize = AlignUp(layout->sizeOfImage, page);
    std::uint8_t* base = layout->imageBase <= UINTPTR_MAX - reservedSize
                             ? memory.ReserveAt(static_cast<std::uintptr_t>(layout->imageBase), reservedSize)
                             : nullptr;
    if (base == nullptr) {
        base = memory.ReserveAnywhere(reservedSize);
    }
    if (base == nullptr) {
        return nullptr;
    }

    auto library = std::make_unique<MappedLibrary>();
    library->imageBase = base;
    library->headers = base + layout->ntHeadersOffset;
    library->platform = &platform;
    library->reservedSize = reservedSize;
    library->sizeOfImage = layout->sizeOfImage;
    library->exports = layout->directories[pe::kExportDirectory];
    library->readablePages.assign(reservedSize / page, true);

    // Every absolute address a 32-bit image holds is 32 bits wide, so it must live below 4 GiB.
    if ((!layout->pe32Plus && reinterpret_cast<std::uintptr_t>(base) + std::uint64_t{reservedSize} > kFourGiB) ||
        !memory.Commit(base, reservedSize)) {
        return Fail(std::move(library));
    }
    std::memcpy(base, image, layout->sizeOfHeaders);
    const std::uint64_t optionalHeader = std::uint64_t{layout->ntHeadersOffset} + pe::kOptionalHeaderOffset;
    std::uint64_t delta = 0;
    if (layout->pe32Plus) {
        ImageView(*library).PutU64(optionalHeader + pe::kImageBase64Field, reinterpret_cast<std::uintptr_t>(base));
        delta = reinterpret_cast<std::uintptr_t>(base) - layout->imageBase;
    } else {
        ImageView(*library).PutU32(optionalHeader + pe::kImageBaseField, Low32(base));
        delta = static_cast<std::uint32_t>(Low32(base) - static_cast<std::uint32_t>(layout->imageBase));
    }

    CopySections(*library, *layout, image);
    if (!ApplyRelocations(*library, *layout, delta) || !ResolveImports(*library, *layout) ||
        !ProtectSections(*library, *layout)) {
        return Fail(std::move(library));
    }

    if (layout->addressOfEntryPoint != 0) {
        library->entryPoint = layout->addressOfEntryPoint;
        const auto entry = reinterpret_cast<std::uintptr_t>(base + library->entryPoint);
        if (!platform.modules.CallEntryPoint(entry, reinterpret_cast<std::uintptr_t>(base), pe::kProcessAttach)) {
            return Fail(std::move(library));
        }
        library->attached = true;
    }
    return library;
}

namespace {

// Reads of the mapped image that also stay off pages that were discarded or made unreadable.
class ReadableImage {
public:
    explicit ReadableImage(const MappedLibrary& library)
        : library_(library),
          view_(library.imageBase, library.sizeOfImage),
          page_(library.platform->memory.PageSize()) {}

    std::optional<std::uint16_t> U16(std::uint64_t offset) const {
        return Readable(offset, 2) ? view_.U16(offset) : std::nullopt;
    }
    std::optional<std::uint32_t> U32(std::uint64_t offset) const {
        return Readable(offset, 4) ? view_.U32(offset) : std::nullopt;
    }
    // Whether the zero-terminated string at `offset` is exactly `wanted`.
    bool StringEquals(std::uint64_t offset, std::string_view wanted) const {
        if (!Readable(offset, wanted.size() + 1)) {
            return false;
        }
        return std::memcmp(view_.data() + offset, wanted.data(), wanted.size()) == 0 &&
               view_.data()[offset + wanted.size()] == 0;
    }

private:
    bool Readable(std::uint64_t offset, std::uint64_t length) const {
        if (!view_.Contains(offset, length)) {
            return false;
        }
        for (std::uint64_t page = offset / page_; page <= (offset + length - 1) / page_; ++page) {
            if (!library_.readablePages[page]) {
                return false;
            }
        }
        return true;
    }

    const MappedLibrary& library_;
    ByteView view_;
    std::size_t page_;
};

}  // namespace

std::optional<std::uintptr_t> FindExport(const MappedLibrary& library, std::string_view name) {
    const DataDirectory& directory = library.exports;
    if (directory.size == 0) {
        return std::nullopt;
    }
    const ReadableImage image(library);
    const std::uint64_t at = directory.virtualAddress;
    const std::optional<std::uint32_t> functionCount = image.U32(at + 20);
    const std::optional<std::uint32_t> nameCount = image.U32(at + 24);
    const std::optional<std::uint32_t> functions = image.U32(at + 28);
    const std::optional<std::uint32_t> names = image.U32(at + 32);
    const std::optional<std::uint32_t> ordinals = image.U32(at + 36);
    if (!functionCount || !nameCount || !functions || !names || !ordinals || *functionCount == 0 || *nameCount == 0) {
        return std::nullopt;
    }
    for (std::uint64_t i = 0; i < *nameCount; ++i) {
        const std::optional<std::uint32_t> nameAddress = image.U32(*names + 4 * i);
        if (!nameAddress) {
            return std::nullopt;
        }
        if (!image.StringEquals(*nameAddress, name)) {
            continue;
        }
        const std::optional<std::uint16_t> index = image.U16(*ordinals + 2 * i);
        if (!index || *index >= *functionCount) {
            return std::nullopt;
        }
        const std::optional<std::uint32_t> function = image.U32(*functions + 4 * std::uint64_t{*index});
        // An address inside the export table is a forwarder text, not code; one past the image is
        // nothing of this image's.
        if (!function || *function >= library.sizeOfImage ||
            (*function >= directory.virtualAddress && *function - directory.virtualAddress < directory.size)) {
            return std::nullopt;
        }
        return reinterpret_cast<std::uintptr_t>(library.imageBase + *function);
    }
    return std::nullopt;
}

void UnmapLibrary(std::unique_ptr<MappedLibrary> library) {
    if (!library) {
        return;
    }
    LoaderPlatform& platform = *library->platform;
    if (library->attached) {
        platform.modules.CallEntryPoint(reinterpret_cast<std::uintptr_t>(library->imageBase + library->entryPoint),
                                        reinterpret_cast<std::uintptr_t>(library->imageBase), pe::kProcessDetach);
        library->attached = false;
    }
    for (LibraryHandle handle : library->libraries) {
        platform.modules.CloseLibrary(handle);
    }
    library->libraries.clear();
    library->libraryCount = 0;
    platform.memory.Release(library->imageBase, library->reservedSize);
}

}  // namespace qj
