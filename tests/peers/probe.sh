#!/usr/bin/env bash
# Checks natively that each peer starts, answers and stops cleanly, leaving no process, folder,
# listener, mount or system file change behind. Uses 127.0.0.150 to 127.0.0.155; run it as root
# and not while another run uses those addresses.
#   probe.sh
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/lib.sh"

work=$(mktemp -d /tmp/kairotsu-peers.XXXXXX)
failures=0
trap 'for d in "$work"/*/; do [[ -f $d/peer.pid ]] && peer_stop "$d"; done; rm -rf "$work"' EXIT

check() {  # check WHAT ACTUAL EXPECTED
  if [[ $2 == "$3" ]]; then
    echo "ok    $1"
  else
    echo "FAIL  $1: got [$2], expected [$3]"
    failures=$((failures + 1))
  fi
}

# The bytes a connection to ADDR PORT answers to the bytes given (printf format), as decimal
# numbers; at most COUNT of them, waiting at most 3 s.
exchange() {  # exchange ADDR PORT COUNT FORMAT
  local out
  exec 3<>"/dev/tcp/$1/$2" || return
  printf "$4" >&3
  out=$(timeout 3 head -c "$3" <&3 | od -An -tu1 -v | xargs)
  exec 3<&-
  echo "$out"
}

# True when process PID runs (an ended process that init has not yet reaped does not).
alive() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [[ ${stat:0:1} != Z ]]
}

# What a system keeps that a peer must not change.
system_state() {
  sha256sum /etc/passwd /etc/shadow /etc/hosts /etc/nsswitch.conf 2>&1
  stat -c '%n %s %Y' /var/log/wtmp /run/utmp 2>&1
  ls -d /root/.ssh 2>&1
  sed 's/^[0-9]* [0-9]* //' /proc/self/mountinfo | sort
}

# Stops the peer in DIR and checks that it left nothing behind.
stop_and_check() {  # stop_and_check SCRIPT DIR ADDR PORT...
  local script=$1 dir=$2 addr=$3 port
  shift 3
  "$here/$script" stop "$dir"
  check "$script stop: folder removed" "$([[ -e $dir ]] && echo present)" ""
  for port in "$@"; do
    check "$script stop: nothing listens on $addr:$port" "$(peer_listening "$addr" "$port" && echo listening)" ""
  done
}

before=$(system_state)

# The target behind the proxies: a web server with one page.
target=127.0.0.151
mkdir -p "$work/www" && echo "page of the target" >"$work/www/index.html"
mkdir "$work/httpd" && peer_launch "$work/httpd" httpd busybox httpd -f -p "$target:8080" -h "$work/www"
peer_wait_listening "$work/httpd" "$target" 8080 httpd
page="page of the target"
socks4="\x04\x01\x1f\x90\x7f\x00\x00\x97abc\x00"  # user abc, 127.0.0.151:8080
socks5_connect="\x05\x01\x00\x01\x7f\x00\x00\x97\x1f\x90"

proxy=127.0.0.150
"$here/dante.sh" start "$work/dante" none $proxy 1080 || exit 1
check "dante none: SOCKS4 granted" "$(exchange $proxy 1080 2 "$socks4")" "0 90"
check "dante none: SOCKS5 page" "$(curl -s --max-time 5 --socks5 $proxy:1080 http://$target:8080/)" "$page"
stop_and_check dante.sh "$work/dante" $proxy 1080

"$here/dante.sh" start "$work/dante" block $proxy 1080 || exit 1
check "dante block: SOCKS4 refused 91" "$(exchange $proxy 1080 2 "$socks4")" "0 91"
check "dante block: SOCKS5 refused 2" "$(exchange $proxy 1080 4 "\x05\x01\x00$socks5_connect")" "5 0 5 2"
stop_and_check dante.sh "$work/dante" $proxy 1080

KAIROTSU_PEER_USER=kai KAIROTSU_PEER_PASSWORD=secret "$here/dante.sh" start "$work/dante" username $proxy 1080 || exit 1
check "dante username: page with the right password" \
  "$(curl -s --max-time 5 --socks5 kai:secret@$proxy:1080 http://$target:8080/)" "$page"
check "dante username: wrong password refused" \
  "$(exchange $proxy 1080 4 "\x05\x02\x00\x02\x01\x03kai\x05wrong")" "5 2 1 1"
check "dante username: no account outside" "$(grep -c '^kai:' /etc/passwd)" "0"
stop_and_check dante.sh "$work/dante" $proxy 1080

proxy=127.0.0.152
KAIROTSU_PEER_HOSTS="target.kairotsu.test=$target" "$here/ssh-socks.sh" start "$work/ssh" $proxy 1080 || exit 1
check "ssh SOCKS4a: name resolved by the proxy, grant then the page" \
  "$(exchange $proxy 1080 9 "\x04\x01\x1f\x90\x00\x00\x00\x01abc\x00target.kairotsu.test\x00GET / HTTP/1.0\r\n\r\n")" \
  "0 90 0 0 0 0 0 0 72"
check "ssh SOCKS4a: page" "$(curl -s --max-time 5 --socks4a $proxy:1080 http://target.kairotsu.test:8080/)" "$page"
check "ssh SOCKS5: page" "$(curl -s --max-time 5 --socks5 $proxy:1080 http://$target:8080/)" "$page"
stop_and_check ssh-socks.sh "$work/ssh" $proxy 1080 1081

telnet_addr=127.0.0.153
for kind in busybox inetutils; do
  "$here/telnetd.sh" start "$work/telnetd" $kind $telnet_addr 2323 || exit 1
  transcript=$( (sleep 1.5; printf 'size\nhello\nquit\n'; sleep 2.5) |
    timeout 6 busybox telnet $telnet_addr 2323 2>&1 | tr -d '\r' | grep -E '^(Kairotsu telnet test|> )')
  check "$kind telnetd: session" "${transcript//$'\n'/ }" "Kairotsu telnet test > size=24 80 > echo: hello > bye"
  # A session still open when the server stops ends with it.
  idle=$(peer_processes "$work/telnetd")
  exec 4<>/dev/tcp/$telnet_addr/2323
  sleep 1
  running=$(peer_processes "$work/telnetd")
  check "$kind telnetd: an open session runs processes of its own" \
    "$(($(wc -w <<<"$running") > $(wc -w <<<"$idle")))" 1
  stop_and_check telnetd.sh "$work/telnetd" $telnet_addr 2323
  check "$kind telnetd: no process left" "$(for p in $running; do alive "$p" && echo "$p"; done)" ""
  exec 4<&-
done
check "telnetd: no login program left" "$(pgrep -f "$work/telnetd/login" | xargs)" ""

peer_stop "$work/httpd"
sleep 0.5
check "system files, records and mounts unchanged" "$(diff <(echo "$before") <(system_state))" ""
if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all peers started, answered and stopped cleanly"
