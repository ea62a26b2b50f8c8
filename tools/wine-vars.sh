# Sourced by the Wine scripts: the project's own prefix under build/ and its
# virtual display :77. READSWEEPER_DISPLAY=host keeps the caller's $DISPLAY.
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${READSWEEPER_WINEPREFIX:-$root/build/wineprefix}"
export WINEDEBUG=-all
export WINEARCH=win64
if [ "${READSWEEPER_DISPLAY:-}" != host ] || [ -z "${DISPLAY:-}" ]; then
  export DISPLAY=:77
fi
