#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test. The tests start their own services:
# Xvfb with openbox, mutter on Xvfb, gnome-shell headless with XWayland, Dovecot and Courier on
# 127.0.0.1, PulseAudio and PipeWire with null sinks, a private D-Bus. The Windows build
# (tools/windows/build.sh) comes before the Linux tests, whose Wine journey runs its package; its
# own tests that pass reliably under Wine run last.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2
MOKOPON_WINDOWS_CI=1 bash tools/windows/build.sh build-windows
# A run in which no test ran is a failure. A test that fails is run once more, so that one rare
# timing flake of a desktop test does not fail the whole run; its first failure stays in the output.
ctest --test-dir build --output-on-failure --no-tests=error --repeat until-pass:2 -j2 "$@"
ctest --test-dir build-windows --output-on-failure --no-tests=error --repeat until-pass:2 -j2 -L wine
