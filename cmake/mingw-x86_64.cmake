# The same code for 64-bit Windows, run by 64-bit Wine: how the windows tests run on a machine
# that cannot execute 32-bit programs (and so cannot run 32-bit Wine). The shipped product stays
# the 32-bit build.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KWRT_MINGW_PREFIX x86_64-w64-mingw32)
find_program(KWRT_WINE_LOADER wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH REQUIRED)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
