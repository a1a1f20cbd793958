#!/usr/bin/env bash
# Installs everything kz51 needs on a fresh Debian machine. Idempotent: when
# every package is already present it prints one line and returns.
set -euo pipefail

PKGS=(cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev
      libgmock-dev libbenchmark-dev clang-format
      g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
      wine wine32 xvfb xauth sdcc sdcc-ucsim fonts-wqy-microhei imagemagick
      libcli11-dev nlohmann-json3-dev libedit-dev python3 ccache lcov valgrind
      libusb-1.0-0-dev pkg-config umockdev libumockdev-dev)

# node and npm run the debug adapter's test suite with the DAP test client
# from npm (tests/dap/package-lock.json). A node that ships its own npm is
# used as it is; otherwise Debian's nodejs and npm are installed.
command -v node >/dev/null && command -v npm >/dev/null || PKGS+=(nodejs npm)
here=$(cd "$(dirname "$0")/.." && pwd)
node_packages() {
  local dir="$here/tests/dap"
  if [ ! -d "$dir/node_modules/@vscode/debugadapter-testsupport" ] ||
     [ "$dir/package-lock.json" -nt "$dir/node_modules/.package-lock.json" ]; then
    echo "setup: installing the DAP test client (npm ci in tests/dap)"
    (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
  fi
}

missing=()
for p in "${PKGS[@]}"; do
  arch_pkg="$p"
  [ "$p" = wine32 ] && arch_pkg="wine32:i386"
  dpkg-query -W -f='${Status}' "$arch_pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  node_packages
  echo "setup: all dependencies present"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages (${missing[*]}); run this script as root" >&2
  exit 1
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -qq
inst=()
for p in "${missing[@]}"; do
  [ "$p" = wine32 ] && inst+=("wine32:i386") || inst+=("$p")
done
apt-get install -y -qq --no-install-recommends "${inst[@]}" >/dev/null
node_packages
echo "setup: done"
