#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/address_space.h"

namespace qj {

// A handle of a library loaded on a mapped image's behalf; 0 is none.
using LibraryHandle = std::uintptr_t;

// Everything that touches code foreign to this program: loading the libraries a mapped image
// imports, looking up their functions, and calling into the image itself. Addresses are those of
// the image's own machine; 0 is none.
class ModuleHost {
public:
    virtual ~ModuleHost() = default;

    virtual LibraryHandle OpenLibrary(std::string_view name) = 0;
    virtual void CloseLibrary(LibraryHandle library) = 0;
    virtual std::uintptr_t FindFunction(LibraryHandle library, std::string_view name) = 0;
    virtual std::uintptr_t FindFunctionByOrdinal(LibraryHandle library, std::uint16_t ordinal) = 0;
    // Calls a library entry point (image base, reason, null); true when it returned non-zero.
    virtual bool CallEntryPoint(std::uintptr_t entryPoint, std::uintptr_t imageBase, std::uint32_t reason) = 0;
    // Calls an exported function with 32-bit stack arguments in order; returns its result.
    virtual std::uintptr_t CallFunction(std::uintptr_t function, std::span<const std::uintptr_t> arguments) = 0;
};

// What the library mapper stands on.
struct LoaderPlatform {
    AddressSpace& memory;
    ModuleHost& modules;
};

}  // namespace qj
