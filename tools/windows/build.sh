#!/usr/bin/env bash
# Cross-builds the program for 64-bit Windows on Debian 12: installs the cross compiler, Wine and
# NSIS, unpacks the shared Qt for Windows, configures and builds the program, its mail process
# and its tests, and leaves the package (mokopon-windows.zip, mokopon-setup.exe) in the folder.
# Usage: tools/windows/build.sh [FOLDER]   (default build-windows/; a relative folder is taken
# from the repository's top). MOKOPON_QT_WINDOWS_DIR: the folder of the Qt archive, if elsewhere.
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$(pwd)
out=${1:-build-windows}
case "$out" in /*) ;; *) out="$repo/$out" ;; esac

packages=(g++-mingw-w64-x86-64-posix wine64 nsis qt6-base-dev-tools cmake xz-utils zip xvfb)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    -o DPkg::Lock::Timeout=900 "${missing[@]}"
fi

# The Qt for Windows sits in shared/windows beside the clone (CI), or beside the worktrees here.
qt_archive=
for dir in "${MOKOPON_QT_WINDOWS_DIR:-}" "$repo/../shared/windows" "$repo/../../shared/windows" \
  /work/shared/windows; do
  if [ -n "$dir" ] && [ -f "$dir/qt-6.4.2-mingw64.tar.xz" ]; then
    qt_archive="$dir/qt-6.4.2-mingw64.tar.xz"
    break
  fi
done
if [ -z "$qt_archive" ]; then
  echo "qt-6.4.2-mingw64.tar.xz not found (set MOKOPON_QT_WINDOWS_DIR to its folder)" >&2
  exit 1
fi
mkdir -p "$out"
qt="$out/qt-6.4.2-mingw64"
if [ ! -f "$qt/.unpacked" ] || [ "$qt_archive" -nt "$qt/.unpacked" ]; then
  rm -rf "$qt"
  tar xJf "$qt_archive" -C "$out"
  touch "$qt/.unpacked"
fi

launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S "$repo" -B "$out" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
  -DMOKOPON_WINE_RUNNER="$repo/tools/windows/wine-run.sh" "${launcher[@]}"
# MOKOPON_WINDOWS_CI=1 (tools/test.sh): only what CI runs, the program and the tests that pass
# reliably under Wine.
if [ "${MOKOPON_WINDOWS_CI:-}" = 1 ]; then
  cmake --build "$out" -j2 --target wine-ci mokopon-package
else
  cmake --build "$out" -j2
  cmake --build "$out" --target mokopon-package
fi
