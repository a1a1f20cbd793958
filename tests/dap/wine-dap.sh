#!/bin/sh
# Starts `kz51.exe dap` under wine for the DAP suites (KZ51_WIN_BIN: the
# Windows build's binary directory, with KZ_DLL.dll and the test usbd12.dll).
exec wine "$KZ51_WIN_BIN/kz51.exe" dap "$@"
