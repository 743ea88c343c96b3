#!/usr/bin/env bash
# Makes the Wine prefix for one test run (the first boot of a prefix takes a while).
#   make-prefix.sh PREFIX BITS
set -eu
prefix="$1"
bits="${2:-32}"
here="$(cd "$(dirname "$0")" && pwd)"
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  WINEPREFIX="$prefix" VORN_WINE_BITS="$bits" "$here/run-wine.sh" wineboot -i >/dev/null 2>&1 || true
fi
if [ "$bits" = 64 ]; then server=/usr/lib/wine/wineserver64; else server=/usr/lib/wine/wineserver32; fi
WINEPREFIX="$prefix" "$server" -w || true
test -f "$prefix/system.reg"
echo "wine prefix ready: $prefix ($bits-bit)"
