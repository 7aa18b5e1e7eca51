# The Windows tree: no NSS, Qt, HarfBuzz, libpng, libjpeg or libcurl. The
# platform folders bind their interfaces to Win32 (platform/win,
# platform/keystore/win, ...); GoogleTest is built from Debian's sources with
# the same toolchain, and the tests run under Wine.
set(TAVRA_WINDOWS ON)
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
# What the POSIX-minded code of the shared units needs beyond the C runtime
# (pread, fsync, mkdtemp, ...), on every target of ours.
include_directories(BEFORE SYSTEM ${PROJECT_SOURCE_DIR}/platform/win/compat)
add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:SHELL:-include ${PROJECT_SOURCE_DIR}/platform/win/compat/tavra_posix.h>")
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
# Files open in binary mode, as they do on Linux.
add_link_options(/usr/x86_64-w64-mingw32/lib/binmode.o)

enable_testing()
set(TAVRA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources built with the toolchain")
if(EXISTS ${TAVRA_GTEST_SOURCE}/CMakeLists.txt)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(${TAVRA_GTEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  set(TAVRA_WINDOWS_TESTS ON)
endif()

add_subdirectory(platform)
add_subdirectory(toolkit)
add_subdirectory(app)
add_subdirectory(cli)
if(TAVRA_WINDOWS_TESTS)
  add_subdirectory(tests/windows)
endif()
