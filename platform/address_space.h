#pragma once

#include <cstddef>
#include <cstdint>

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

// The address space of this process. Every reservation is fenced by one inaccessible page on each
// side, so an access that runs off a mapped image faults at once instead of touching whatever lies
// next to it. Where the system has no counterpart of the no-cache modifier it is ignored.
AddressSpace& ProcessAddressSpace();

}  // namespace qj
