# Shared part of the mingw-w64 toolchain files: posix thread model, fully static, tests under Wine.
# KWRT_MINGW_PREFIX names the compilers and KWRT_WINE_LOADER the Wine that runs the tests.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KWRT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KWRT_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KWRT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KWRT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every exe imports system DLLs only.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test binaries run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${KWRT_WINE_LOADER})
set(ZLIB_USE_STATIC_LIBS ON)
