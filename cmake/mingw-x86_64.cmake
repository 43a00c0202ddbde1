# A 64-bit build of the same program, only for testing it under Wine on a machine that runs no
# 32-bit programs; it never ships.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
