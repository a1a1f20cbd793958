#!/usr/bin/env bash
# Drives the driver's dialogs under wine and Xvfb, at 96 and at 144 DPI, and
# keeps a PNG screenshot of each in build/win32/screenshots. The wine prefix
# is set up inside the same X server the test uses.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
win="$here/build/win32/bin"
run_dir="$here/build/win32/dialogs"
shots="$here/build/win32/screenshots"
export WINEPREFIX="$here/build/wineprefix-dialogs"
export WINEDEBUG=-all
export WINEARCH=win32
# The emulator has pod 2 plugged in, so settings for pod 1 fail to connect.
export KZ51_EMU="pod=2"
rm -rf "$run_dir" "$shots"
mkdir -p "$run_dir" "$shots"
# The test writes its own KZ.MDB (with a GBK vendor name) beside itself.
cp -f "$win/KZ_DLL.dll" "$win/usbd12.dll" "$win/win32_dialog_test.exe" "$run_dir/"
cp -f "$here/build/linux/bin/KZ.FMD" "$run_dir/" 2>/dev/null || true
cd "$run_dir"
result=0
timeout 480 xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  if [ ! -d "$WINEPREFIX" ]; then
    wineboot -i >/dev/null 2>&1 || true
    # No window manager runs under Xvfb: wine draws the captions itself.
    wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Decorated /d N /f >/dev/null 2>&1
    wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1
    # Chinese texts fall back to a CJK font, as on a Chinese Windows.
    for face in Tahoma "MS Shell Dlg" "Microsoft Sans Serif"; do
      wine reg add "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink" \
        /v "$face" /t REG_MULTI_SZ /d "wqy-microhei.ttc,WenQuanYi Micro Hei" /f >/dev/null 2>&1
    done
  fi
  wineserver -w
  status=0
  # At 96 DPI and again at 144 DPI, where the font and the layouts grow by half.
  for dpi in 96 144; do
    for key in "HKCU\\Control Panel\\Desktop" "HKCC\\Software\\Fonts"; do
      wine reg add "$key" /v LogPixels /t REG_DWORD /d $dpi /f >/dev/null 2>&1
    done
    wineserver -w
    echo "== dialogs at $dpi DPI"
    timeout 120 wine ./win32_dialog_test.exe "Z:'"$shots"'" || status=$?
    wineserver -k || true
  done
  exit $status' || result=$?
# The screenshots are kept after a failure too: they show what went wrong.
for bmp in "$shots"/*.bmp; do
  [ -e "$bmp" ] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
ls "$shots"
exit $result
