# The product build: 32-bit Windows, MinGW-w64 with the win32 thread model.
# The posix model's static thread library imports GetTickCount64, which
# Windows XP lacks, and the single-threaded program needs no thread library.
# GoogleTest needs std::mutex, which only the posix model has: the unit-test
# exe alone is built with the toolchain named in TRAYHOP_UNIT_TEST_TOOLCHAIN,
# in a tree of its own under this one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
set(TRAYHOP_THREAD_MODEL win32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_OBJDUMP i686-w64-mingw32-objdump CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static libgcc and libstdc++: the exes need only system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Lets ctest start the Windows exes. The project replaces this with
# cmake/wine-run, which keeps a prefix under the build folder and first checks
# that 32-bit Wine can start at all.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
set(TRAYHOP_WINE_ARCH win32)
# The shipped exes must start on Windows XP SP3 (the test command checks
# their imports).
set(TRAYHOP_TARGETS_XP ON)
set(TRAYHOP_UNIT_TEST_TOOLCHAIN ${CMAKE_CURRENT_LIST_DIR}/toolchain-i686-mingw-posix.cmake)
