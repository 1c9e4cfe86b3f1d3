#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "skin/loader_platform.h"
#include "skin/pe_layout.h"

namespace qj {

// One library image mapped from memory.
struct MappedLibrary {
    std::uint8_t* headers = nullptr;       // the image's PE headers inside the mapped image
    std::uint8_t* imageBase = nullptr;     // the mapped image
    std::vector<LibraryHandle> libraries;  // libraries the image imports, in load order
    std::uint32_t libraryCount = 0;        // entries of `libraries`
    bool attached = false;                 // the entry point accepted the attach call

    // The loader's own bookkeeping.
    LoaderPlatform* platform = nullptr;
    std::size_t reservedSize = 0;  // the whole reserved range, whole pages
    std::uint32_t sizeOfImage = 0;
    std::uint32_t entryPoint = 0;     // relative to imageBase; 0 when the image has none
    DataDirectory exports;            // as the headers gave it when the image was mapped
    std::vector<bool> readablePages;  // one flag per page of the reserved range
};

// Maps a DLL image held in memory (`size` bytes at `image`, laid out as in its file; a 32-bit image,
// or a 64-bit one where the machine runs it) into fresh address space and runs its entry point with the attach reason.
// None when the image is malformed, does not fit, or one of its imports or its entry point fails; whatever was set up
// by then is undone. Nothing outside the `size` bytes at `image` and the reserved range is read or written on the way.
// `platform` must outlive the mapping.
std::unique_ptr<MappedLibrary> MapLibraryImage(const std::uint8_t* image, std::size_t size, LoaderPlatform& platform);

// The address of the function the image exports under exactly `name` (byte for byte), or none.
std::optional<std::uintptr_t> FindExport(const MappedLibrary& library, std::string_view name);

// Calls the entry point with the detach reason when it was attached, closes the imported libraries
// and releases the address space.
void UnmapLibrary(std::unique_ptr<MappedLibrary> library);

}  // namespace qj
