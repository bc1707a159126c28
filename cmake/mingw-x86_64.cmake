# Cross-compiles for 64-bit Windows (x64).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ZVCERT_MINGW x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
