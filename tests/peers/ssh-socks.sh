#!/usr/bin/env bash
# A SOCKS4, SOCKS4a and SOCKS5 proxy without authentication on a loopback address, for the
# socket tests: OpenSSH's dynamic forwarding (ssh -N -D ADDR:PORT) through a throw-away sshd on
# ADDR:SSHD_PORT. Unlike dante it resolves a target name sent with SOCKS4a.
#   ssh-socks.sh start DIR ADDR PORT [SSHD_PORT]   starts both, returns once ADDR:PORT listens
#   ssh-socks.sh stop DIR                          ends them and removes DIR
# SSHD_PORT defaults to PORT + 1. The proxy resolves names from a hosts file of its own only:
# localhost, and each NAME=ADDR (a loopback address) listed in KAIROTSU_PEER_HOSTS, separated by
# spaces; any other name is unknown to it. Host key, user key, known_hosts, sshd_config and logs are made
# in DIR (a folder of the proxy's own, created here). Both programs run as root in a mount
# namespace of their own, where /run (for sshd's privilege separation folder) and root's home
# are empty throw-away folders and the hosts file and name service switch come from DIR:
# nothing under /etc or ~ is written, and no name is looked up through DNS. The proxy ends by
# itself after KAIROTSU_PEER_LIFETIME seconds (default 900).
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/lib.sh"

start() {
  (($# == 3 || $# == 4)) || peer_fail "usage: ssh-socks.sh start DIR ADDR PORT [SSHD_PORT]"
  local addr=$2 port=$3 sshd_port=${4:-$(($3 + 1))} dir
  peer_check_address "$addr" "$port"
  peer_check_address "$addr" "$sshd_port"
  [[ -x /usr/sbin/sshd ]] || peer_fail "sshd is not installed (Debian package openssh-server)"
  command -v ssh >/dev/null || peer_fail "ssh is not installed (Debian package openssh-client)"
  dir=$(peer_folder "$1") || exit 1

  ssh-keygen -q -t ed25519 -N '' -C kairotsu-peer-host -f "$dir/host_key" &&
    ssh-keygen -q -t ed25519 -N '' -C kairotsu-peer-user -f "$dir/user_key" ||
    peer_fail "ssh-keygen failed"
  echo "[$addr]:$sshd_port $(cat "$dir/host_key.pub")" >"$dir/known_hosts"
  echo "restrict,port-forwarding $(cat "$dir/user_key.pub")" >"$dir/authorized_keys"

  local entry
  echo "127.0.0.1 localhost" >"$dir/hosts"
  for entry in ${KAIROTSU_PEER_HOSTS:-}; do
    [[ $entry =~ ^([A-Za-z0-9.-]+)=(127\.[0-9]+\.[0-9]+\.[0-9]+)$ ]] || peer_fail "bad hosts entry $entry"
    echo "${BASH_REMATCH[2]} ${BASH_REMATCH[1]}" >>"$dir/hosts"
  done
  printf '%s\n' "passwd: files" "group: files" "shadow: files" "hosts: files" >"$dir/nsswitch.conf"

  cat >"$dir/sshd_config" <<CONF
ListenAddress $addr:$sshd_port
HostKey $dir/host_key
PidFile $dir/sshd.pid
AuthorizedKeysFile $dir/authorized_keys
AuthenticationMethods publickey
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
AllowUsers root
StrictModes no
UsePAM no
AllowTcpForwarding local
AllowAgentForwarding no
AllowStreamLocalForwarding no
X11Forwarding no
PermitTTY no
PermitUserRC no
PrintMotd no
PrintLastLog no
LogLevel VERBOSE
CONF

  # Runs inside the namespace: sshd in the background, then the client in its place.
  cat >"$dir/run.sh" <<RUN
set -u
mount -t tmpfs -o mode=755 kairotsu-run /run && mkdir -m 755 /run/sshd || exit 1
mount -t tmpfs -o mode=700 kairotsu-home ~root || exit 1
mount --bind "$dir/hosts" /etc/hosts && mount --bind "$dir/nsswitch.conf" /etc/nsswitch.conf || exit 1
/usr/sbin/sshd -D -e -f "$dir/sshd_config" 2>>"$dir/sshd.log" &
for _ in \$(seq 1 100); do
  ss -Hltn "src $addr and sport = :$sshd_port" | grep -q . && break
  sleep 0.1
done
exec ssh -N -F /dev/null -D "$addr:$port" -p "$sshd_port" -l root -i "$dir/user_key" \\
  -o IdentitiesOnly=yes -o BatchMode=yes -o StrictHostKeyChecking=yes \\
  -o UserKnownHostsFile="$dir/known_hosts" -o GlobalKnownHostsFile=/dev/null \\
  -o UpdateHostKeys=no -o ControlMaster=no -o ControlPath=none \\
  -o ExitOnForwardFailure=yes -o ServerAliveInterval=30 -o LogLevel=VERBOSE \\
  "$addr"
RUN
  peer_launch "$dir" ssh unshare --mount --propagation private sh "$dir/run.sh"
  peer_wait_listening "$dir" "$addr" "$port" "ssh -D"
}

case ${1:-} in
  start) shift && start "$@" ;;
  stop) (($# == 2)) || peer_fail "usage: ssh-socks.sh stop DIR" && peer_stop "$2" ;;
  *) peer_fail "usage: ssh-socks.sh start DIR ADDR PORT [SSHD_PORT] | ssh-socks.sh stop DIR" ;;
esac
