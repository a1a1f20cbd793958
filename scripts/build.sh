#!/usr/bin/env bash
# Builds both targets: the Linux build (libkz51.so, libusbd12.so, kz51, tests)
# in build/linux and the 32-bit Windows build (KZ_DLL.dll, usbd12.dll,
# kz51.exe, the wine test host) in build/win32.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
jobs=${KZ_JOBS:-2}
cmake -S "$here" -B "$here/build/linux" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKZ_WERROR="${KZ_WERROR:-OFF}" >/dev/null
cmake --build "$here/build/linux" -j "$jobs"
cmake -S "$here" -B "$here/build/win32" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-i686.cmake" -DKZ_WERROR="${KZ_WERROR:-OFF}" >/dev/null
cmake --build "$here/build/win32" -j "$jobs"
