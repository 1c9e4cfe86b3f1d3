# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (posix thread model, so std::thread,
# std::mutex and std::condition_variable work as on Linux).
#
# The C and C++ runtimes are linked statically: the .exe is one file, with no libstdc++-6.dll,
# libgcc_s_seh-1.dll or libwinpthread-1.dll beside it.
#
# Programs built here run on Linux through scripts/wine-run.sh, which keeps a private Wine prefix
# inside the build folder; ctest and gtest_discover_tests go through it as the cross-compiling
# emulator.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QJ_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QJ_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QJ_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QJ_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QJ_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wide-character Windows API by default (CreateFile means CreateFileW), and nothing from the
# rarely used parts of <windows.h> that collide with ordinary names.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh --prefix ${CMAKE_BINARY_DIR}/wineprefix)
