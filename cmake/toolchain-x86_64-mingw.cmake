# A second Windows build of the same sources for x86_64. It exists so the
# Windows code can run under 64-bit Wine on machines whose kernel cannot start
# 32-bit programs; the product itself is the i686 build. It ships nothing, so
# it keeps the posix thread model (GoogleTest needs it) in one tree.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(TRAYHOP_THREAD_MODEL posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_OBJDUMP x86_64-w64-mingw32-objdump CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Debian's /usr/bin/wine always picks the 32-bit loader when it is installed,
# so the 64-bit loader is named directly.
set(CMAKE_CROSSCOMPILING_EMULATOR wine64)
set(TRAYHOP_WINE_ARCH win64)
