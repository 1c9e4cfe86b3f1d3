#include "platform/address_space.h"

#include <windows.h>

namespace qj {

namespace {

// Nothing is placed in the lowest 64 KiB, so that a null or near-null pointer never points into an
// image (Windows keeps that range free anyway).
constexpr std::uintptr_t kLowestReservation = 0x10000;

DWORD WindowsProtection(PageProtection protection) {
    DWORD flags = PAGE_NOACCESS;
    switch (protection.access) {
        case PageAccess::kNoAccess:
            return PAGE_NOACCESS;  // takes no modifier
        // Write-copy is for mapped files; the image is private memory, where every write is a
        // copy already, and VirtualProtect refuses the write-copy values on it.
        case PageAccess::kWriteCopy:
        case PageAccess::kReadWrite:
            flags = PAGE_READWRITE;
            break;
        case PageAccess::kReadOnly:
            flags = PAGE_READONLY;
            break;
        case PageAccess::kExecute:
            flags = PAGE_EXECUTE;
            break;
        case PageAccess::kExecuteWriteCopy:
        case PageAccess::kExecuteReadWrite:
            flags = PAGE_EXECUTE_READWRITE;
            break;
        case PageAccess::kExecuteRead:
            flags = PAGE_EXECUTE_READ;
            break;
    }
    return protection.noCache ? flags | PAGE_NOCACHE : flags;
}

struct PageRange {
    std::uint8_t* start;
    std::size_t length;
};

PageRange WholePages(std::uint8_t* address, std::size_t size, std::size_t page) {
    const auto first = reinterpret_cast<std::uintptr_t>(address) / page * page;
    const auto end = (reinterpret_cast<std::uintptr_t>(address) + size + page - 1) / page * page;
    return {reinterpret_cast<std::uint8_t*>(first), end - first};
}

// VirtualAlloc, VirtualProtect and VirtualFree. A reservation starts on the allocation granularity
// (64 KiB), so the fence page before a range asked for at an exact address is part of a reservation
// that may start up to 64 KiB lower; all of it stays inaccessible, and the release frees the whole
// reservation from its base.
class WindowsAddressSpace final : public AddressSpace {
public:
    WindowsAddressSpace() {
        SYSTEM_INFO info{};
        GetSystemInfo(&info);
        page_ = info.dwPageSize;
        granularity_ = info.dwAllocationGranularity;
    }

    std::size_t PageSize() const override { return page_; }

    std::uint8_t* ReserveAt(std::uintptr_t address, std::size_t size) override {
        if (size == 0 || address % page_ != 0 || address < kLowestReservation + page_ ||
            size > SIZE_MAX - 2 * page_ - granularity_ || address - page_ > UINTPTR_MAX - (size + 2 * page_)) {
            return nullptr;
        }
        const std::uintptr_t base = (address - page_) / granularity_ * granularity_;
        const std::size_t length = address + size + page_ - base;
        void* got = VirtualAlloc(reinterpret_cast<void*>(base), length, MEM_RESERVE, PAGE_NOACCESS);
        if (got == nullptr) {
            return nullptr;
        }
        if (reinterpret_cast<std::uintptr_t>(got) != base) {
            VirtualFree(got, 0, MEM_RELEASE);
            return nullptr;
        }
        return reinterpret_cast<std::uint8_t*>(address);
    }

    std::uint8_t* ReserveAnywhere(std::size_t size) override {
        if (size == 0 || size > SIZE_MAX - 2 * page_) {
            return nullptr;
        }
        // Reservations go bottom-up, so small images land below 4 GiB where the system has room.
        void* got = VirtualAlloc(nullptr, size + 2 * page_, MEM_RESERVE, PAGE_NOACCESS);
        return got == nullptr ? nullptr : static_cast<std::uint8_t*>(got) + page_;
    }

    bool Commit(std::uint8_t* address, std::size_t size) override {
        const PageRange range = WholePages(address, size, page_);
        return VirtualAlloc(range.start, range.length, MEM_COMMIT, PAGE_READWRITE) != nullptr;
    }

    bool Decommit(std::uint8_t* address, std::size_t size) override {
        const PageRange range = WholePages(address, size, page_);
        return VirtualFree(range.start, range.length, MEM_DECOMMIT) != FALSE;
    }

    bool Protect(std::uint8_t* address, std::size_t size, PageProtection protection) override {
        const PageRange range = WholePages(address, size, page_);
        DWORD old = 0;
        return VirtualProtect(range.start, range.length, WindowsProtection(protection), &old) != FALSE;
    }

    void Release(std::uint8_t* address, std::size_t) override {
        MEMORY_BASIC_INFORMATION info{};
        if (VirtualQuery(address, &info, sizeof info) != 0 && info.AllocationBase != nullptr) {
            VirtualFree(info.AllocationBase, 0, MEM_RELEASE);
        }
    }

private:
    std::size_t page_ = 4096;
    std::size_t granularity_ = 65536;
};

}  // namespace

AddressSpace& ProcessAddressSpace() {
    static WindowsAddressSpace space;
    return space;
}

}  // namespace qj
