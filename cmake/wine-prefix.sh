#!/bin/sh
# Makes the Wine prefix on first use and starts a wineserver detached from the
# caller's output, so that later Wine processes never keep a pipe open.
set -e
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$WINEBOOT" -i >/dev/null 2>&1
  "$WINESERVER" -w
fi
"$WINESERVER" -p10 </dev/null >/dev/null 2>&1 || true
