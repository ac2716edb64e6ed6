#!/usr/bin/env bash
# A telnet server on a loopback address, for the socket tests: busybox telnetd or inetutils
# telnetd, with a login program of the test's own instead of the system's login.
#   telnetd.sh start DIR busybox|inetutils ADDR PORT   starts it, returns once it listens
#   telnetd.sh stop DIR                                ends it (and every session) and removes DIR
# DIR is a folder of the server's own (created here). The server runs as root in a mount
# namespace of its own with an empty /run and its own wtmp, so the utmp and wtmp records of its
# sessions go there and no system file is written. inetutils telnetd has no port option:
# systemd-socket-activate listens for it and starts one per connection.
#
# The login program, in DIR/login, talks over the session's terminal (echo off):
#   at start    "Kairotsu telnet test" and a line "> "-prompted commands follow
#   "term"      prints "term=$TERM" (the terminal type the server learned, or what it set)
#   "size"      prints "size=ROWS COLUMNS", the window size the client sent; a client may send
#               its lines before it answers the server's DO NAWS, so it waits up to 3 s for a
#               size to arrive and prints 0 0 if none does
#   "quit"      prints "bye" and ends the session a second later (busybox telnetd -K closes
#               the connection when the login ends, dropping output it has not yet passed on)
#   other text  prints "echo: " and the line
# The server ends by itself after KAIROTSU_PEER_LIFETIME seconds (default 900).
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/lib.sh"

start() {
  (($# == 4)) || peer_fail "usage: telnetd.sh start DIR busybox|inetutils ADDR PORT"
  local kind=$2 addr=$3 port=$4 dir
  peer_check_address "$addr" "$port"
  case $kind in
    busybox) [[ -x /bin/busybox ]] || peer_fail "busybox is not installed (Debian package busybox-static)" ;;
    inetutils)
      [[ -x /usr/sbin/telnetd ]] || peer_fail "telnetd is not installed (Debian package inetutils-telnetd)"
      command -v systemd-socket-activate >/dev/null || peer_fail "systemd-socket-activate is not installed"
      ;;
    *) peer_fail "unknown server $kind" ;;
  esac
  dir=$(peer_folder "$1") || exit 1

  cat >"$dir/login" <<'LOGIN'
#!/bin/sh
stty -echo 2>/dev/null
echo "Kairotsu telnet test"
while printf '> ' && IFS= read -r line; do
  case $line in
    term) echo "term=${TERM:-}" ;;
    size)
      size=$(stty size 2>/dev/null) tries=0
      while [ "$size" = "0 0" ] && [ $tries -lt 30 ]; do
        sleep 0.1; tries=$((tries + 1)); size=$(stty size 2>/dev/null)
      done
      echo "size=$size" ;;
    quit) echo "bye"; sleep 1; exit 0 ;;
    *) echo "echo: $line" ;;
  esac
done
LOGIN
  chmod 755 "$dir/login"
  printf 'Kairotsu telnet peer\n' >"$dir/issue"
  : >"$dir/wtmp"

  local server
  if [[ $kind == busybox ]]; then
    server="exec /bin/busybox telnetd -F -p $port -b $addr -l $dir/login -f $dir/issue -K"
  else
    server="exec systemd-socket-activate --inetd -a -l $addr:$port /usr/sbin/telnetd -h -E $dir/login"
  fi
  # Runs inside the namespace: the session records go to a throw-away /run and DIR/wtmp.
  cat >"$dir/run.sh" <<RUN
set -u
mount -t tmpfs -o mode=755 kairotsu-run /run || exit 1
if [ -e /var/log/wtmp ]; then
  mount --bind "$dir/wtmp" /var/log/wtmp || exit 1
else
  mount -t tmpfs -o mode=755 kairotsu-log /var/log || exit 1
fi
$server
RUN
  peer_launch "$dir" telnetd unshare --mount --propagation private sh "$dir/run.sh"
  peer_wait_listening "$dir" "$addr" "$port" "$kind telnetd"
}

case ${1:-} in
  start) shift && start "$@" ;;
  stop) (($# == 2)) || peer_fail "usage: telnetd.sh stop DIR" && peer_stop "$2" ;;
  *) peer_fail "usage: telnetd.sh start DIR busybox|inetutils ADDR PORT | telnetd.sh stop DIR" ;;
esac
