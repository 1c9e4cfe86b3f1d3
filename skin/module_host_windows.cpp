#include "skin/module_host_windows.h"

#include <windows.h>

#include <string>

#include "text/code_page.h"

namespace qj {

namespace {

class Win32ModuleHost final : public ModuleHost {
public:
    LibraryHandle OpenLibrary(std::string_view name) override {
        // Import names are ANSI text, as LoadLibraryA would take them.
        const std::u16string wide = GbkToUtf16(name);
        const std::wstring path(wide.begin(), wide.end());
        return reinterpret_cast<LibraryHandle>(LoadLibraryW(path.c_str()));
    }

    void CloseLibrary(LibraryHandle library) override {
        if (library != 0) {
            FreeLibrary(reinterpret_cast<HMODULE>(library));
        }
    }

    std::uintptr_t FindFunction(LibraryHandle library, std::string_view name) override {
        const std::string terminated(name);
        return reinterpret_cast<std::uintptr_t>(
            reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), terminated.c_str())));
    }

    std::uintptr_t FindFunctionByOrdinal(LibraryHandle library, std::uint16_t ordinal) override {
        return reinterpret_cast<std::uintptr_t>(
            reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), MAKEINTRESOURCEA(ordinal))));
    }

    bool CallEntryPoint(std::uintptr_t entryPoint, std::uintptr_t imageBase, std::uint32_t reason) override {
        using Entry = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);
        const auto entry = reinterpret_cast<Entry>(entryPoint);
        return entry(reinterpret_cast<HINSTANCE>(imageBase), reason, nullptr) != FALSE;
    }

    std::uintptr_t CallFunction(std::uintptr_t function, std::span<const std::uintptr_t> arguments) override {
        // The exports take at most six word-sized arguments. Passing six to a function that takes
        // fewer is harmless in this machine's calling convention: the caller owns the argument
        // area and the callee reads only its own.
        std::uintptr_t a[6] = {};
        for (std::size_t i = 0; i < arguments.size() && i < 6; ++i) {
            a[i] = arguments[i];
        }
        using Function = std::uintptr_t (*)(std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t,
                                            std::uintptr_t, std::uintptr_t);
        return reinterpret_cast<Function>(function)(a[0], a[1], a[2], a[3], a[4], a[5]);
    }
};

}  // namespace

ModuleHost& WindowsModuleHost() {
    static Win32ModuleHost host;
    return host;
}

LoaderPlatform& WindowsLoaderPlatform() {
    static LoaderPlatform platform{ProcessAddressSpace(), WindowsModuleHost()};
    return platform;
}

}  // namespace qj
