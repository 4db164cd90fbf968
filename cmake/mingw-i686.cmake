# Cross-compiles the windows flavour as shipped: 32-bit.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KWRT_MINGW_PREFIX i686-w64-mingw32)
find_program(KWRT_WINE_LOADER wine REQUIRED)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
