#!/usr/bin/env bash
# A dante SOCKS server (SOCKS4 and SOCKS5) on a loopback address, for the socket tests.
#   dante.sh start DIR MODE ADDR PORT    starts it, returns once it listens on ADDR:PORT
#   dante.sh stop DIR                    ends it and removes DIR
# DIR is a folder of the server's own (created here; its files and log stay in it until stop).
# MODE:
#   none      no authentication: every request to a 127.0.0.0/8 target is granted
#   block     every request is refused (SOCKS4 answers 91, SOCKS5 answers 2)
#   username  SOCKS5 user name and password only: KAIROTSU_PEER_USER (default "kairotsu") with
#             KAIROTSU_PEER_PASSWORD (default "socks-pass"). Dante checks the system's
#             accounts, so it runs in a mount namespace of its own where a passwd and shadow
#             file from DIR cover the system's; no account is created.
# Connections go out from 127.0.0.1. The server ends by itself after KAIROTSU_PEER_LIFETIME
# seconds (default 900).
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/lib.sh"

start() {
  (($# == 4)) || peer_fail "usage: dante.sh start DIR none|block|username ADDR PORT"
  local mode=$2 addr=$3 port=$4 dir method=none verdict=pass
  peer_check_address "$addr" "$port"
  case $mode in
    none) ;;
    block) verdict=block ;;
    username) method=username ;;
    *) peer_fail "unknown mode $mode" ;;
  esac
  command -v danted >/dev/null || peer_fail "danted is not installed (Debian package dante-server)"
  dir=$(peer_folder "$1") || exit 1

  # One keyword to a line: dante's parser reads the rules so.
  cat >"$dir/danted.conf" <<CONF
logoutput: stderr
internal: $addr port = $port
external: 127.0.0.1
user.privileged: root
user.unprivileged: nobody
clientmethod: none
socksmethod: $method
client pass {
  from: 127.0.0.0/8
  to: 127.0.0.0/8
  log: error connect disconnect
}
socks $verdict {
  from: 127.0.0.0/8
  to: 127.0.0.0/8
  log: error connect disconnect
}
CONF

  local cmd=(danted -f "$dir/danted.conf" -p "$dir/danted.pid" -N 1)
  if [[ $mode == username ]]; then
    local user=${KAIROTSU_PEER_USER:-kairotsu} hash
    hash=$(openssl passwd -6 "${KAIROTSU_PEER_PASSWORD:-socks-pass}") || peer_fail "openssl passwd failed"
    cat >"$dir/passwd" <<PASSWD
root:x:0:0:root:/root:/bin/sh
nobody:x:65534:65534:nobody:/nonexistent:/usr/sbin/nologin
$user:x:60100:60100:SOCKS test user:/nonexistent:/usr/sbin/nologin
PASSWD
    cat >"$dir/shadow" <<SHADOW
root:*:19000:0:99999:7:::
nobody:*:19000:0:99999:7:::
$user:$hash:19000:0:99999:7:::
SHADOW
    chmod 600 "$dir/shadow"
    # The bind mounts live only in the new namespace and go with its last process.
    cmd=(unshare --mount --propagation private sh -c
      'mount --bind "$1" /etc/passwd && mount --bind "$2" /etc/shadow && shift 2 && exec "$@"'
      sh "$dir/passwd" "$dir/shadow" "${cmd[@]}")
  fi
  peer_launch "$dir" danted "${cmd[@]}"
  peer_wait_listening "$dir" "$addr" "$port" danted
}

case ${1:-} in
  start) shift && start "$@" ;;
  stop) (($# == 2)) || peer_fail "usage: dante.sh stop DIR" && peer_stop "$2" ;;
  *) peer_fail "usage: dante.sh start DIR MODE ADDR PORT | dante.sh stop DIR" ;;
esac
