#include <windows.h>

#include "platform/address_space.h"

namespace qj {

namespace {

// Not yet available on Windows: every reservation is refused, so the image mapper reports that it
// cannot map a library instead of working on memory it does not have.
class UnavailableAddressSpace final : public AddressSpace {
public:
    std::size_t PageSize() const override {
        SYSTEM_INFO info{};
        GetSystemInfo(&info);
        return info.dwPageSize;
    }
    std::uint8_t* ReserveAt(std::uintptr_t, std::size_t) override { return nullptr; }
    std::uint8_t* ReserveAnywhere(std::size_t) override { return nullptr; }
    bool Commit(std::uint8_t*, std::size_t) override { return false; }
    bool Decommit(std::uint8_t*, std::size_t) override { return false; }
    bool Protect(std::uint8_t*, std::size_t, PageProtection) override { return false; }
    void Release(std::uint8_t*, std::size_t) override {}
};

}  // namespace

AddressSpace& ProcessAddressSpace() {
    static UnavailableAddressSpace space;
    return space;
}

}  // namespace qj
