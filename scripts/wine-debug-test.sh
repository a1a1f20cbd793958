#!/usr/bin/env bash
# Debugs the same program through KZ_DLL.dll under wine and through
# libkz51.so natively, with the same host script, and requires the same
# lines: breakpoints, registers, the register view and every memory space.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
win="$here/build/win32/bin"
native="$here/build/linux/bin"
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}"
export WINEDEBUG=-all
export WINEARCH=win32
[ -f "$win/win32_debug_host.exe" ] || { echo "no win32_debug_host.exe"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
programs="$here/tests/emu/programs"
sdcc -mmcs51 -I"$programs" -o "$work/" "$programs/spaces.c" >/dev/null
symbol() { awk -v s="$1" '$1 == "C:" && $3 == s { print substr($2, length($2) - 3) }' "$work/spaces.map"; }
tick=$(symbol _tick)
done_at=$(symbol _kz_done)
script="break $tick 3;go;dump;clear;break $done_at;go;dump;step 5"
export KZ51_EMU="model=0,pod=1"

# Under wine, in the directory of the test host (KZ.MDB and KZ.FMD lie there).
cp -f "$native/KZ.MDB" "$native/KZ.FMD" "$win/"
cp -f "$work/spaces.ihx" "$win/dbg-spaces.ihx"
rm -f "$win/ZOLTKEIL.DSK" "$win/dbg-wine.txt"
(cd "$win" && timeout 300 xvfb-run -a bash -c \
  "wineboot -i >/dev/null 2>&1 || true; wine ./win32_debug_host.exe dbg-spaces.ihx '$script' dbg-wine.txt; rc=\$?; wineserver -w; exit \$rc")

# Natively: the end-to-end test program's host, in a data directory of its own.
mkdir -p "$work/native"
cp "$native/KZ.MDB" "$native/KZ.FMD" "$work/native/"
(cd "$work/native" && KZ_E2E_DEBUG="$work/native.txt" KZ_E2E_HEX="$work/spaces.ihx" \
  KZ_E2E_SCRIPT="$script" timeout 120 bash -c "exec -a '$work/native/e2e_tests' '$native/e2e_tests'")

if ! diff -q "$work/native.txt" "$win/dbg-wine.txt" >/dev/null; then
  echo "wine and native hosts saw different things:"
  diff "$work/native.txt" "$win/dbg-wine.txt" | cut -c1-200 | head -20
  exit 1
fi
lines=$(wc -l < "$work/native.txt")
echo "wine debug host: the same $lines lines as the native host ($(grep -c '^mem ' "$work/native.txt") memory dumps)"
