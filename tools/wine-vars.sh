# Sourced by the Wine scripts: the project's own prefix under build/ and its
# own virtual display, whose number tools/wine-setup keeps in build/xvfb.display.
# READSWEEPER_DISPLAY=host keeps the caller's $DISPLAY instead.
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${READSWEEPER_WINEPREFIX:-$root/build/wineprefix}"
export WINEDEBUG=-all
export WINEARCH=win64
xvfb_display="$root/build/xvfb.display"
xvfb_pid="$root/build/xvfb.pid"
if [ "${READSWEEPER_DISPLAY:-}" = host ] && [ -n "${DISPLAY:-}" ]; then
  virtual_display=no
else
  virtual_display=yes
  [ -s "$xvfb_display" ] && export DISPLAY=":$(cat "$xvfb_display")"
fi

# True when the virtual display that build/ records is still running.
xvfb_alive() {
  pid=$(cat "$xvfb_pid" 2>/dev/null) || return 1
  [ -s "$xvfb_display" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ]
}

# The program that holds the tests' Wine session (tools/wine-setup).
anchor_pid="$WINEPREFIX/.session-anchor.pid"
anchor_ready="$WINEPREFIX/.session-anchor.ready"
anchor_alive() {
  pid=$(cat "$anchor_pid" 2>/dev/null) || return 1
  tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q wine-session-anchor
}
