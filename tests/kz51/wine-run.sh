#!/usr/bin/env bash
# kz51.exe run under wine (KZ_DLL.dll with the test usbd12.dll) gives the
# same status, UART output and coverage counts as kz51 run on Linux: the
# counts are found in the provider DLL the driver loaded. Called by
# scripts/wine-tests.sh with the wine prefix set up.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
linux="$here/build/linux/bin"
win="$here/build/win32/bin"
programs="$here/build/linux/run-programs"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

rm -rf "$win/run-programs"
cp -r "$programs" "$win/run-programs"
cp -f "$linux/KZ.MDB" "$linux/KZ.FMD" "$win/"
args=(run --exit-code status --coverage cov.info --profile prof.out --junit junit.xml)

(cd "$out" && env -u KZ51_EMU timeout 120 "$linux/kz51" "${args[@]}" "$programs/counts.ihx" \
  >linux.out 2>linux.err)
(cd "$win" && rm -f cov.info prof.out junit.xml &&
  env -u KZ51_EMU OUT="$out" timeout 300 xvfb-run -a sh -c \
    'wine kz51.exe "$@" >"$OUT/win.raw" 2>"$OUT/win.err"; status=$?; wineserver -w; exit $status' \
    sh "${args[@]}" run-programs/counts.ihx)
tr -d '\r' <"$out/win.raw" >"$out/win.out"
diff -u "$out/linux.out" "$out/win.out"

# The counts (the source's directory is named differently on Windows).
counts() { grep -E '^(FN|FNDA|DA|FNF|FNH|LF|LH):' "$1"; }
if ! diff -u <(counts "$out/cov.info") <(counts "$win/cov.info"); then
  echo "kz51.exe run under wine counted otherwise than kz51 run on Linux" >&2
  exit 1
fi
grep -q '^summary: ' "$win/prof.out"
grep -q '<testcase name="run-programs/counts.ihx"' "$win/junit.xml"
echo "kz51.exe run under wine and kz51 run on Linux: the same output and $(counts "$out/cov.info" | wc -l) coverage lines"
