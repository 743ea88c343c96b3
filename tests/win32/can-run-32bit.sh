#!/usr/bin/env bash
# Exit 0 when this kernel can execute 32-bit x86 programs (needed by 32-bit Wine).
/lib/ld-linux.so.2 --version >/dev/null 2>&1
