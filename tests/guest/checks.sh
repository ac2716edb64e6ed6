#!/bin/bash
# The shipped 32-bit programs in 32-bit Wine, inside the i386 guest that tools/guest-test boots.
# Runs as the guest's PID 1 child from the share /mnt/share, which holds bin/ (the programs as
# the build made them, the guest's own builds of the test servers, the Windows test programs
# and their wrappers), cases (the names to run; all when empty) and wintests (the Windows test
# programs: NAME WRAPPER|- EXE). Each case prints its checks; the closing line counts the cases.
# Every server runs inside the guest on its loopback; the guest has no network device.
set -uo pipefail
share=/mnt/share
results=$share/results
bin=/root/bin  # programs started straight from the 9p share crash at their entry
work=/root/work
mkdir -p "$bin" "$work" "$results"
cp -r "$share/bin/." "$bin/"

export WINEPREFIX=/root/.wine WINEDEBUG=-all LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=" TZ=JST-9 DISPLAY=:9
# The screen is also a file (XWD), so that a case can leave a picture of it in the results.
Xvfb :9 -screen 0 1024x768x24 -fbdir /tmp -nolisten tcp >/dev/null 2>&1 &
keep=$!
for _ in $(seq 100); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.2; done
wineserver -p
user=$(id -un)

checks=0
failed=0
pass() { echo "  ok   $*"; }
fail() {
  echo "  FAIL $*"
  failed=$((failed + 1))
}
expect() {
  local what=$1
  shift
  checks=$((checks + 1))
  if "$@"; then pass "$what"; else fail "$what"; fi
}
show() { iconv -f CP932 -t UTF-8 "$1" 2>/dev/null | sed 's/\r$//; s/^/       | /'; }
now_ms() { date +%s%3N; }
wait_until() {
  local deadline=$(($(now_ms) + $1 * 1000))
  shift
  while (($(now_ms) < deadline)); do
    "$@" && return 0
    sleep 0.5
  done
  return 1
}
# win [TIME-LIMIT] PROGRAM ARGS...: Wine without the right to set the clock; status in $status,
# time taken in $took.
win() {
  local limit=180
  [[ $1 =~ ^[0-9]+$ ]] && { limit=$1; shift; }
  local start
  start=$(now_ms)
  status=0
  timeout -k 10 "$limit" setpriv --bounding-set=-sys_time --inh-caps=-sys_time wine "$@" </dev/null || status=$?
  took=$(($(now_ms) - start))
}
# win_bg TIME-LIMIT PROGRAM ARGS...: the same in the background; its pid in $run.
win_bg() {
  local limit=$1
  shift
  timeout -k 10 "$limit" setpriv --bounding-set=-sys_time --inh-caps=-sys_time wine "$@" </dev/null &
  run=$!
}
# fresh NAME: a new folder holding Kairotsu.exe as NAME; sets $dir.
fresh() {
  dir=$(mktemp -d "$work/case.XXXXXX")
  cp "$bin/Kairotsu.exe" "$dir/$1"
}
ini() { printf "[%s]\r\n$2" "$user" >"$dir/$1"; }
requests_to() { grep -c "^$1 " "$work/requests.txt" 2>/dev/null; }
history_offset() { sed -n 's/.*: set, offset +\?\(-\?[0-9]\+\) ms.*/\1/p' "$dir/Kairotsu.log" | tail -n 1; }
stopped() { ! kill -0 "$run" 2>/dev/null; }
within() { [[ -n $1 ]] && (($1 >= $2 && $1 <= $3)); }

# The SNTP test server: truthful, +3.250 s, kiss-o'-death DENY, -0.700 s, and one for the tray.
"$bin/sntp-server" --lifetime 3000 --record "$work/requests.txt" --serve 127.0.0.61 \
  --serve 127.0.0.62,offset=3250 --serve 127.0.0.63,mode=kiss,code=DENY --serve 127.0.0.64,offset=-700 \
  --serve 127.0.0.65 >"$work/server.log" 2>&1 &
keep+=" $!"
wait_until 20 grep -q ready "$work/server.log" || { echo "guest: the SNTP test server did not start"; cat "$work/server.log"; }

query() {
  fresh Kairotsu.exe
  win 120 "$dir/Kairotsu.exe" /q "$1" >"$dir/out.txt" 2>&1
  show "$dir/out.txt"
  echo "       (status $status in $took ms)"
}
case_query() {
  query 127.0.0.62
  local offset
  offset=$(sed -n 's/^Offset *: *\(-\?[0-9]\+\) ms.*/\1/p' "$dir/out.txt")
  expect "status 0 (got $status)" test "$status" -eq 0
  expect "offset within 50 ms of the injected 3250 (got ${offset:-none})" within "$offset" 3200 3300
}
case_kiss() {
  query 127.0.0.63
  expect "status 3 (got $status)" test "$status" -eq 3
  expect "the result names the kiss-o'-death and its code" grep -q "kiss-o'-death DENY" "$dir/out.txt"
}
case_unreachable() {
  query 127.0.0.69
  expect "nothing listening: status 2 (got $status)" test "$status" -eq 2
}
case_unknown_name() {
  query kairotsu.invalid
  expect "status 2 (got $status)" test "$status" -eq 2
  expect "the error names the server" grep -q 'kairotsu\.invalid' "$dir/out.txt"
}
case_manifest() {
  # Wine builds the program's activation context from the manifest in its resources: its trace
  # names the assembly the manifest describes (an exe without one has no such line).
  fresh Kairotsu.exe
  WINEDEBUG=+actctx win 120 "$dir/Kairotsu.exe" /q 127.0.0.61 >"$dir/out.txt" 2>"$dir/actctx.txt"
  show "$dir/out.txt"
  expect "/q with the manifest: status 0 (got $status)" test "$status" -eq 0
  expect "Wine read its manifest" grep -q 'parse_assembly_identity_elem name=L"Kairotsu"' "$dir/actctx.txt"
}
case_one_shot_set() {
  fresh KairotsuX1.exe
  ini KairotsuX1.ini 'BootUpdateTime=1\r\nUseNTPServer=127.0.0.64\r\nOffsetSec=1\r\n'
  win "$dir/KairotsuX1.exe" >"$dir/out.txt" 2>&1
  show "$dir/out.txt"
  show "$dir/Kairotsu.log"
  local offset
  offset=$(history_offset)
  expect "-0.700 s from the server, +1 s of the user's: set, status 0 (got $status in $took ms)" test "$status" -eq 0
  expect "the history's offset is within 50 ms of +300 (got ${offset:-none})" within "$offset" 250 350
}
case_one_shot_refused() {
  fresh KairotsuX1.exe
  ini KairotsuX1.ini 'BootUpdateTime=1\r\nUseNTPServer=127.0.0.62\r\n'
  local run console history
  for run in first later; do
    win "$dir/KairotsuX1.exe" >"$dir/out.txt" 2>&1
    show "$dir/out.txt"
    # The console says "Kairotsu: <what failed>: <reason>"; the history "...: not set, <reason>".
    console=$(LC_ALL=C sed -n 's/\r$//; s/^Kairotsu: [^:]*: //p' "$dir/out.txt" | head -n 1)
    history=$(LC_ALL=C sed -n 's/\r$//; s/.*: not set, //p' "$dir/Kairotsu.log" | tail -n 1)
    expect "$run run: status 4, Wine refuses to move the clock by 3.25 s (got $status)" test "$status" -eq 4
    expect "$run run: the console gives the reason" test -n "$console"
    expect "$run run: the same reason as the history" test "$console" = "$history"
  done
  show "$dir/Kairotsu.log"
}
case_first_start() {
  fresh Kairotsu.exe
  win_bg 240 "$dir/Kairotsu.exe" >"$dir/out.txt" 2>&1
  ntp_lst() { [[ $(grep -c $'\r$' "$dir/NTP.lst" 2>/dev/null) == 22 ]]; }
  expect "NTP.lst is written with 22 CR LF lines" wait_until 120 ntp_lst
  # The first close request hides the dialog, the second ends the program.
  sleep 3
  win 60 taskkill /im Kairotsu.exe >/dev/null 2>&1
  sleep 3
  win 60 taskkill /im Kairotsu.exe >/dev/null 2>&1
  wait_until 60 stopped || kill "$run"
  status=0
  wait "$run" || status=$?
  expect "two close requests end the program with status 0 (got $status)" test "$status" -eq 0
  expect "its settings were saved" grep -q "^\[$user\]" "$dir/Kairotsu.ini"
}
case_shift_jis() {
  dir=$(mktemp -d "$work/case.XXXXXX")/表示
  mkdir "$dir"
  cp "$bin/Kairotsu.exe" "$dir/ソフトX1.exe"
  ini ソフトX1.ini 'BootUpdateTime=1\r\nUseNTPServer=127.0.0.61\r\n'
  local before
  before=$(requests_to 127.0.0.61)
  win "$dir/ソフトX1.exe" >"$dir/out.txt" 2>&1
  show "$dir/out.txt"
  expect "status 0 (got $status)" test "$status" -eq 0
  expect "the server came from ソフトX1.ini: one request reached it" test $(($(requests_to 127.0.0.61) - before)) -eq 1
  expect "NTP.lst was written beside the program" test -f "$dir/NTP.lst"
}
case_read_only_ini() {
  fresh KairotsuX1.exe
  ini KairotsuX1.ini 'BootUpdateTime=1\r\nUseNTPServer=127.0.0.61\r\n'
  cp "$dir/KairotsuX1.ini" "$dir/given.ini"
  chmod a-w "$dir/KairotsuX1.ini"
  win "$dir/KairotsuX1.exe" >"$dir/out.txt" 2>&1
  show "$dir/out.txt"
  expect "status 5, ended by itself (got $status in $took ms)" test "$status" -eq 5
  expect "it said so on the console" grep -q '^Kairotsu: Can not save to IniFile' "$dir/out.txt"
  expect "the INI file is as it was" cmp -s "$dir/KairotsuX1.ini" "$dir/given.ini"
}
case_tray() {
  # A virtual desktop named "shell" has Wine's task bar; every program started now runs on it.
  win 60 reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f >/dev/null 2>&1
  win 60 reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 1024x768 /f >/dev/null 2>&1
  fresh Kairotsu.exe
  ini Kairotsu.ini 'BootUpdateTime=0\r\nUseNTPServer=127.0.0.65\r\n'
  win_bg 400 "$dir/Kairotsu.exe" >"$dir/out.txt" 2>&1
  has_icon() { win 60 "$bin/e2e-driver.exe" icons 2>/dev/null | grep -q '^icon '; }
  expect "its icon is in the task bar's notification area" wait_until 120 has_icon
  xwininfo -root -tree >"$results/tray-windows.txt" 2>&1
  # The first icon sits at the right end of the task bar along the desktop's bottom edge.
  local x=$((1024 - 10)) y=$((768 - 10))
  xdotool mousemove "$x" "$y" click --repeat 2 --delay 80 1
  asked() { (($(requests_to 127.0.0.65) >= 1)); }
  expect "a double click on it synchronises: a request reaches its server" wait_until 60 asked
  xdotool mousemove "$x" "$y" click 3
  sleep 5
  cp /tmp/Xvfb_screen0 "$results/tray-menu.xwd"
  # The menu opens at the pointer; in the desktop's corner it lies left of it, just above the
  # task bar, its last item (the exit command) about 22 pixels above the icon's middle.
  xdotool mousemove $((x - 60)) $((y - 22)) sleep 1 click 1
  expect "the menu's exit command (Kairotsu終了(&X)) ends the program" wait_until 60 stopped
  stopped || kill "$run"
  status=0
  wait "$run" || status=$?
  expect "with status 0 (got $status)" test "$status" -eq 0
  win 60 reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >/dev/null 2>&1
}
# peer NAME ADDRESS:PORT STEP...: the scripted line peer; its pid in $peer_pid.
peer() {
  local name=$1 address=$2
  shift 2
  "$bin/line-peer" --listen "$address" --record "$work/$name.record" --lifetime 300 "$@" >"$work/$name.peer" 2>&1 &
  peer_pid=$!
  wait_until 20 grep -q ready "$work/$name.peer"
}
peer_done() {
  local rc=0
  wait "$peer_pid" || rc=$?
  expect "the peer did every step of its script (status $rc)" test "$rc" -eq 0
  sed 's/^/       | /' "$work/$1.peer"
}
lineclient() {
  local name=$1
  shift
  win "$bin/LineClient.exe" "$@" >"$work/$name.out" 2>"$work/$name.err"
  echo "       LineClient.exe $* -> status $status in $took ms"
  sed 's/\r$//; s/^/       | /' "$work/$name.out" "$work/$name.err"
}
case_lineclient() {
  peer lines 127.0.0.91:7023 expect hello send first send second close
  lineclient lines -s hello 127.0.0.91:7023
  expect "status 0 after the peer's close (got $status)" test "$status" -eq 0
  expect "the peer's lines are printed in order" test "$(cat "$work/lines.out")" = $'first\r\nsecond\r'
  expect "the peer got the --send text" test "$(cat "$work/lines.record")" = hello
  peer_done lines
}
case_lineclient_socks5() {
  # A scripted proxy: the greeting, the CONNECT to 127.0.0.95:7023, the grant, then lines.
  local target=7f00005f1b6f
  peer socks5 127.0.0.96:1080 take 05020002 bytes 0500 take "05010001$target" bytes "05000001$target" \
    send "through the proxy" expect hello close
  lineclient socks5 --socks5 127.0.0.96:1080 -s hello 127.0.0.95:7023
  expect "status 0 (got $status)" test "$status" -eq 0
  expect "the line after the grant is printed" test "$(cat "$work/socks5.out")" = $'through the proxy\r'
  expect "the --send text went out after the grant" test "$(cat "$work/socks5.record")" = hello
  peer_done socks5
}
# The Windows test programs of the build, with the exes beside them.
wintest() {
  local wrapper=$1 exe=$2
  export KAIROTSU_BINARY_DIR=$bin KAIROTSU_NATIVE_BIN=$bin KAIROTSU_SNTP_OFFSET_TOLERANCE_MS=50
  printf '#!/bin/bash\nexec timeout -k 10 600 setpriv --bounding-set=-sys_time --inh-caps=-sys_time wine "$@" </dev/null\n' \
    >"$work/wine-run"
  chmod +x "$work/wine-run"
  local start=$(now_ms)
  status=0
  if [[ $wrapper == - ]]; then
    "$work/wine-run" "$bin/$exe" >"$work/wintest.out" 2>&1 || status=$?
  else
    bash "$bin/$wrapper" "$work/wine-run" "$bin/$exe" >"$work/wintest.out" 2>&1 || status=$?
  fi
  grep -E '^\[ *(PASSED|FAILED|SKIPPED) *\]|tests? ran|chrony' "$work/wintest.out" | sed 's/^/       | /'
  expect "$exe: status 0 in $(($(now_ms) - start)) ms (got $status)" test "$status" -eq 0
  ((status == 0)) || tail -n 40 "$work/wintest.out" | sed 's/^/       | /'
}

# The table: name, then what the case shows.
table=(
  "query|/q against the test server: the injected offset"
  "kiss|/q: a kiss-o'-death, named with its code"
  "unreachable|/q: a server that is not there"
  "unknown_name|/q: a name nothing resolves"
  "manifest|the exe's manifest in its resources: read by Wine, the program runs"
  "one_shot_set|one-shot run: a reply within half a second of the clock is set"
  "one_shot_refused|one-shot run: a reply 3.25 s off is refused, the same reason everywhere, every run"
  "first_start|first start without files: NTP.lst"
  "shift_jis|one-shot run from a Shift-JIS folder"
  "read_only_ini|one-shot run with a read-only INI file"
  "tray|the tray program: its icon, a double click, the menu's exit command"
  "lineclient|LineClient.exe: lines with a peer"
  "lineclient_socks5|LineClient.exe: through a scripted SOCKS5 proxy"
)
while read -r name wrapper exe; do
  [[ -n $name ]] && table+=("$name|the build's test program $exe|$wrapper $exe")
done <"$share/wintests"

mapfile -t wanted <"$share/cases"
passed=0
failures=0
for row in "${table[@]}"; do
  IFS='|' read -r name what args <<<"$row"
  if ((${#wanted[@]})) && [[ ! " ${wanted[*]} " == *" $name "* ]]; then continue; fi
  echo "== $name: $what"
  failed=0
  checks=0
  start=$(now_ms)
  if [[ -n $args ]]; then
    # shellcheck disable=SC2086 # the wrapper and the exe
    wintest $args
  else
    "case_$name"
  fi
  if ((failed == 0 && checks > 0)); then
    passed=$((passed + 1))
    echo "guest: case $name passed in $(($(now_ms) - start)) ms" | tee -a "$results/cases"
  else
    failures=$((failures + 1))
    echo "guest: case $name FAILED in $(($(now_ms) - start)) ms" | tee -a "$results/cases"
  fi
  # What a failed case left running goes (the servers stay); the wineserver is kept otherwise,
  # since starting Wine's services again costs the next case tens of seconds.
  for p in $(jobs -p); do [[ " $keep " == *" $p "* ]] || kill "$p" 2>/dev/null; done
  if ((failed)); then
    wineserver -k 2>/dev/null
    wineserver -p
  fi
done
echo "$passed passed, $failures failed" | tee "$results/summary"
wineserver -k
sync
