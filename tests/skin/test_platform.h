#pragma once

#include <sys/mman.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/address_space.h"
#include "skin/loader_platform.h"

namespace qj::test {

// The real address space of the process, with a record of what the loader asked of it. Any call
// on memory outside a live reservation is reported to `onViolation`.
class RecordingAddressSpace final : public AddressSpace {
public:
    struct Call {
        std::size_t offset;  // from the start of the reservation
        std::size_t size;
        PageProtection protection;
    };

    explicit RecordingAddressSpace(std::function<void(const std::string&)> onViolation)
        : onViolation_(std::move(onViolation)) {}

    std::size_t PageSize() const override { return real_.PageSize(); }

    std::uint8_t* ReserveAt(std::uintptr_t address, std::size_t size) override {
        ++reserveAttempts;
        return Track(real_.ReserveAt(address, size), size);
    }
    std::uint8_t* ReserveAnywhere(std::size_t size) override {
        ++reserveAttempts;
        return Track(real_.ReserveAnywhere(size), size);
    }
    bool Commit(std::uint8_t* address, std::size_t size) override {
        Check(address, size, "commit");
        return real_.Commit(address, size);
    }
    bool Decommit(std::uint8_t* address, std::size_t size) override {
        decommits.push_back({Check(address, size, "decommit"), size, {}});
        return real_.Decommit(address, size);
    }
    bool Protect(std::uint8_t* address, std::size_t size, PageProtection protection) override {
        protections.push_back({Check(address, size, "protect"), size, protection});
        return real_.Protect(address, size, protection);
    }
    void Release(std::uint8_t* address, std::size_t size) override {
        const auto found = live.find(address);
        if (found == live.end() || found->second != size) {
            onViolation_("release of a range that was not reserved as such");
            return;
        }
        live.erase(found);
        real_.Release(address, size);
    }

    int reserveAttempts = 0;
    int reservations = 0;
    std::map<std::uint8_t*, std::size_t> live;  // reservations not yet released
    std::vector<Call> protections;
    std::vector<Call> decommits;

private:
    std::uint8_t* Track(std::uint8_t* address, std::size_t size) {
        if (address != nullptr) {
            ++reservations;
            live[address] = size;
        }
        return address;
    }

    std::size_t Check(std::uint8_t* address, std::size_t size, const char* what) {
        for (const auto& [start, length] : live) {
            if (address >= start && size <= length && static_cast<std::size_t>(address - start) <= length - size) {
                return static_cast<std::size_t>(address - start);
            }
        }
        onViolation_(std::string(what) + " outside every reservation");
        return 0;
    }

    AddressSpace& real_ = ProcessAddressSpace();
    std::function<void(const std::string&)> onViolation_;
};

// Libraries and functions a test provides to mapped images, with a record of every call. Function
// addresses are made up (below 4 GiB, never called).
class TestModuleHost final : public ModuleHost {
public:
    struct EntryCall {
        std::uintptr_t entryPoint;
        std::uintptr_t imageBase;
        std::uint32_t reason;
    };
    struct FunctionCall {
        std::uintptr_t function;
        std::vector<std::uintptr_t> arguments;
    };

    // Adds a library; its functions get addresses `firstAddress`, `firstAddress` + 16, ... in order.
    void AddLibrary(const std::string& name, const std::vector<std::string>& functions,
                    const std::vector<std::uint16_t>& ordinals, std::uintptr_t firstAddress) {
        Library library;
        std::uintptr_t next = firstAddress;
        for (const std::string& function : functions) {
            library.byName[function] = next;
            next += 16;
        }
        for (std::uint16_t ordinal : ordinals) {
            library.byOrdinal[ordinal] = next;
            next += 16;
        }
        libraries_[name] = std::move(library);
    }

    std::uintptr_t AddressOf(const std::string& library, const std::string& function) const {
        return libraries_.at(library).byName.at(function);
    }
    std::uintptr_t AddressOf(const std::string& library, std::uint16_t ordinal) const {
        return libraries_.at(library).byOrdinal.at(ordinal);
    }
    LibraryHandle HandleOf(const std::string& library) const { return libraries_.at(library).handle; }

    LibraryHandle OpenLibrary(std::string_view name) override {
        opened.emplace_back(name);
        const auto found = libraries_.find(std::string(name));
        if (found == libraries_.end()) {
            return 0;
        }
        if (found->second.handle == 0) {
            found->second.handle = 0x1000 + libraries_.size() * 0x10 + ++handlesIssued_;
        }
        return found->second.handle;
    }
    void CloseLibrary(LibraryHandle library) override { closed.push_back(library); }
    std::uintptr_t FindFunction(LibraryHandle library, std::string_view name) override {
        const Library* known = ByHandle(library);
        if (known == nullptr) {
            return 0;
        }
        const auto found = known->byName.find(std::string(name));
        return found == known->byName.end() ? 0 : found->second;
    }
    std::uintptr_t FindFunctionByOrdinal(LibraryHandle library, std::uint16_t ordinal) override {
        const Library* known = ByHandle(library);
        if (known == nullptr) {
            return 0;
        }
        const auto found = known->byOrdinal.find(ordinal);
        return found == known->byOrdinal.end() ? 0 : found->second;
    }
    bool CallEntryPoint(std::uintptr_t entryPoint, std::uintptr_t imageBase, std::uint32_t reason) override {
        entryCalls.push_back({entryPoint, imageBase, reason});
        return entryResult;
    }
    std::uintptr_t CallFunction(std::uintptr_t function, std::span<const std::uintptr_t> arguments) override {
        functionCalls.push_back({function, {arguments.begin(), arguments.end()}});
        return 1;
    }

    bool entryResult = true;
    std::vector<std::string> opened;
    std::vector<LibraryHandle> closed;
    std::vector<EntryCall> entryCalls;
    std::vector<FunctionCall> functionCalls;

private:
    struct Library {
        std::map<std::string, std::uintptr_t> byName;
        std::map<std::uint16_t, std::uintptr_t> byOrdinal;
        LibraryHandle handle = 0;
    };

    const Library* ByHandle(LibraryHandle handle) const {
        for (const auto& [name, library] : libraries_) {
            if (library.handle == handle && handle != 0) {
                return &library;
            }
        }
        return nullptr;
    }

    std::map<std::string, Library> libraries_;
    int handlesIssued_ = 0;
};

// The libraries the standard test image imports.
inline void AddStandardLibraries(TestModuleHost& host) {
    host.AddLibrary("first.dll", {"FirstFunction"}, {7}, 0x7A000000);
    host.AddLibrary("second.dll", {"SecondFunction"}, {}, 0x7B000000);
}

// Holds a range of address space so that nothing else can be mapped there.
class OccupiedRange {
public:
    OccupiedRange(std::uintptr_t address, std::size_t size) : size_(size) {
        void* got = mmap(reinterpret_cast<void*>(address), size, PROT_NONE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        address_ = got == MAP_FAILED ? nullptr : got;
    }
    ~OccupiedRange() {
        if (address_ != nullptr) {
            munmap(address_, size_);
        }
    }
    OccupiedRange(const OccupiedRange&) = delete;
    OccupiedRange& operator=(const OccupiedRange&) = delete;

    bool held() const { return address_ != nullptr; }

private:
    void* address_;
    std::size_t size_;
};

inline bool RangeIsFree(std::uintptr_t address, std::size_t size) {
    return OccupiedRange(address, size).held();
}

// The "rwx" permissions of the mapping that holds `address`, from /proc/self/maps; empty if none.
inline std::string PagePermissions(const void* address) {
    const auto wanted = reinterpret_cast<std::uintptr_t>(address);
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        std::istringstream fields(line);
        std::string range, permissions;
        fields >> range >> permissions;
        const std::size_t dash = range.find('-');
        const std::uintptr_t start = std::stoull(range.substr(0, dash), nullptr, 16);
        const std::uintptr_t end = std::stoull(range.substr(dash + 1), nullptr, 16);
        if (wanted >= start && wanted < end) {
            return permissions.substr(0, 3);
        }
    }
    return {};
}

}  // namespace qj::test
