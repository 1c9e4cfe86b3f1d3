#pragma once

#include "skin/loader_platform.h"

namespace qj {

// The address space of this process through mmap and mprotect. Every reservation is fenced by one
// inaccessible page on each side, so an access that runs off a mapped image faults at once instead
// of touching whatever lies next to it. The no-cache modifier has no counterpart here and is ignored.
class PosixAddressSpace final : public AddressSpace {
public:
    std::size_t PageSize() const override;
    std::uint8_t* ReserveAt(std::uintptr_t address, std::size_t size) override;
    std::uint8_t* ReserveAnywhere(std::size_t size) override;
    bool Commit(std::uint8_t* address, std::size_t size) override;
    bool Decommit(std::uint8_t* address, std::size_t size) override;
    bool Protect(std::uint8_t* address, std::size_t size, PageProtection protection) override;
    void Release(std::uint8_t* address, std::size_t size) override;
};

}  // namespace qj
