# The x86_64 build with the posix thread model, for the GoogleTest exe only
# (GoogleTest needs std::mutex). The x86_64 tree builds it in a tree of its
# own; nothing built with it ships.
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-x86_64-mingw.cmake)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(TRAYHOP_THREAD_MODEL posix)
unset(TRAYHOP_UNIT_TEST_TOOLCHAIN)
