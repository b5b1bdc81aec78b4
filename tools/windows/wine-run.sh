#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine, in a throwaway Wine prefix of its own that
# goes when it ends: CTest's emulator for the Windows tests, and the end-to-end tests' way to start
# the program. The Qt and MinGW runtime DLLs are found through WINEPATH, so the build folder needs
# no copies of them. MOKOPON_WINEPREFIX set: that prefix is used and kept.
# Usage: wine-run.sh PROGRAM.exe [ARGUMENTS...]
# MOKOPON_QTEST=1: PROGRAM is a Qt Test, whose report (which does not reach a pipe under Wine)
# goes to a file that is then printed.
set -uo pipefail
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
here=$(cd "$(dirname "$0")" && pwd)
qt_bin=${MOKOPON_QT_WINDOWS_BIN:-}
if [ -z "$qt_bin" ]; then
  # The build folder holds the unpacked Qt (tools/windows/build.sh); look upwards from the program.
  dir=$(cd "$(dirname "$1")" && pwd)
  while [ "$dir" != / ] && [ ! -d "$dir/qt-6.4.2-mingw64/bin" ]; do dir=$(dirname "$dir"); done
  qt_bin="$dir/qt-6.4.2-mingw64/bin"
fi
gcc_dll=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
pthread_dll=/usr/x86_64-w64-mingw32/lib
export WINEPATH="$qt_bin;$gcc_dll;$pthread_dll"
export QT_PLUGIN_PATH=${QT_PLUGIN_PATH:-$qt_bin/../plugins}
export WINEDEBUG=${WINEDEBUG:--all}
# Wine keeps the QT_ variables, meant for Linux's own Qt, from Windows programs; a WINE prefix
# passes one on. The tests' platform (offscreen) and logging go through.
for name in QT_QPA_PLATFORM QT_FORCE_STDERR_LOGGING; do
  if [ -n "${!name+set}" ]; then export "WINE$name=${!name}"; fi
done
# No prompts to install Wine's Mono or Gecko into the prefix.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ -n "${MOKOPON_WINEPREFIX:-}" ]; then
  export WINEPREFIX=$MOKOPON_WINEPREFIX
  exec "$wine" "$@"
fi
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/mokopon-wine.XXXXXX")
export WINEPREFIX
cleanup() {
  # The server saves the prefix's registry as it ends; the prefix goes after that.
  # A program left running (the test's own children) is ended first.
  timeout 10 wineserver -w >/dev/null 2>&1 || { wineserver -k; wineserver -w; } >/dev/null 2>&1
  rm -rf "$WINEPREFIX"
}
# A server of the prefix's own that ends with its last program.
wineserver -p0 >/dev/null 2>&1 || true
trap cleanup EXIT
trap 'exit 143' TERM INT
if [ "${MOKOPON_QTEST:-}" = 1 ]; then
  report="$WINEPREFIX/report.txt"
  "$wine" "$@" -o "Z:${report//\//\\},txt"
  rc=$?
  cat "$report" 2>/dev/null
  exit $rc
fi
"$wine" "$@"
exit $?
