# GoogleTest and GoogleMock for the Windows build, compiled from the sources Debian's googletest
# package installs (/usr/src/googletest), since no prebuilt MinGW library of them exists.
#
# Gives the targets GTest::gtest, GTest::gtest_main, GTest::gmock and GTest::gmock_main, as
# find_package(GTest) does on Linux, so test CMake code needs no platform branch for them.

set(QJ_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
if(NOT EXISTS ${QJ_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${QJ_GOOGLETEST_SOURCE} (apt-get install googletest)")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
# The sources' own warnings are not ours to fix; keep them out of the build log.
set(QJ_SAVED_CXX_FLAGS "${CMAKE_CXX_FLAGS}")
string(APPEND CMAKE_CXX_FLAGS " -w")
add_subdirectory(${QJ_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
set(CMAKE_CXX_FLAGS "${QJ_SAVED_CXX_FLAGS}")

foreach(lib gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${lib})
        add_library(GTest::${lib} ALIAS ${lib})
    endif()
endforeach()

include(GoogleTest)

# Registers a Windows test program with ctest. Discovery lists the tests when ctest starts
# rather than after each link, so building needs no Wine; every listing and every test runs
# through the cross-compiling emulator (scripts/wine-run.sh).
function(qj_windows_test target)
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 ${ARGN})
endfunction()
