# The Trayhop64 build: 64-bit Windows, MinGW-w64 with the win32 thread model,
# like the i686 product build. The single-threaded program needs no thread
# library, and the posix model's static one would import GetTickCount64,
# which the first x64 editions (XP x64, Server 2003) lack. GoogleTest needs
# std::mutex, which only the posix model has: the unit-test exe alone is built
# with the toolchain named in TRAYHOP_UNIT_TEST_TOOLCHAIN, in a tree of its
# own under this one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-win32)
set(TRAYHOP_THREAD_MODEL win32)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_OBJDUMP x86_64-w64-mingw32-objdump CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static libgcc and libstdc++: the exes need only system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Debian's /usr/bin/wine always picks the 32-bit loader when it is installed,
# so the 64-bit loader is named directly. The project replaces this with
# cmake/wine-run.
set(CMAKE_CROSSCOMPILING_EMULATOR wine64)
set(TRAYHOP_WINE_ARCH win64)
# Trayhop64 ships too, and its imports are checked like Trayhop32's: the
# first x64 editions (XP x64, Server 2003 x64) have what XP SP3 has.
set(TRAYHOP_TARGETS_XP ON)
set(TRAYHOP_UNIT_TEST_TOOLCHAIN ${CMAKE_CURRENT_LIST_DIR}/toolchain-x86_64-mingw-posix.cmake)
