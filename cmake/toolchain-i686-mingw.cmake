# The product build: 32-bit Windows, MinGW-w64 with the posix thread model
# (GoogleTest needs std::mutex, which the win32 thread model lacks).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_OBJDUMP i686-w64-mingw32-objdump CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static libgcc, libstdc++ and winpthread: the exes need only system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Lets ctest start the Windows exes. The project replaces this with
# cmake/wine-run, which keeps a prefix under the build folder and first checks
# that 32-bit Wine can start at all.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
set(TRAYHOP_WINE_ARCH win32)
