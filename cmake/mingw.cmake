# What both Windows toolchain files share: the posix-thread mingw-w64
# compilers of ZVCERT_MINGW (the target triplet), whose libraries and headers
# alone are searched.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${ZVCERT_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZVCERT_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${ZVCERT_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZVCERT_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
