# Shared settings of the scripts: where the caches outside the source tree live and how Wine runs.
# Sourced by setup, test and demo; everything can be overridden from the environment.

KWRT_CACHE=${KWRT_CACHE:-/var/cache/kwrt}
export WINEPREFIX=${WINEPREFIX:-$KWRT_CACHE/wineprefix}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer prompts when the prefix is created.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# The zh_CN.UTF-8 locale that gives Wine code page 936 is generated here, not in the system.
KWRT_LOCPATH=$KWRT_CACHE/locale
KWRT_JSONCPP_DIR=$KWRT_CACHE/jsoncpp

kwrt_log() { printf '[%s] %s\n' "${0##*/}" "$*" >&2; }

# Starts a persistent wineserver and Wine's background services with every output closed. Started
# later by a test program instead, the services would inherit and hold ctest's pipes, and ctest
# would wait for them until its timeout.
kwrt_wine_start() {
  wineserver -p </dev/null >/dev/null 2>&1
  wine cmd /c exit </dev/null >/dev/null 2>&1
}
kwrt_wine_stop() { wineserver -k </dev/null >/dev/null 2>&1 || true; }

# True when something scripts/setup installs is missing.
kwrt_needs_setup() {
  local tool
  for tool in cmake ninja g++ clang clang-format i686-w64-mingw32-g++-posix wine wineserver Xvfb nginx curl; do
    command -v "$tool" >/dev/null 2>&1 || return 0
  done
  [ -f "$WINEPREFIX/.kwrt-ready" ] && [ -f "$KWRT_JSONCPP_DIR/src/lib_json/json_reader.cpp" ] &&
    [ -d "$KWRT_LOCPATH/zh_CN.UTF-8" ] && [ -f /usr/src/googletest/CMakeLists.txt ] && return 1
  return 0
}
