// The image mapper on Windows: a DLL the build makes is read into memory, mapped from there with
// the process's own address space and module host, and used as the skin engine.

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <initializer_list>
#include <iterator>
#include <vector>

#include "skin/library_mapper.h"
#include "skin/module_host_windows.h"
#include "skin/skin_engine.h"

namespace qj {
namespace {

std::vector<std::uint8_t> ReadEngineLibrary() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    path = path.substr(0, path.find_last_of(L'\\') + 1) + L"qj_test_engine.dll";
    std::ifstream in(path.c_str(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <class Function>
Function Export(const MappedLibrary& library, const char* name) {
    const std::optional<std::uintptr_t> address = FindExport(library, name);
    return address ? reinterpret_cast<Function>(*address) : nullptr;
}

TEST(WindowsLoader, MapsA64BitLibraryFromMemoryAndCallsItsExports) {
    const std::vector<std::uint8_t> image = ReadEngineLibrary();
    ASSERT_GT(image.size(), 512u);
    std::unique_ptr<MappedLibrary> library = MapLibraryImage(image.data(), image.size(), WindowsLoaderPlatform());
    ASSERT_NE(library, nullptr);
    EXPECT_TRUE(library->attached);
    // Not loaded by the system: no module of the process holds the mapped image.
    HMODULE owner = nullptr;
    EXPECT_FALSE(
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCWSTR>(library->imageBase), &owner));
    // The code pages are executable and not writable.
    const auto add = Export<int (*)(int, int)>(*library, "EngineAdd");
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add(40, 2), 42);  // the entry point ran, the import and the relocations are right
    MEMORY_BASIC_INFORMATION code{};
    ASSERT_NE(VirtualQuery(reinterpret_cast<void*>(add), &code, sizeof code), 0u);
    EXPECT_EQ(code.Protect, static_cast<DWORD>(PAGE_EXECUTE_READ));
    EXPECT_FALSE(FindExport(*library, "NoSuchExport"));

    // A second copy cannot have the address the image asks for: it is moved, and its absolute
    // addresses are moved with it.
    std::unique_ptr<MappedLibrary> second = MapLibraryImage(image.data(), image.size(), WindowsLoaderPlatform());
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second->imageBase, library->imageBase);
    for (const MappedLibrary* mapped : {library.get(), second.get()}) {
        const auto data = Export<const std::uint8_t* (*)()>(*mapped, "EngineDataAddress");
        ASSERT_NE(data, nullptr);
        EXPECT_GE(data(), mapped->imageBase);
        EXPECT_LT(data(), mapped->imageBase + mapped->sizeOfImage);
    }
    EXPECT_EQ(Export<int (*)(int, int)>(*second, "EngineAdd")(1, 2), 3);
    UnmapLibrary(std::move(second));
    UnmapLibrary(std::move(library));
}

std::string Environment(const char* name) {
    char value[64] = {};
    return GetEnvironmentVariableA(name, value, sizeof value) > 0 ? value : "";
}

TEST(WindowsLoader, TheEngineLibraryIsTheSkinEngine) {
    const std::vector<std::uint8_t> image = ReadEngineLibrary();
    ASSERT_GT(image.size(), 512u);
    SetEnvironmentVariableA("QJ_TEST_ENGINE_ATTACH", nullptr);
    SetEnvironmentVariableA("QJ_TEST_ENGINE_ADJUST", nullptr);
    {
        LibrarySkinEngine engine(image, WindowsLoaderPlatform());
        // The skin's bytes and size, no password; the adjustment clamped to its limits.
        ApplySkin(engine, "Skin data", 200, -150);
        ASSERT_TRUE(engine.IsMapped());
        EXPECT_EQ(Environment("QJ_TEST_ENGINE_ATTACH"), "9,83,0");
        EXPECT_EQ(Environment("QJ_TEST_ENGINE_ADJUST"), "180,-100,0");
        engine.AdjustColours(-30, 40, 5);
        EXPECT_EQ(Environment("QJ_TEST_ENGINE_ADJUST"), "-30,40,5");
    }
}

}  // namespace
}  // namespace qj
