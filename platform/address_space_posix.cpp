#include "platform/address_space.h"

#include <sys/mman.h>
#include <unistd.h>

namespace qj {

namespace {

constexpr int kReserveFlags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;

// Nothing is placed in the lowest 64 KiB, even where the system would allow it (a privileged
// process may map page 0), so that a null or near-null pointer never points into an image.
constexpr std::uintptr_t kLowestReservation = 0x10000;

int PosixProtection(PageAccess access) {
    switch (access) {
        case PageAccess::kNoAccess:
            return PROT_NONE;
        case PageAccess::kWriteCopy:  // private pages: every write is a copy already
        case PageAccess::kReadWrite:
            return PROT_READ | PROT_WRITE;
        case PageAccess::kReadOnly:
            return PROT_READ;
        case PageAccess::kExecute:
            return PROT_EXEC;
        case PageAccess::kExecuteWriteCopy:
        case PageAccess::kExecuteReadWrite:
            return PROT_READ | PROT_WRITE | PROT_EXEC;
        case PageAccess::kExecuteRead:
            return PROT_READ | PROT_EXEC;
    }
    return PROT_NONE;
}

struct PageRange {
    void* start;
    std::size_t length;
};

PageRange WholePages(std::uint8_t* address, std::size_t size, std::size_t page) {
    const auto first = reinterpret_cast<std::uintptr_t>(address) / page * page;
    const auto end = (reinterpret_cast<std::uintptr_t>(address) + size + page - 1) / page * page;
    return {reinterpret_cast<void*>(first), end - first};
}

// mmap and mprotect.
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

std::size_t PosixAddressSpace::PageSize() const {
    static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return page;
}

std::uint8_t* PosixAddressSpace::ReserveAt(std::uintptr_t address, std::size_t size) {
    const std::size_t page = PageSize();
    if (size == 0 || address % page != 0 || address < kLowestReservation + page || size > SIZE_MAX - 2 * page ||
        address - page > UINTPTR_MAX - (size + 2 * page)) {
        return nullptr;
    }
    void* wanted = reinterpret_cast<void*>(address - page);
    void* got = mmap(wanted, size + 2 * page, PROT_NONE, kReserveFlags | MAP_FIXED_NOREPLACE, -1, 0);
    if (got == MAP_FAILED) {
        return nullptr;
    }
    if (got != wanted) {  // a kernel that takes the flag as a mere hint
        munmap(got, size + 2 * page);
        return nullptr;
    }
    return static_cast<std::uint8_t*>(got) + page;
}

std::uint8_t* PosixAddressSpace::ReserveAnywhere(std::size_t size) {
    const std::size_t page = PageSize();
    if (size == 0 || size > SIZE_MAX - 2 * page) {
        return nullptr;
    }
    void* got = MAP_FAILED;
#ifdef MAP_32BIT
    // A 32-bit image holds 32-bit absolute addresses: keep it where they are true addresses.
    got = mmap(nullptr, size + 2 * page, PROT_NONE, kReserveFlags | MAP_32BIT, -1, 0);
#endif
    if (got == MAP_FAILED) {
        got = mmap(nullptr, size + 2 * page, PROT_NONE, kReserveFlags, -1, 0);
    }
    return got == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(got) + page;
}

bool PosixAddressSpace::Commit(std::uint8_t* address, std::size_t size) {
    const PageRange range = WholePages(address, size, PageSize());
    return mprotect(range.start, range.length, PROT_READ | PROT_WRITE) == 0;
}

bool PosixAddressSpace::Decommit(std::uint8_t* address, std::size_t size) {
    const PageRange range = WholePages(address, size, PageSize());
    return mmap(range.start, range.length, PROT_NONE, kReserveFlags | MAP_FIXED, -1, 0) != MAP_FAILED;
}

bool PosixAddressSpace::Protect(std::uint8_t* address, std::size_t size, PageProtection protection) {
    const PageRange range = WholePages(address, size, PageSize());
    return mprotect(range.start, range.length, PosixProtection(protection.access)) == 0;
}

void PosixAddressSpace::Release(std::uint8_t* address, std::size_t size) {
    const std::size_t page = PageSize();
    const PageRange range = WholePages(address, size, page);
    munmap(static_cast<std::uint8_t*>(range.start) - page, range.length + 2 * page);
}

}  // namespace

AddressSpace& ProcessAddressSpace() {
    static PosixAddressSpace space;
    return space;
}

}  // namespace qj
