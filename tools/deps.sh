#!/usr/bin/env bash
# Installs what building, running and testing the program needs on Debian 12. Only this needs
# root: run as a user, it installs through sudo.
set -euo pipefail
packages=(
  # build
  build-essential cmake pkg-config clang-format dpkg-dev
  qt6-base-dev libgl-dev libxcb1-dev libxcb-shape0-dev
  # run: Japanese text, opening the home page, sound output
  fonts-noto-cjk xdg-utils pulseaudio
  # tests: a private X desktop, a real POP3 server, a real sound server, a private D-Bus
  xvfb openbox xdotool x11-utils x11-xserver-utils imagemagick
  dovecot-core dovecot-pop3d openssl curl
  pulseaudio-utils dbus
  # tests: a headless Wayland session with XWayland and Qt's way into it; the installed menu
  # entry's check
  weston xwayland qt6-wayland desktop-file-utils
  # the Windows build and its tests: the cross compiler, Qt's host tools, Wine, the installer's
  # maker, and the package's zip (tools/windows/build.sh installs these too)
  g++-mingw-w64-x86-64-posix qt6-base-dev-tools wine64 nsis zip unzip
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
