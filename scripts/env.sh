# Shared settings of the scripts: where the caches outside the source tree live and how Wine runs.
# Sourced by setup, test and demo; everything can be overridden from the environment.

KWRT_CACHE=${KWRT_CACHE:-/var/cache/kwrt}

# Which Wine runs the windows tests. The product is 32-bit and its tests run under 32-bit Wine;
# on a machine whose kernel cannot execute 32-bit programs, the same code is built for 64-bit
# Windows as well and its tests run under 64-bit Wine. Call again after installing packages.
kwrt_runs_i386() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
kwrt_choose_wine() {
  if [ -n "${KWRT_WINE_ARCH_FORCED:-}" ]; then
    KWRT_WINE_ARCH=$KWRT_WINE_ARCH_FORCED
  elif kwrt_runs_i386 || [ ! -e /lib/ld-linux.so.2 ]; then
    KWRT_WINE_ARCH=win32
  else
    KWRT_WINE_ARCH=win64
  fi
  if [ "$KWRT_WINE_ARCH" = win32 ]; then
    export WINEPREFIX=${KWRT_WINEPREFIX32:-$KWRT_CACHE/wineprefix}
    export KWRT_WINE=wine
    unset WINELOADER
  else
    export WINEPREFIX=${KWRT_WINEPREFIX64:-$KWRT_CACHE/wineprefix64}
    export KWRT_WINE=/usr/lib/wine/wine64
    export WINELOADER=$KWRT_WINE
  fi
  export WINEARCH=$KWRT_WINE_ARCH
  KWRT_WINEPREFIX_120DPI=$WINEPREFIX-120dpi
}
KWRT_WINE_ARCH_FORCED=${KWRT_WINE_ARCH_FORCED:-}
kwrt_choose_wine
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
  "$KWRT_WINE" cmd /c exit </dev/null >/dev/null 2>&1
}
kwrt_wine_stop() { wineserver -k </dev/null >/dev/null 2>&1 || true; }

# True when something scripts/setup installs is missing.
kwrt_needs_setup() {
  local tool
  for tool in cmake ninja g++ clang clang-format i686-w64-mingw32-g++-posix wine wineserver Xvfb picom \
              xdotool xsetroot import rsvg-convert nginx curl openssl socat; do
    command -v "$tool" >/dev/null 2>&1 || return 0
  done
  if [ "$KWRT_WINE_ARCH" = win64 ]; then
    command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 && [ -x /usr/lib/wine/wine64 ] || return 0
  fi
  [ -f "$WINEPREFIX/.kwrt-ready" ] && [ -f "$WINEPREFIX/.kwrt-windows-2" ] &&
    [ -f "$KWRT_WINEPREFIX_120DPI/.kwrt-ready" ] && [ -f "$KWRT_WINEPREFIX_120DPI/.kwrt-windows-2" ] &&
    [ -f "$KWRT_JSONCPP_DIR/src/lib_json/json_reader.cpp" ] &&
    [ -d "$KWRT_LOCPATH/zh_CN.UTF-8" ] && [ -f /usr/src/googletest/CMakeLists.txt ] && return 1
  return 0
}

# The virtual screen of the window tests: Xvfb (1600 x 900, never reset between clients) with
# picom compositing, so per-pixel alpha blends as on Windows. Start it before Wine's services, so
# Wine's desktop uses it.
KWRT_DISPLAY=${KWRT_DISPLAY:-:77}
kwrt_display_start() {
  export DISPLAY=$KWRT_DISPLAY
  local socket=/tmp/.X11-unix/X${DISPLAY#:}
  Xvfb "$DISPLAY" -screen 0 1600x900x24 -noreset -nolisten tcp </dev/null >/dev/null 2>&1 &
  KWRT_XVFB_PID=$!
  local i
  for i in $(seq 1 100); do
    [ -S "$socket" ] && break
    sleep 0.1
  done
  picom --backend xrender --config /dev/null --no-fading-openclose </dev/null >/dev/null 2>&1 &
  KWRT_PICOM_PID=$!
  # The desktop colour the screenshots show behind transparent areas.
  xsetroot -solid '#3a4350' </dev/null >/dev/null 2>&1 || true
}
kwrt_display_stop() {
  [ -n "${KWRT_PICOM_PID:-}" ] && kill "$KWRT_PICOM_PID" 2>/dev/null
  [ -n "${KWRT_XVFB_PID:-}" ] && kill "$KWRT_XVFB_PID" 2>/dev/null
  wait "${KWRT_PICOM_PID:-}" "${KWRT_XVFB_PID:-}" 2>/dev/null || true
  KWRT_PICOM_PID= KWRT_XVFB_PID=
}

# A Wine machine of its own for running the real launcher (the GUI demo, the responsiveness
# benchmark): a copy of the test prefix in WORK/prefix on the virtual screen KWRT_DISPLAY, whose
# launcher installs into C:\NAME\. Sets WINEPREFIX and KWRT_MACHINE_ROOT (NAME's host path).
kwrt_launcher_machine_start() {
  local work=$1 name=$2 users
  cp -a "$WINEPREFIX" "$work/prefix"
  export WINEPREFIX=$work/prefix LANG=zh_CN.UTF-8 LOCPATH=$KWRT_LOCPATH
  kwrt_display_start
  kwrt_wine_start
  users=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -n1)
  mkdir -p "$users/AppData/Roaming/KWRT_PC/pyl" "$WINEPREFIX/drive_c/$name"
  printf 'C:\\%s\\' "$name" >"$users/AppData/Roaming/KWRT_PC/pyl/game_root.txt"
  KWRT_MACHINE_ROOT=$WINEPREFIX/drive_c/$name
}
kwrt_launcher_machine_stop() {
  pkill -KILL -f 'kwrt_launcher[.]exe' 2>/dev/null || true
  kwrt_wine_stop >/dev/null 2>&1 || true
  kwrt_display_stop
}
