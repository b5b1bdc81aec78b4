#!/usr/bin/env bash
# Installs what building, running and testing the program needs on Debian 12. Only this needs
# root: run as a user, it installs through sudo.
set -euo pipefail
packages=(
  # build
  build-essential cmake pkg-config clang-format dpkg-dev
  qt6-base-dev libgl-dev libxcb1-dev libxcb-shape0-dev libpulse-dev libsndfile1-dev
  # run: Japanese text, opening the home page, sound output
  fonts-noto-cjk xdg-utils pulseaudio
  # tests: a private X desktop, a real POP3 server, real sound servers, a private D-Bus
  xvfb openbox xdotool x11-utils x11-xserver-utils imagemagick
  dovecot-core dovecot-pop3d openssl curl
  # tests: Courier's POP3 server (its courier-pop is unpacked below) and its authentication
  courier-base courier-authlib courier-authdaemon courier-authlib-userdb
  pulseaudio-utils dbus pipewire pipewire-pulse wireplumber
  # tests: the desktops' own compositors (mutter composing an X screen, GNOME's headless Wayland
  # session with XWayland, KWin's virtual one and its fake input protocol), Qt's way into Wayland
  # for a window beneath the character; the installed menu entry's check
  mutter gnome-shell xwayland kwin-wayland libwayland-dev libwayland-bin plasma-wayland-protocols
  qt6-wayland desktop-file-utils
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

# courier-pop conflicts with dovecot-pop3d (both provide pop3-server), so it is unpacked, not
# installed; the tests run its programs from there (tests/maillib/CourierServer.h).
courier_pop=/var/cache/mokopon-tests/courier-pop
if [ ! -x "$courier_pop/usr/lib/courier/courier/courierpop3d" ]; then
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  fetch=$(mktemp -d)
  chmod 755 "$fetch"
  (cd "$fetch" && { apt-get download courier-pop 2>/dev/null ||
    { "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update &&
      apt-get download courier-pop; }; })
  "${as_root[@]}" mkdir -p "$courier_pop"
  "${as_root[@]}" dpkg-deb -x "$fetch"/courier-pop_*.deb "$courier_pop"
  rm -rf "$fetch"
fi
