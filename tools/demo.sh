#!/usr/bin/env bash
# Shows the whole mail journey on a virtual desktop and leaves numbered screenshots of it: the
# puppy starts, its panel opens, 受信 checks a local Dovecot holding three messages, the notice
# reports them and the companion barks. Run with sudo on Debian 12 from anywhere in the
# repository: Dovecot needs root; the program itself runs as the user who ran sudo (or nobody).
#
# MOKOPON_BUILD_DIR picks the build folder (default: build); MOKOPON_DEMO_NO_BUILD=1 skips the
# package check and the build and uses what is there.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
build=${MOKOPON_BUILD_DIR:-build}
case "$build" in /*) ;; *) build="$repo/$build" ;; esac

if [ "${MOKOPON_DEMO_NO_BUILD:-0}" != 1 ]; then
  bash tools/deps.sh
  cmake -S . -B "$build"
  cmake --build "$build" -j2
fi
[ -x "$build/bin/mokopon" ] || { echo "no program at $build/bin/mokopon" >&2; exit 1; }

shots="$build/demo-screenshots"
rm -rf "$shots"
mkdir -p "$shots"
tmp=$(mktemp -d /tmp/mokopon-demo.XXXXXX)
# Dovecot's login and mail processes run as other users and must reach their files.
chmod 755 "$tmp"

pids=()
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
  done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    wait "${pids[i]}" 2>/dev/null || true
  done
  rm -rf "$tmp"
}
trap cleanup EXIT

step() { printf '%s\n' "-- $*"; }
fail() {
  printf 'demo failed: %s\n' "$*" >&2
  import -window root "$shots/failed.png" 2>/dev/null || true
  [ -f "$tmp/dovecot/dovecot.log" ] && tail -n 20 "$tmp/dovecot/dovecot.log" >&2
  exit 1
}
# Waits up to $2 seconds (default 15) for something to be true.
wait_for() {
  local what=$1 limit=${2:-15} n=0
  until eval "$what"; do
    n=$((n + 1))
    [ "$n" -le $((limit * 10)) ] || return 1
    sleep 0.1
  done
}
port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
free_port() {
  local p
  for _ in $(seq 100); do
    p=$((20000 + RANDOM % 40000))
    if port_free "$p"; then echo "$p"; return 0; fi
  done
  return 1
}
# Absolute position of a window's client area: "x y".
window_xy() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4} END {print x, y}'
}
visible() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
shot() {
  import -window root "$shots/$1"
  echo "   $shots/$1"
}

# --- a virtual desktop ----------------------------------------------------------------------
for n in $(seq 90 140); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
done
[ -n "${display:-}" ] || fail "no free X display"
export DISPLAY=$display
unset WAYLAND_DISPLAY
step "Xvfb and openbox on $DISPLAY"
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp -dpi 96 >/dev/null 2>&1 &
pids+=($!)
wait_for "xdpyinfo >/dev/null 2>&1" 10 || fail "Xvfb did not start"
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
wait_for "xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'" 10 ||
  fail "openbox did not start"
xsetroot -solid '#3a6ea5'

# --- a sound server for the bark ------------------------------------------------------------
step "PulseAudio with a null sink"
mkdir -p "$tmp/pulse"
pulse_socket="$tmp/pulse/native"
HOME="$tmp/pulse" XDG_RUNTIME_DIR="$tmp/pulse" PULSE_RUNTIME_PATH="$tmp/pulse/runtime" \
  PULSE_STATE_PATH="$tmp/pulse/state" \
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disable-shm=yes \
  --log-level=error -L "module-null-sink sink_name=demo" \
  -L "module-native-protocol-unix auth-anonymous=1 socket=$pulse_socket" >/dev/null 2>&1 &
pids+=($!)
wait_for "PULSE_SERVER=unix:$pulse_socket pactl info >/dev/null 2>&1" 15 ||
  fail "PulseAudio did not start"

# --- a local Dovecot with three messages ----------------------------------------------------
step "Dovecot on 127.0.0.1 with three messages"
dc="$tmp/dovecot"
mkdir -p "$dc/run" "$dc/state" "$dc/home/demo/Maildir/"{cur,new,tmp}
# A CA of our own signs the server's certificate; only the program is told to trust it.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$dc/ca.key" \
  -out "$dc/ca.pem" -days 2 -subj "/CN=mokopon demo CA" 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$dc/server.key" \
  -out "$dc/server.csr" -subj "/CN=localhost" 2>/dev/null
printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\n' >"$dc/ext.cnf"
openssl x509 -req -in "$dc/server.csr" -CA "$dc/ca.pem" -CAkey "$dc/ca.key" -CAcreateserial \
  -CAserial "$dc/ca.srl" -out "$dc/server.pem" -days 2 -extfile "$dc/ext.cnf" 2>/dev/null
password=$(openssl rand -hex 12)
printf 'demo:{PLAIN}%s::::::\n' "$password" >"$dc/passwd"
port=$(free_port) || fail "no free port"
cat >"$dc/dovecot.conf" <<EOF
base_dir = $dc/run
state_dir = $dc/state
log_path = $dc/dovecot.log
info_log_path = $dc/dovecot.log
protocols = pop3
listen = 127.0.0.1
first_valid_uid = 0
default_login_user = dovenull
default_internal_user = dovecot
mail_location = maildir:~/Maildir
auth_mechanisms = plain apop
ssl = yes
ssl_cert = <$dc/server.pem
ssl_key = <$dc/server.key
disable_plaintext_auth = yes
passdb {
  driver = passwd-file
  args = scheme=PLAIN $dc/passwd
}
userdb {
  driver = static
  args = uid=65534 gid=65534 home=$dc/home/%u
}
service anvil {
  chroot =
}
service pop3-login {
  chroot =
  inet_listener pop3 {
    port = $port
  }
  inet_listener pop3s {
    port = 0
  }
}
EOF
message() { # number, base64 of the UTF-8 subject, body
  printf 'From: =?UTF-8?B?5bCP5p6X?= <kobayashi@example.jp>\r\nTo: demo@example.jp\r\n'
  printf 'Subject: =?UTF-8?B?%s?=\r\nDate: Mon, 1 Jul 2024 09:0%s:00 +0900\r\n' "$2" "$1"
  printf 'MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n'
  printf 'Content-Transfer-Encoding: 8bit\r\n\r\n%s\r\n' "$3"
}
new="$dc/home/demo/Maildir/new"
message 1 5Lya6K2w44Gu44GK55+l44KJ44Gb "会議は三時からです。" >"$new/1700000001.M1.demo"
message 2 6YCx5pyr44Gu5LqI5a6a "週末は山へ行きませんか。" >"$new/1700000002.M2.demo"
message 3 5YaZ55yf44KS6YCB44KK44G+44GZ "桜の写真を送ります。" >"$new/1700000003.M3.demo"
chown -R 65534:65534 "$dc/home"
/usr/sbin/dovecot -F -c "$dc/dovecot.conf" >/dev/null 2>&1 &
pids+=($!)
wait_for "! port_free $port" 15 || fail "Dovecot did not start"

# --- a throwaway program folder and working directory ---------------------------------------
step "program folder and settings"
prog="$tmp/program"
work="$tmp/work"
cp -a "$build/bin" "$prog"
rm -rf "$prog/★MailData"
mkdir -p "$prog/★MailData" "$work" "$tmp/runtime"
chmod 700 "$tmp/runtime"
printf 'SMTP=\r\nPOP3=127.0.0.1:%s\r\nMAIL=\r\nAPOP=0\r\n' "$port" >"$work/vbmail.ini"
(umask 077 && printf '[EXEINI]\r\nNAME=demo\r\nNAME2=%s\r\nNAME3=1\r\n' "$password" \
  >"$prog/★MailData/iniIdPass.ini")
# The desktop program never runs as root: as the user who asked for the demo, else as nobody.
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  runas=${SUDO_USER:-nobody}
  [ "$runas" != root ] || runas=nobody
  chown -R "$runas" "$prog" "$work" "$tmp/runtime"
  as_user=(runuser -u "$runas" --)
fi

# --- the journey ----------------------------------------------------------------------------
step "the puppy starts at the pointer"
xdotool mousemove 300 120
(cd "$work" && exec "${as_user[@]}" env HOME="$tmp/runtime" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$tmp/runtime" \
  SSL_CERT_FILE="$dc/ca.pem" PULSE_SERVER="unix:$pulse_socket" "$prog/mokopon") &
pids+=($!)
wait_for '[ -n "$(visible Form1)" ]' 15 || fail "the puppy did not appear"
character=$(visible Form1)
# After the first tick (2 s) the window takes the outline of the figure.
sleep 2.5
shot 01-start.png

step "double click opens the panel"
read -r cx cy < <(window_xy "$character")
xdotool mousemove $((cx + 60)) $((cy + 165)) click --repeat 2 --delay 80 1
wait_for '[ -n "$(visible モコポン)" ]' 10 || fail "the panel did not open"
panel=$(visible モコポン)
sleep 0.5
shot 02-panel.png

step "the pointer over 受信 shows its caption"
read -r px py < <(window_xy "$panel")
xdotool mousemove $((px + 64)) $((py + 8))
sleep 0.7
shot 03-hover.png

step "受信 checks the mailbox"
xdotool click 1
wait_for '[ -n "$(visible 新着お知らせ)" ]' 30 || fail "no notice"
sleep 0.5
shot 04-notice.png

step "the companion takes the puppy's place and barks"
wait_for '[ -n "$(visible Form3)" ]' 10 || fail "the companion did not come"
sleep 1.5
shot 05-companion.png
sleep 2
shot 06-companion-later.png

step "closing the panel brings the puppy back"
xdotool windowactivate --sync "$panel" key alt+F4
wait_for '[ -n "$(visible Form1)" ]' 10 || fail "the puppy did not come back"
sleep 2.5
shot 07-panel-closed.png

retrieved=$(grep -o 'retr=[0-9]*' "$dc/dovecot.log" | tail -n 1 || true)
echo "Dovecot: ${retrieved:-no logout logged}"
echo "Screenshots: $shots"
