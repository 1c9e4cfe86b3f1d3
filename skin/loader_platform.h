#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace qj {

// Page access a section asks for, one value per combination of its executable, readable and
// writable flags.
enum class PageAccess {
    kNoAccess,
    kWriteCopy,
    kReadOnly,
    kReadWrite,
    kExecute,
    kExecuteWriteCopy,
    kExecuteRead,
    kExecuteReadWrite,
};

struct PageProtection {
    PageAccess access = PageAccess::kNoAccess;
    bool noCache = false;  // the section is marked not cached

    bool operator==(const PageProtection&) const = default;
};

// Whether memory with this access may be read by the loader (write-copy pages are readable;
// execute-only pages are not, on every platform that can enforce it).
inline bool IsReadableAccess(PageAccess access) {
    return access != PageAccess::kNoAccess && access != PageAccess::kExecute;
}

// Address-space services of the platform. Addresses and sizes handed to Commit, Decommit, Protect
// and Release lie inside one range returned by ReserveAt or ReserveAnywhere; the implementation
// rounds them outwards to whole pages.
class AddressSpace {
public:
    virtual ~AddressSpace() = default;

    virtual std::size_t PageSize() const = 0;
    // Reserves `size` bytes starting exactly at `address`, inaccessible; nullptr when that range
    // is not free.
    virtual std::uint8_t* ReserveAt(std::uintptr_t address, std::size_t size) = 0;
    // Reserves `size` bytes wherever there is room, preferring addresses below 4 GiB; nullptr when
    // there is none.
    virtual std::uint8_t* ReserveAnywhere(std::size_t size) = 0;
    // Makes reserved memory readable and writable, filled with zeros.
    virtual bool Commit(std::uint8_t* address, std::size_t size) = 0;
    // Gives committed memory back to the system; the range stays reserved and inaccessible.
    virtual bool Decommit(std::uint8_t* address, std::size_t size) = 0;
    virtual bool Protect(std::uint8_t* address, std::size_t size, PageProtection protection) = 0;
    // Releases a whole range obtained from ReserveAt or ReserveAnywhere.
    virtual void Release(std::uint8_t* address, std::size_t size) = 0;
};

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
