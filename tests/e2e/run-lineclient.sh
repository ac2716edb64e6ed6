#!/usr/bin/env bash
# Black-box test of LineClient.exe, the socket library's example program, under Wine against
# the native line-peer on loopback addresses 127.0.0.91 to 127.0.0.98 (127.0.0.93 has nothing
# listening), port 7023; through dante SOCKS servers on 127.0.0.99 (ports 1080 to 1082) and
# OpenSSH's dynamic forwarding (127.0.0.99:1090, its sshd on 1091); and against busybox and
# inetutils telnet servers (127.0.0.99:2323), each in turn; and with line-peer scripted as a
# proxy or telnet server that does what real ones will not (127.0.0.96).
#   run-lineclient.sh LINECLIENT.exe LINE-PEER
# Needs the CTest fixture "wine". Each run of the program goes through a batch file under
# cmd.exe, so that its standard input, output and error are files of their own. Every check
# prints what it looked at; any failed check makes the script end with status 1. Peers and
# folders started or made here are removed on exit whatever happens.
set -uo pipefail
exe=$(realpath "${1:?usage: run-lineclient.sh LINECLIENT.exe LINE-PEER}")
peer=$(realpath "${2:?usage: run-lineclient.sh LINECLIENT.exe LINE-PEER}")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
wine_run=$here/../../tools/wine-run
prefix=${KAIROTSU_WINEPREFIX:-$here/../../build/win32/wineprefix}
port=7023

work=$(mktemp -d /tmp/kairotsu-lineclient.XXXXXX)
pids=()
failures=0
runs=0
peer_dirs=()
cleanup() {
  # Every peer script stops its peer the same way, whatever kind it is.
  for d in "${peer_dirs[@]}"; do "$here/../peers/dante.sh" stop "$d" >/dev/null 2>&1; done
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

pass() { echo "  ok   $*"; }
fail() {
  echo "  FAIL $*" >&2
  failures=$((failures + 1))
}
# expect DESCRIPTION COMMAND...: passes when the command succeeds.
expect() {
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
show() { sed 's/\r$//; s/^/       | /' "$1"; }
now_ms() { date +%s%3N; }
# The Windows name of a file on this machine (Wine's drive Z: is the root).
winpath() { echo "Z:${1//\//\\}"; }
# same FILE TEXT: the file holds exactly TEXT.
same() { [[ "$(cat "$1"; echo .)" == "$2." ]]; }

if [[ ! -f "$prefix.display" ]]; then
  echo "run-lineclient.sh: no display in $prefix.display; run under the CTest fixture wine" >&2
  exit 1
fi
export DISPLAY=$(cat "$prefix.display")
export KAIROTSU_WINEPREFIX=$prefix

# peer NAME ADDRESS STEP...: starts line-peer on ADDRESS:$port with the script, recording in
# $work/NAME.record; its pid is in $peer_pid.
peer() {
  local name=$1 address=$2
  shift 2
  "$peer" --listen "$address:$port" --record "$work/$name.record" --lifetime 60 "$@" >"$work/$name.peer" 2>&1 &
  peer_pid=$!
  pids+=("$peer_pid")
  for _ in $(seq 50); do
    grep -q ready "$work/$name.peer" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "line-peer on $address started"
  show "$work/$name.peer"
}
# peer_done: waits for the peer and passes when it reports every step done.
peer_done() {
  local rc=0
  wait "$peer_pid" || rc=$?
  expect "the peer did every step of its script (status $rc)" test "$rc" -eq 0
  show "$work/$name.peer"
}
# lc NAME ARGS...: runs LineClient.exe with ARGS, its standard input from $work/NAME.in when
# that exists; leaves $work/NAME.out, $work/NAME.err, the status in $status and the time it
# took in $took_ms.
lc() {
  name=$1
  shift
  runs=$((runs + 1))
  local bat=$work/$name.$runs.bat input=$work/$name.in line  # a batch file is never rewritten
  [[ -f $input ]] || : >"$input"
  rm -f "$work/$name.out" "$work/$name.err"  # a run that never starts must not pass on old output
  line="\"$(winpath "$exe")\""
  for a in "$@"; do line+=" \"$a\""; done
  line+=" <\"$(winpath "$input")\" >\"$(winpath "$work/$name.out")\" 2>\"$(winpath "$work/$name.err")\""
  printf '@echo off\r\n%s\r\nexit /b %%errorlevel%%\r\n' "$line" >"$bat"
  local start
  start=$(now_ms)
  status=0
  timeout 60 "$wine_run" cmd /c "$(winpath "$bat")" >"$work/$name.wine" 2>&1 || status=$?
  took_ms=$(($(now_ms) - start))
  echo "  LineClient.exe $* -> status $status in $took_ms ms; output, then errors:"
  show "$work/$name.out"
  show "$work/$name.err"
}

echo "== 1. Lines both ways; the peer closes; both logs"
peer both 127.0.0.91 expect hello expect "two words" send first send second close
printf 'an older line\r\n' >"$work/event.log"
lc both 127.0.0.91:$port -s hello --send "two words" --event-log "$(winpath "$work/event.log")" \
  --debug-log "$(winpath "$work/debug.log")"
expect "status 0 after the peer's orderly close (got $status)" test "$status" -eq 0
expect "the peer's lines are printed in order, without their line ends" same "$work/both.out" $'first\r\nsecond\r\n'
expect "nothing on standard error" test ! -s "$work/both.err"
expect "the peer received the --send texts in order" same "$work/both.record" $'hello\ntwo words\n'
peer_done
show "$work/event.log"
stamp='[0-9]{4}\.[0-9]{2}\.[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}'
ends="Loc: 127\.0\.0\.[0-9]+:[0-9]+ Rem: 127\.0\.0\.91:$port"$'\r'
expect "the event log keeps its older line first" test "$(head -n 1 "$work/event.log")" = $'an older line\r'
expect "then a Connect line" grep -Eqx "$stamp Connect: $ends" <(sed -n 2p "$work/event.log")
expect "then a Close line, three blanks after \"Close:\"" grep -Eqx "$stamp Close:   $ends" <(sed -n 3p "$work/event.log")
expect "and nothing else" test "$(wc -l <"$work/event.log")" -eq 3
sed 's/\r$//; s/^/       | /' "$work/debug.log" 2>/dev/null | head -n 24
expect "the debug log starts with its header" grep -q '^Kairotsu IP Components ' <(head -n 1 "$work/debug.log")
expect "it has a Write entry for \"hello\" and CR LF" grep -q ' : Write - 7 bytes written to socket ' "$work/debug.log"
expect "and a Read entry" grep -q ' : Read - [0-9]* bytes read from socket ' "$work/debug.log"
expect "and the raw calls (all log options on)" grep -q 'Send API: 7 bytes written' "$work/debug.log"

echo "== 2. --lines 3 of a burst of 10"
peer lines 127.0.0.92 burst 10
lc lines 127.0.0.92:$port -n 3
expect "status 0 once three lines arrived (got $status)" test "$status" -eq 0
expect "exactly three lines are printed" same "$work/lines.out" $'line 1\r\nline 2\r\nline 3\r\n'
expect "nothing on standard error" test ! -s "$work/lines.err"
peer_done
expect "the client closed the connection" grep -q 'the client closed' "$work/lines.peer"

echo "== 3. Nothing listening"
lc refused 127.0.0.93:$port
expect "status 2 (got $status)" test "$status" -eq 2
expect "the library's text for 10061 on standard error" \
  same "$work/refused.err" "WinSock Error (10061): Connection refused, on API 'Fd_Connect'"$'\r\n'
expect "nothing on standard output" test ! -s "$work/refused.out"

echo "== 4. Reset by the peer"
peer reset 127.0.0.94 send hi wait 500 reset
lc reset 127.0.0.94:$port
expect "status 2 (got $status)" test "$status" -eq 2
expect "the line before the reset is printed" same "$work/reset.out" $'hi\r\n'
expect "a WinSock error 10054 (connection reset) on standard error" \
  grep -Eq "^WinSock Error \(10054\): Connection reset by peer, on API '[A-Za-z_]+'"$'\r$' "$work/reset.err"
peer_done

echo "== 5. Idle for 1 s with a silent peer"
peer idle 127.0.0.95 silent
lc idle 127.0.0.95:$port -t 1
expect "status 4 (got $status)" test "$status" -eq 4
expect "nothing on standard output" test ! -s "$work/idle.out"
peer_done
expect "the client closed the connection" grep -q 'the client closed' "$work/idle.peer"

echo "== 6. Bad ports"
for args in "127.0.0.96:70000" "-p 0 127.0.0.96" "127.0.0.96:x"; do
  # shellcheck disable=SC2086 # the words of $args are the arguments
  lc badport $args
  expect "\"$args\": status 1 (got $status)" test "$status" -eq 1
  expect "\"$args\": the reason, then the usage line" \
    grep -Eq "^LineClient: bad port '[^']*' \(1-65535\)"$'\r$' <(head -n 1 "$work/badport.err")
  expect "\"$args\": the usage line" grep -q '^usage: LineClient.exe \[options\] HOST\[:PORT\]' "$work/badport.err"
  expect "\"$args\": nothing on standard output" test ! -s "$work/badport.out"
done

echo "== 7. Standard input: its lines follow the --send text, its end closes the connection"
peer stdin 127.0.0.97 expect first expect alpha expect "beta gamma" expect last
printf 'alpha\r\nbeta gamma\nlast' >"$work/stdin.in"
lc stdin 127.0.0.97:$port -s first -i
expect "status 0 (got $status)" test "$status" -eq 0
expect "the peer received the --send text, then every line of the input" \
  same "$work/stdin.record" $'first\nalpha\nbeta gamma\nlast\n'
expect "nothing on standard error" test ! -s "$work/stdin.err"
peer_done
expect "the client closed the connection" grep -q 'the client closed' "$work/stdin.peer"

echo "== 7b. Standard input: the answer to its last line, sent just before the peer closes, is printed"
peer answer 127.0.0.97 expect alpha expect last wait 300 send "to last" close
printf 'alpha\nlast\n' >"$work/answer.in"
lc answer 127.0.0.97:$port -i
expect "status 0 (got $status)" test "$status" -eq 0
expect "the answer is printed" same "$work/answer.out" $'to last\r\n'
expect "nothing on standard error" test ! -s "$work/answer.err"
peer_done

echo "== 8. --port when HOST names none"
peer port 127.0.0.98 send x close
lc port -p $port 127.0.0.98
expect "status 0 (got $status)" test "$status" -eq 0
expect "the peer's line is printed" same "$work/port.out" $'x\r\n'
peer_done

echo "== 9. Through a SOCKS proxy (dante on 127.0.0.99): SOCKS4 and SOCKS5 lines both ways"
peer_dirs+=("$work/dante")
"$here/../peers/dante.sh" start "$work/dante" none 127.0.0.99 1080 || fail "dante on 127.0.0.99 started"
for version in socks4 socks5; do
  peer "$version" 127.0.0.91 expect hello send back close
  lc "$version" "--$version" 127.0.0.99:1080 -s hello 127.0.0.91:$port
  expect "$version: status 0 (got $status)" test "$status" -eq 0
  expect "$version: the peer got the --send text" same "$work/$version.record" $'hello\n'
  expect "$version: the peer's line is printed" same "$work/$version.out" $'back\r\n'
  peer_done
done

echo "== 10. A proxy that refuses: status 3 and the library's text"
peer_dirs+=("$work/dante-block")
"$here/../peers/dante.sh" start "$work/dante-block" block 127.0.0.99 1081 || fail "blocking dante started"
for row in "socks4 91" "socks5 2"; do
  set -- $row
  lc "refused-$1" "--$1" 127.0.0.99:1081 127.0.0.91:$port
  expect "$1: status 3 (got $status)" test "$status" -eq 3
  expect "$1: the refusal's text" grep -q "SOCKS request refused - $2" "$work/refused-$1.err"
done

echo "== 11. SOCKS5 with a user name and password (dante checking its own test account)"
peer_dirs+=("$work/dante-user")
KAIROTSU_PEER_USER=kairotsu KAIROTSU_PEER_PASSWORD=socks-pass \
  "$here/../peers/dante.sh" start "$work/dante-user" username 127.0.0.99 1082 || fail "dante with accounts started"
peer userpass 127.0.0.92 expect hello send back close
lc userpass --socks5 127.0.0.99:1082 --user kairotsu --password socks-pass -s hello 127.0.0.92:$port
expect "right password: status 0 (got $status)" test "$status" -eq 0
expect "right password: the peer got the --send text" same "$work/userpass.record" $'hello\n'
expect "right password: the peer's line is printed" same "$work/userpass.out" $'back\r\n'
peer_done
lc wrongpass --socks5 127.0.0.99:1082 --user kairotsu --password wrong 127.0.0.92:$port
expect "wrong password: status 3 (got $status)" test "$status" -eq 3
expect "wrong password: refused with the proxy's status 1" grep -q "SOCKS request refused - 1"$'\r$' "$work/wrongpass.err"

echo "== 12. SOCKS 4a: a name only the proxy knows (OpenSSH's dynamic forwarding on 127.0.0.99:1090)"
ssh_dir=$work/ssh-socks
peer_dirs+=("$ssh_dir")
KAIROTSU_PEER_HOSTS="target.kairotsu.test=127.0.0.94" "$here/../peers/ssh-socks.sh" start "$ssh_dir" 127.0.0.99 1090 ||
  fail "ssh -D on 127.0.0.99:1090 started"
peer socks4a 127.0.0.94 expect "by name" send granted close
lc socks4a --socks4a 127.0.0.99:1090 -s "by name" target.kairotsu.test:$port
expect "status 0 (got $status)" test "$status" -eq 0
expect "the peer behind the name got the --send text" same "$work/socks4a.record" $'by name\n'
expect "its line is printed" same "$work/socks4a.out" $'granted\r\n'
peer_done
"$here/../peers/ssh-socks.sh" stop "$ssh_dir"

# telnet_session KIND OPTION SENT ARGS...: a session with KIND telnetd on 127.0.0.99:2323 that
# asks for the terminal type and the window size, says some words, then quits. Checks what every
# session must show, and that the debug log records the server's DO OPTION and our WILL OPTION
# (OPTION as the log names it); its output is in $work/KIND.out.
telnet_session() {
  local kind=$1 option=$2
  shift 2
  telnet_dir=$work/telnetd-$kind
  peer_dirs+=("$telnet_dir")
  "$here/../peers/telnetd.sh" start "$telnet_dir" "$kind" 127.0.0.99 2323 || fail "$kind telnetd started"
  lc "$kind" --telnet "$@" -s term -s size -s "some words" -s quit \
    --debug-log "$(winpath "$work/$kind.debug")" -t 15 127.0.0.99:2323
  "$here/../peers/telnetd.sh" stop "$telnet_dir"
  expect "status 0 once the server closed (got $status)" test "$status" -eq 0
  # The session's terminal echoes what arrives before the login turns echo off, and that can
  # leave a bare carriage return at the start of a line (seen with busybox).
  expect "the login's greeting arrives as a line" grep -q $'^\r*Kairotsu telnet test\r$' "$work/$kind.out"
  expect "lines reach the login and come back" grep -q $'^\r*> echo: some words\r$' "$work/$kind.out"
  expect "no telnet bytes among the lines" bash -c "! LC_ALL=C grep -q \$'\\xff' \"$work/$kind.out\""
  expect "nothing on standard error" test ! -s "$work/$kind.err"
  expect "the debug log shows the server's DO $option" grep -q "Telnet DO $option received\." "$work/$kind.debug"
  expect "and our WILL $option" grep -q "Telnet WILL $option sent\." "$work/$kind.debug"
}

echo "== 13. inetutils telnetd: it asks for the terminal type; LineClient answers \"dumb\""
telnet_session inetutils "terminal type"
expect "the server learned the terminal type \"dumb\"" grep -q $'^\r*> term=dumb\r$' "$work/inetutils.out"

echo "== 14. busybox telnetd: the window size reported after WILL NAWS, lines echoed"
telnet_session busybox "negotiate about window size" --window 100x40
expect "the server learned the window size: 40 rows of 100 columns" grep -q $'^\r*> size=40 100\r$' "$work/busybox.out"

echo "== 15. What real servers will not do, from the scripted peer (127.0.0.96) as the proxy or server"
hex() { printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n'; }
target=7f00005f1b6f  # 127.0.0.95:7023, which only the scripted proxy sees
peer dribble 127.0.0.96 take 05020002 dribble 0500 take "05010001$target" \
  dribble "0500000309$(hex localhost)1b6f" send "after the grant" expect hello close
lc dribble --socks5 127.0.0.96:$port -s hello 127.0.0.95:$port
expect "SOCKS5 replies a byte at a time, bound to a name: status 0 (got $status)" test "$status" -eq 0
expect "the first line after the grant is printed" same "$work/dribble.out" $'after the grant\r\n'
expect "the --send text went out after the grant" same "$work/dribble.record" $'hello\n'
peer_done
peer joined 127.0.0.96 take "04011b6f7f00005f00" bytes "005a000000000000$(hex $'first line\r\n')" expect hello close
lc joined --socks4 127.0.0.96:$port -s hello 127.0.0.95:$port
expect "a SOCKS4 grant and the first line in one write: status 0 (got $status)" test "$status" -eq 0
expect "the line behind the grant is printed whole" same "$work/joined.out" $'first line\r\n'
peer_done
peer bytes4a 127.0.0.96 take "04011b6f0000000100$(hex target.kairotsu.test)00" bytes 005a000000000000 send named close
lc bytes4a --socks4a 127.0.0.96:$port target.kairotsu.test:$port
expect "SOCKS 4a sends 0.0.0.1 and the name after the empty user id: status 0 (got $status)" test "$status" -eq 0
expect "the line is printed" same "$work/bytes4a.out" $'named\r\n'
peer_done
peer hangup 127.0.0.96 take "04011b6f7f00005f00" close
lc hangup --socks4 127.0.0.96:$port -s hello 127.0.0.95:$port
expect "a proxy that hangs up before its reply: a failed connection, status 2 (got $status)" test "$status" -eq 2
expect "the hang-up is on standard error" grep -q "SOCKS proxy closed the connection" "$work/hangup.err"
peer_done
peer endless 127.0.0.96 bytes "fffa$(printf '78%.0s' $(seq 4096))$(hex $'after cap\r\n')fff0" send "still talking" close
lc endless --telnet 127.0.0.96:$port
expect "a subnegotiation longer than the cap: status 0 (got $status)" test "$status" -eq 0
expect "all of it is skipped to its IAC SE, and the lines after it printed" same "$work/endless.out" $'still talking\r\n'
peer_done

if ((failures > 0)); then
  echo "run-lineclient.sh: $failures check(s) failed" >&2
  exit 1
fi
echo "run-lineclient.sh: all checks passed"
