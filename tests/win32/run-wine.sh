#!/usr/bin/env bash
# Runs one Windows program under Wine in the build's own prefix.
#   WINEPREFIX         the prefix (set by the test properties; made by make-prefix.sh)
#   VORN_WINE_BITS     32 or 64: which Wine loader runs the program
#   VORN_WINE_PRELOAD  optional LD_PRELOAD library for the Wine process (serial shim)
set -u
: "${WINEPREFIX:?WINEPREFIX must name the build prefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ "${VORN_WINE_BITS:-32}" = 64 ]; then
  loader=/usr/lib/wine/wine64
  export WINELOADER=$loader WINESERVER=/usr/lib/wine/wineserver64
else
  loader=/usr/lib/wine/wine
  export WINELOADER=$loader WINESERVER=/usr/lib/wine/wineserver32
fi
if [ -n "${VORN_WINE_PRELOAD:-}" ]; then
  export LD_PRELOAD="${VORN_WINE_PRELOAD}${LD_PRELOAD:+:$LD_PRELOAD}"
fi
exec "$loader" "$@"
