#!/usr/bin/env bash
# kz51.exe (KZ_DLL.dll with the test usbd12.dll) under wine prints the same
# JSON as kz51 on Linux for the same script. Called by scripts/wine-tests.sh
# with the wine prefix set up; the Linux build holds the example program.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
linux="$here/build/linux/bin"
win="$here/build/win32/bin"
script="$here/tests/kz51/compare.kz51"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# The example and the data files beside the Windows binaries, as on Linux.
rm -rf "$win/examples"
cp -r "$linux/examples" "$win/examples"
cp -f "$linux/KZ.MDB" "$linux/KZ.FMD" "$win/"
rm -f "$linux/ZOLTKEIL.DSK" "$win/ZOLTKEIL.DSK"

(cd "$linux" && env -u KZ51_EMU timeout 120 ./kz51 --json -f "$script" >"$out/linux.json")
(cd "$win" && env -u KZ51_EMU timeout 300 xvfb-run -a sh -c \
  'wine kz51.exe --json -f "$1" >"$2"; status=$?; wineserver -w; exit $status' \
  sh "$script" "$out/win.raw")
tr -d '\r' <"$out/win.raw" >"$out/win.json"

lines=$(wc -l <"$out/linux.json")
if ! diff -u "$out/linux.json" "$out/win.json"; then
  echo "kz51.exe under wine printed other JSON than kz51 on Linux" >&2
  exit 1
fi
echo "kz51.exe under wine and kz51 on Linux: the same $lines JSON objects"
