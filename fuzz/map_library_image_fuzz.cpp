// libFuzzer target: any byte string handed to MapLibraryImage must be mapped or refused without a
// crash, without a read outside the input (AddressSanitizer) or outside the reserved range (fenced
// reservations, checked calls), and with every reservation given back.
#include <cstdio>
#include <cstdlib>

#include "skin/library_mapper.h"
#include "test_platform.h"

namespace {

// Resolves every name except those starting with 'x', so both outcomes of the import step are
// reached; the entry point "succeeds" unless its address is odd.
class FuzzModuleHost final : public qj::ModuleHost {
public:
    qj::LibraryHandle OpenLibrary(std::string_view name) override {
        return !name.empty() && name[0] == 'x' ? 0 : 0x1000 + name.size();
    }
    void CloseLibrary(qj::LibraryHandle) override {}
    std::uintptr_t FindFunction(qj::LibraryHandle, std::string_view name) override {
        return name.empty() || name[0] == 'x' ? 0 : 0x70000000 + name.size();
    }
    std::uintptr_t FindFunctionByOrdinal(qj::LibraryHandle, std::uint16_t ordinal) override {
        return ordinal == 0xFFFF ? 0 : 0x71000000 + ordinal;
    }
    bool CallEntryPoint(std::uintptr_t entryPoint, std::uintptr_t, std::uint32_t) override {
        return (entryPoint & 1) == 0;
    }
    std::uintptr_t CallFunction(std::uintptr_t, std::span<const std::uintptr_t>) override { return 0; }
};

[[noreturn]] void Violation(const std::string& what) {
    std::fprintf(stderr, "address-space violation: %s\n", what.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qj::test::RecordingAddressSpace memory(Violation);
    FuzzModuleHost modules;
    qj::LoaderPlatform platform{memory, modules};
    std::unique_ptr<qj::MappedLibrary> library = qj::MapLibraryImage(data, size, platform);
    if (library) {
        for (const char* name : {"SkinH_AttachRes", "SkinH_AdjustHSV", "", "A"}) {
            (void)qj::FindExport(*library, name);
        }
        qj::UnmapLibrary(std::move(library));
    }
    if (!memory.live.empty()) {
        Violation("a reservation was not released");
    }
    return 0;
}
