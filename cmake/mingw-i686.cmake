# Cross-compiles for 32-bit Windows (x86).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZVCERT_MINGW i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
