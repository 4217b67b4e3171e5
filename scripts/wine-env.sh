# Sourced: a quiet, private 64-bit Wine for one build tree. Usage: . scripts/wine-env.sh BUILD_DIR
TW_BUILD_DIR=$(cd "$1" && pwd)
export WINEPREFIX=$TW_BUILD_DIR/wineprefix
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="     # never offer to install Mono or Gecko
TW_WINE_STATE=$TW_BUILD_DIR/wine-state        # display, Xvfb and keeper pids of a test session
mkdir -p "$TW_WINE_STATE"

# Creates the prefix once; concurrent callers wait for the first. A prefix made while 32-bit Wine (wine32)
# was missing has no 32-bit system (syswow64) and cannot run 32-bit programs: it is made again.
tw_wine_prefix_init() {
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ] || [ ! -f "$WINEPREFIX/.tw-ready" ] ||
       { [ -x /usr/lib/wine/wine ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/regsvr32.exe" ]; }; then
      rm -rf "$WINEPREFIX"
      DISPLAY= wineboot --init >/dev/null 2>&1 || { echo "wineboot failed for $WINEPREFIX" >&2; exit 1; }
      timeout 60 wineserver -w
      touch "$WINEPREFIX/.tw-ready"
    fi
  ) 9>"$TW_WINE_STATE/prefix.lock"
}

# Starts a private Xvfb on a free display number; sets DISPLAY and the named variable to its pid.
tw_xvfb_start() {
  local n pid
  for n in $(seq 90 140); do
    [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
    # A session of its own: its starter ends it, not a Ctrl-C meant for the starter.
    setsid Xvfb :$n -nolisten tcp -screen 0 1280x1024x24 >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 50); do
      [ -e /tmp/.X11-unix/X$n ] && break
      kill -0 $pid 2>/dev/null || break
      sleep 0.1
    done
    if [ -e /tmp/.X11-unix/X$n ] && kill -0 $pid 2>/dev/null; then
      export DISPLAY=:$n
      printf -v "$1" '%s' "$pid"
      return 0
    fi
  done
  echo "could not start Xvfb" >&2
  return 1
}

# Sets DISPLAY when it is not set: the test session's Xvfb while one runs (Wine's desktop may live on it),
# else a private Xvfb, whose pid goes to the named variable (the caller stops it once Wine is idle).
tw_display() {
  printf -v "$1" '%s' ""
  [ -n "${DISPLAY:-}" ] && return 0
  if [ -s "$TW_WINE_STATE/display" ] && kill -0 "$(cat "$TW_WINE_STATE/xvfb.pid" 2>/dev/null)" 2>/dev/null; then
    export DISPLAY=$(cat "$TW_WINE_STATE/display")
    return 0
  fi
  tw_xvfb_start "$1"
}

# Waits (20 s at most) until every program of the prefix has ended, unless a test session's keeper holds
# Wine up on purpose: then there is nothing to wait for.
tw_wine_idle() {
  local keeper
  keeper=$(cat "$TW_WINE_STATE/keeper.pid" 2>/dev/null)
  [ -n "$keeper" ] && kill -0 "$keeper" 2>/dev/null && return 0
  timeout 20 wineserver -w 2>/dev/null
}

# The Windows path of a file of the build tree (Wine's Z: drive is the root folder).
tw_windows_path() {
  local p
  p="Z:$(cd "$(dirname "$1")" && pwd -P)/$(basename "$1")"
  printf '%s' "${p//\//\\}"
}
