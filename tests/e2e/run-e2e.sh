#!/usr/bin/env bash
# End-to-end tests of the real Kairotsu.exe under Wine, each case in a temporary folder of its
# own with a fresh copy of the program, against the native SNTP test server on loopback
# addresses 127.0.0.61 to .64 (127.0.0.69 has nothing listening; the query section serves .81
# and .82). The shell and the keyboard are driven from outside by e2e-driver.exe
# (tests/e2e/DriverWin32.cpp).
#   run-e2e.sh KAIROTSU.exe SNTP-SERVER E2E-DRIVER.exe
# Needs the CTest fixture "wine" (Xvfb and a persistent wineserver; the display is in
# $KAIROTSU_WINEPREFIX.display). Every check prints what it looked at; any failed check makes
# the script end with status 1. Servers, programs and folders started or made here are removed
# on exit whatever happens.
#
# Time zone: Wine's processes take the zone from their own TZ (the persistent wineserver does
# not fix it), so TZ=... in front of wine-run is enough; the case under TZ=UTC shows it, since
# only there is the setting refused.
set -uo pipefail
exe=$(realpath "${1:?usage: run-e2e.sh KAIROTSU.exe SNTP-SERVER}")
server=$(realpath "${2:?usage: run-e2e.sh KAIROTSU.exe SNTP-SERVER E2E-DRIVER.exe}")
driver=$(realpath "${3:?usage: run-e2e.sh KAIROTSU.exe SNTP-SERVER E2E-DRIVER.exe}")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
wine_run=$here/../../tools/wine-run
prefix=${KAIROTSU_WINEPREFIX:-$here/../../build/win32/wineprefix}
user=$(id -un)

work=$(mktemp -d /tmp/kairotsu-e2e.XXXXXX)
pids=()      # native servers
runs=()      # background wine-run shells
failures=0
cleanup() {
  # A program still running after a failed case: its process is the wine-run shell's child.
  for r in "${runs[@]}"; do
    if kill -0 "$r" 2>/dev/null; then
      for c in $(pgrep -P "$r"); do kill -9 "$c" 2>/dev/null; done
      kill "$r" 2>/dev/null
    fi
  done
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}" "${runs[@]}"; do wait "$p" 2>/dev/null; done
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
now_ms() { date +%s%3N; }
# The program's console output is Shift-JIS.
show() { iconv -f CP932 -t UTF-8 "$1" 2>/dev/null | sed 's/\r$//; s/^/       | /' || cat "$1"; }

if [[ ! -f "$prefix.display" ]]; then
  echo "run-e2e.sh: no display in $prefix.display; run under the CTest fixture wine" >&2
  exit 1
fi
export DISPLAY=$(cat "$prefix.display")
export KAIROTSU_WINEPREFIX=$prefix

# The test server: truthful, +3.250 s, kiss-o'-death, and one that never answers.
"$server" --lifetime 540 --record "$work/requests.txt" --serve 127.0.0.61 --serve 127.0.0.62,offset=3250 \
  --serve 127.0.0.63,mode=kiss --serve 127.0.0.64,mode=none >"$work/server.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
  grep -q ready "$work/server.log" 2>/dev/null && break
  sleep 0.1
done
if ! grep -q ready "$work/server.log"; then
  echo "run-e2e.sh: the SNTP test server did not start:" >&2
  cat "$work/server.log" >&2
  exit 1
fi

# A fresh folder with the program copied under the given name; prints the folder.
fresh() {
  local dir
  dir=$(mktemp -d "$work/case.XXXXXX")
  cp "$exe" "$dir/$1"
  echo "$dir"
}
# The viewable top-level X window titled "Setup" of kairotsu.exe, if any.
setup_window() {
  xwininfo -root -tree 2>/dev/null | awk '/"Setup": \("kairotsu\.exe"/ {print $1}' | while read -r id; do
    xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && echo "$id"
  done | head -n 1
}
# wait_until SECONDS COMMAND...: polls every 0.2 s.
wait_until() {
  local deadline=$(($(now_ms) + $1 * 1000))
  shift
  while (($(now_ms) < deadline)); do
    "$@" && return 0
    sleep 0.2
  done
  return 1
}
running() { kill -0 "$1" 2>/dev/null; }
stopped() { ! kill -0 "$1" 2>/dev/null; }
has_window() { [[ -n $(setup_window) ]]; }
no_window() { [[ -z $(setup_window) ]]; }

echo "== 1. First start without files: NTP.lst, the dialog, a clean end"
dir=$(fresh Kairotsu.exe)
"$wine_run" "$dir/Kairotsu.exe" >"$dir/out.txt" 2>&1 &
run=$!
runs+=("$run")
expect "a window titled \"Setup\" becomes visible" wait_until 20 has_window
win=$(setup_window)
if [[ -n $win ]]; then
  geometry=$(xwininfo -id "$win" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
  expect "its client area is 240x246 (got $geometry)" test "$geometry" = 240x246
fi
if [[ -f $dir/NTP.lst ]]; then
  lines=$(grep -c '' "$dir/NTP.lst")
  crlf=$(grep -c $'\r$' "$dir/NTP.lst")
  lf=$(tr -cd '\n' <"$dir/NTP.lst" | wc -c)
  cr=$(tr -cd '\r' <"$dir/NTP.lst" | wc -c)
  empty=$(grep -c $'^\r$' "$dir/NTP.lst")
  expect "NTP.lst has 22 lines (got $lines)" test "$lines" -eq 22
  expect "each of them ends with CR LF (CR LF $crlf, CR $cr, LF $lf)" test "$crlf" -eq 22 -a "$cr" -eq 22 -a "$lf" -eq 22
  expect "the file ends with CR LF" test "$(tail -c 2 "$dir/NTP.lst" | od -An -tx1 | tr -d ' ')" = 0d0a
  expect "no line is empty" test "$empty" -eq 0
else
  fail "NTP.lst was written"
fi
# A close request while the dialog is shown only hides it; the next one, with the form hidden,
# saves the settings and ends the program.
"$wine_run" taskkill /im Kairotsu.exe >/dev/null 2>&1
expect "the first close request hides the dialog" wait_until 10 no_window
sleep 1
expect "and the program goes on running" running "$run"
"$wine_run" taskkill /im Kairotsu.exe >/dev/null 2>&1
expect "the second close request ends the program" wait_until 15 stopped "$run"
status=0
wait "$run" || status=$?
expect "with status 0 (got $status)" test "$status" -eq 0
expected=$(printf '[%s]\r\nSetupTop=0\r\nSetupLeft=0\r\nServerList=-1\r\nOffsetSec=0\r\nOffsetMin=0\r\nUpdateTime=30\r\nBootUpdateTime=1\r\nUseNTPServer=\r\nCheckTiming=0\r\n' "$user" | od -An -c)
expect "Kairotsu.ini holds section [$user] with all nine keys in their order, CR LF lines" \
  test "$(od -An -c "$dir/Kairotsu.ini" 2>/dev/null)" = "$expected"
sed 's/\r$//; s/^/       | /' "$dir/Kairotsu.ini" 2>/dev/null

# Seconds from 1900 to 1970, for the request's transmit stamp.
ntp_unix=2208988800
# The transmit stamp (ms since 1970) of request line N of the record.
request_ms() {
  local hex
  hex=$(sed -n "${1}p" "$work/requests.txt" | awk '{print $4}')
  hex=${hex: -16}
  echo $(((16#${hex:0:8} - ntp_unix) * 1000 + (16#${hex:8:8} * 1000 >> 32)))
}
requests_to() { grep -c "^$1 " "$work/requests.txt" 2>/dev/null; }

echo "== 2. One-shot run (KairotsuX1.exe) against a truthful server on 127.0.0.61"
dir=$(fresh KairotsuX1.exe)
given='[%s]\r\nBootUpdateTime=1\r\nUseNTPServer=127.0.0.61\r\n'
printf "$given" "$user" >"$dir/KairotsuX1.ini"
expected=$(printf "${given}SetupTop=0\r\nSetupLeft=0\r\nServerList=-1\r\nOffsetSec=0\r\nOffsetMin=0\r\nUpdateTime=30\r\nCheckTiming=0\r\n" "$user" | od -An -c)
n=0
# Refused twice: the reason must be the system's both times (the history's file calls in
# between must not change it), the same on the console as in the history.
for zone in Asia/Tokyo UTC UTC; do
  echo " -- TZ=$zone"
  before=$(requests_to 127.0.0.61)
  start=$(now_ms)
  status=0
  TZ=$zone timeout 60 "$wine_run" "$dir/KairotsuX1.exe" >"$dir/out.txt" 2>&1 || status=$?
  elapsed=$(($(now_ms) - start))
  show "$dir/out.txt"
  sent=$(($(requests_to 127.0.0.61) - before))
  expect "exactly one request reached the server (got $sent)" test "$sent" -eq 1
  n=$(grep -n '^127\.0\.0\.61 ' "$work/requests.txt" | tail -n 1 | cut -d: -f1)
  if [[ -n $n ]]; then
    line=$(sed -n "${n}p" "$work/requests.txt")
    expect "it is a 48-byte client request (0x1B, 39 zero bytes, a stamp)" \
      grep -Eq '^[0-9.]+ [0-9.]+:[0-9]+ 48 1b0{78}[0-9a-f]{16}$' <<<"$line"
    after=$(($(request_ms "$n") - start))
    expect "sent about 10 s after start (${after} ms after wine-run began; 9000-14000)" \
      test "$after" -ge 9000 -a "$after" -le 14000
  fi
  expect "the program ended after ${elapsed} ms (under 20 s)" test "$elapsed" -lt 20000
  if [[ $zone == Asia/Tokyo ]]; then
    expect "status 0: the reply was applied (got $status)" test "$status" -eq 0
  else
    expect "status 4: the system refused to move the clock by 9 hours (got $status)" test "$status" -eq 4
    said=$(LC_ALL=C sed -n 's/\r$//; s/^Kairotsu: [^:]*: //p' "$dir/out.txt" | tail -n 1)
    logged=$(LC_ALL=C sed -n 's/\r$//; s/^.* 127\.0\.0\.61: not set, //p' "$dir/Kairotsu.log" 2>/dev/null | tail -n 1)
    expect "it said why on the console, as the history says: '$said'" test -n "$said" -a "$said" = "$logged"
    first_reason=${first_reason:-$said}
    expect "and it is the first refusal's reason again" test "$said" = "$first_reason"
  fi
  expect "KairotsuX1.ini keeps the two given keys first and adds the others in their order" \
    test "$(od -An -c "$dir/KairotsuX1.ini" 2>/dev/null)" = "$expected"
done
sed 's/\r$//; s/^/       | /' "$dir/KairotsuX1.ini" 2>/dev/null
show "$dir/Kairotsu.log"
expect "Kairotsu.log holds one line per run: the clock set, then the setting refused twice" \
  test "$(LC_ALL=C sed 's/\r$//' "$dir/Kairotsu.log" 2>/dev/null | LC_ALL=C sed -E 's/^[0-9]{4}\.[0-9]{2}\.[0-9]{2} [0-9:]{8} //; s/(offset|delay) [-+]?[0-9]+/\1 N/g; s/not set, .*/not set, REASON/')" \
  = "$(printf '127.0.0.61: set, offset N ms, delay N ms\n127.0.0.61: not set, REASON\n127.0.0.61: not set, REASON')"

echo "== 3. Query (/q): offset, invalid reply, no reply"
dir=$(fresh Kairotsu.exe)
# query ADDRESS: runs "/q ADDRESS", leaving the output in $dir/out.txt, the status in $status
# and the time taken in $elapsed.
query() {
  start=$(now_ms)
  status=0
  TZ=Asia/Tokyo timeout 30 "$wine_run" "$dir/Kairotsu.exe" /q "$1" >"$dir/out.txt" 2>&1 || status=$?
  elapsed=$(($(now_ms) - start))
  show "$dir/out.txt"
}
query 127.0.0.62
offset=$(sed -n 's/^Offset *: *\(-\?[0-9]\+\) ms.*/\1/p' "$dir/out.txt")
expect "127.0.0.62 (+3.250 s): status 0 (got $status)" test "$status" -eq 0
expect "offset 3250 +- 5 ms (got ${offset:-none})" test -n "$offset" -a "${offset:-0}" -ge 3245 -a "${offset:-0}" -le 3255
expect "the query sent one request there" test "$(requests_to 127.0.0.62)" -eq 1
query 127.0.0.63
expect "127.0.0.63 (kiss-o'-death): status 3, the reply failed the checks (got $status)" test "$status" -eq 3
query 127.0.0.64
expect "127.0.0.64 (reads, never answers): status 2 (got $status)" test "$status" -eq 2
expect "within 6.5 s (took $elapsed ms)" test "$elapsed" -le 6500
query 127.0.0.69
expect "127.0.0.69 (nothing listening): status 2 (got $status)" test "$status" -eq 2
expect "within 6.5 s (took $elapsed ms)" test "$elapsed" -le 6500
expect "no query wrote an INI file" test ! -e "$dir/Kairotsu.ini"

echo "== 4. The network library is found whatever the current folder"
# A folder path of exactly N characters under $work (made of 50-character parts).
deep_folder() {
  local path=$work/$2 part
  while ((${#path} < $1)); do
    part=$(printf '%050d' 0)
    path=$path/${part:0:$(($1 - ${#path} - 1 < 50 ? $1 - ${#path} - 1 : 50))}
  done
  mkdir -p "$path"
  echo "$path"
}
dir=$(fresh Kairotsu.exe)
cwd=$(deep_folder 200 cwd)
start=$(now_ms)
status=0
(cd "$cwd" && TZ=Asia/Tokyo timeout 30 "$wine_run" "$dir/Kairotsu.exe" /q 127.0.0.61) >"$dir/out.txt" 2>&1 || status=$?
show "$dir/out.txt"
expect "/q from a current folder of ${#cwd} characters: status 0 (got $status)" test "$status" -eq 0
expect "and it printed the offset" grep -q '^Offset *: *-\?[0-9]\+ ms' "$dir/out.txt"
deep=$(deep_folder 200 exe)
cp "$exe" "$deep/Kairotsu.exe"
status=0
(cd "$deep" && TZ=Asia/Tokyo timeout 30 "$wine_run" "$deep/Kairotsu.exe" /q 127.0.0.61) >"$dir/out.txt" 2>&1 || status=$?
show "$dir/out.txt"
expect "/q of an exe in a folder of ${#deep} characters: status 0 (got $status)" test "$status" -eq 0
expect "and it printed the offset" grep -q '^Offset *: *-\?[0-9]\+ ms' "$dir/out.txt"

echo "== 5. Query (/q): a server that holds its reply, a kiss-o'-death code, blanks around the name"
# A server of this section's own: 127.0.0.81 is +3.250 s and holds each request 300 ms
# between its receive and transmit stamps; 127.0.0.82 refuses with the code DENY.
"$server" --lifetime 60 --serve 127.0.0.81,offset=3250,hold=300 --serve 127.0.0.82,mode=kiss,code=DENY \
  >"$work/server4.log" 2>&1 &
pids+=($!)
wait_until 5 grep -q ready "$work/server4.log" || fail "the second SNTP test server started"
dir=$(fresh Kairotsu.exe)
query 127.0.0.81
offset=$(sed -n 's/^Offset *: *\(-\?[0-9]\+\) ms.*/\1/p' "$dir/out.txt")
delay=$(sed -n 's/^Delay *: *\(-\?[0-9]\+\) ms.*/\1/p' "$dir/out.txt")
expect "127.0.0.81 (+3.250 s, holds 300 ms): status 0 (got $status)" test "$status" -eq 0
expect "delay under 100 ms: the hold is the server's, not the network's (got ${delay:-none})" \
  test -n "$delay" -a "${delay:-999}" -ge 0 -a "${delay:-999}" -lt 100
expect "offset 3250 +- 5 ms (got ${offset:-none})" test -n "$offset" -a "${offset:-0}" -ge 3245 -a "${offset:-0}" -le 3255
query 127.0.0.82
expect "127.0.0.82 (kiss-o'-death DENY): status 3 (got $status)" test "$status" -eq 3
expect "the result names the code" grep -q "^Result *: unusable reply: kiss-o'-death DENY" "$dir/out.txt"
query " 127.0.0.81 "
expect "\" 127.0.0.81 \" (blanks around the name): status 0 (got $status)" test "$status" -eq 0
expect "the server is named without the blanks" grep -Eq $'^Server *: 127\\.0\\.0\\.81\r?$' "$dir/out.txt"

echo "== 6. A task-bar restart adds the icon again, the menu never opened"
dir=$(fresh Kairotsu.exe)
printf '[%s]\r\nBootUpdateTime=0\r\nUseNTPServer=127.0.0.61\r\n' "$user" >"$dir/Kairotsu.ini"
"$wine_run" "$dir/Kairotsu.exe" >"$dir/out.txt" 2>&1 &
run=$!
runs+=("$run")
# The program's icons that the shell holds, as e2e-driver lists them.
icon_count() { "$wine_run" "$driver" icons 2>/dev/null | grep -c '^icon '; }
has_icon() { (($(icon_count) >= 1)); }
expect "its icon is in the notification area" wait_until 20 has_icon
"$wine_run" "$driver" forget >"$dir/driver.txt" 2>&1
show "$dir/driver.txt"
expect "the shell has lost it, as a restarting task bar does" test "$(icon_count)" -eq 0
"$wine_run" "$driver" taskbar-created >"$dir/driver.txt" 2>&1
show "$dir/driver.txt"
expect "the new task bar's \"TaskbarCreated\" brings it back" wait_until 10 has_icon
count=$(icon_count)
expect "once (got $count)" test "$count" -eq 1
"$wine_run" taskkill /im Kairotsu.exe >/dev/null 2>&1
expect "a close request ends the hidden program" wait_until 15 stopped "$run"

echo "== 7. Escape in a spin edit cancels what was typed; the edits take no more than their limit"
for edit in OffsetSec:987:98:5 OffsetMin:98765:9876:90 UpdateTime:98765:9876:45; do
  IFS=: read -r name typed limited stored <<<"$edit"
  echo " -- $name"
  dir=$(fresh Kairotsu.exe)
  # No server: the dialog opens at start.
  printf '[%s]\r\nBootUpdateTime=0\r\nOffsetSec=5\r\nOffsetMin=90\r\nUpdateTime=45\r\n' "$user" >"$dir/Kairotsu.ini"
  "$wine_run" "$dir/Kairotsu.exe" >"$dir/out.txt" 2>&1 &
  run=$!
  runs+=("$run")
  expect "the dialog is shown" wait_until 20 has_window
  "$wine_run" "$driver" type-escape "$name" "$typed" >"$dir/driver.txt" 2>&1
  show "$dir/driver.txt"
  expect "typing $typed shows $limited" grep -qx "typed: $limited" <(tr -d '\r' <"$dir/driver.txt")
  expect "Escape hides the dialog with $name back at $stored" \
    grep -qx "after Escape: $stored, dialog hidden" <(tr -d '\r' <"$dir/driver.txt")
  "$wine_run" taskkill /im Kairotsu.exe >/dev/null 2>&1
  expect "a close request ends the program" wait_until 15 stopped "$run"
  expect "$name=$stored is what it saved" grep -q "^$name=$stored"$'\r'"\$" "$dir/Kairotsu.ini"
done

echo "== 8. A one-shot run whose INI file is read-only ends on its own and says why"
dir=$(fresh KairotsuX1.exe)
printf '[%s]\r\nBootUpdateTime=1\r\nUseNTPServer=127.0.0.61\r\n' "$user" >"$dir/KairotsuX1.ini"
cp "$dir/KairotsuX1.ini" "$work/given.ini"
chmod a-w "$dir/KairotsuX1.ini"
start=$(now_ms)
status=0
TZ=Asia/Tokyo timeout 60 "$wine_run" "$dir/KairotsuX1.exe" >"$dir/out.txt" 2>&1 || status=$?
elapsed=$(($(now_ms) - start))
show "$dir/out.txt"
expect "it ended by itself after ${elapsed} ms (within 30 s)" test "$elapsed" -lt 30000
expect "status 5: the clock was set, the settings were not saved (got $status)" test "$status" -eq 5
expect "it said so on the console" grep -q '^Kairotsu: Can not save to IniFile' "$dir/out.txt"
expect "the INI file is as it was" cmp -s "$dir/KairotsuX1.ini" "$work/given.ini"

echo "== 9. A dialog saved at 5000,5000 (on a monitor since removed) opens where it can be seen"
dir=$(fresh Kairotsu.exe)
# No server: the dialog opens at start.
printf '[%s]\r\nSetupTop=5000\r\nSetupLeft=5000\r\nBootUpdateTime=0\r\n' "$user" >"$dir/Kairotsu.ini"
"$wine_run" "$dir/Kairotsu.exe" >"$dir/out.txt" 2>&1 &
run=$!
runs+=("$run")
expect "the dialog is shown" wait_until 20 has_window
win=$(setup_window)
read -r sw sh < <(xwininfo -root | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w, h}')
if [[ -n $win ]]; then
  read -r x y w h < <(xwininfo -id "$win" |
    awk '/Absolute upper-left X:/ {x=$NF} /Absolute upper-left Y:/ {y=$NF} /Width:/ {w=$2} /Height:/ {h=$2}
         END {print x, y, w, h}')
  expect "it lies on the ${sw}x${sh} screen (at $x,$y, ${w}x${h})" \
    test "$x" -ge 0 -a "$y" -ge 0 -a $((x + w)) -le "$sw" -a $((y + h)) -le "$sh"
fi
"$wine_run" taskkill /im Kairotsu.exe >/dev/null 2>&1
expect "a close request hides it" wait_until 10 no_window
"$wine_run" taskkill /im Kairotsu.exe >/dev/null 2>&1
expect "the next one ends the program" wait_until 15 stopped "$run"
top=$(tr -d '\r' <"$dir/Kairotsu.ini" | sed -n 's/^SetupTop=//p')
left=$(tr -d '\r' <"$dir/Kairotsu.ini" | sed -n 's/^SetupLeft=//p')
expect "the place it saved is on the screen too ($left,$top)" \
  test -n "$top" -a -n "$left" -a "${left:-0}" -ge 0 -a "${left:-0}" -lt "$sw" -a "${top:-0}" -ge 0 -a "${top:-0}" -lt "$sh"


echo "== 10. Shift-JIS names: ソフトX1.exe in a folder 表示 (ソ and 表 end in the byte of '\\')"
# Linux names are UTF-8; Wine hands them to the program in CP932.
dir=$(mktemp -d "$work/case.XXXXXX")/表示
mkdir "$dir"
cp "$exe" "$dir/ソフトX1.exe"
printf '[%s]\r\nBootUpdateTime=1\r\nUseNTPServer=127.0.0.61\r\n' "$user" >"$dir/ソフトX1.ini"
before=$(requests_to 127.0.0.61)
status=0
TZ=Asia/Tokyo timeout 60 "$wine_run" "$dir/ソフトX1.exe" >"$dir/out.txt" 2>&1 || status=$?
show "$dir/out.txt"
expect "status 0: the one-shot run applied the reply (got $status)" test "$status" -eq 0
expect "its server came from ソフトX1.ini: one request reached it" test "$(($(requests_to 127.0.0.61) - before))" -eq 1
expect "NTP.lst was written beside the program" test -f "$dir/NTP.lst"
expect "and has the 22 servers" test "$(grep -c '' "$dir/NTP.lst" 2>/dev/null)" -eq 22
expect "ソフトX1.ini got the other keys: one section, nine keys" \
  test "$(grep -c "^\[$user\]" "$dir/ソフトX1.ini")" -eq 1 -a "$(grep -c = "$dir/ソフトX1.ini")" -eq 9
expect "no other file was made there (got: $(ls "$dir" | tr '\n' ' '))" \
  test "$(ls "$dir" | grep -Evc '^(NTP\.lst|Kairotsu\.log(\.lock)?|ソフトX1\.(exe|ini|ini\.lock)|out\.txt)$')" -eq 0
expect "nothing was written outside the folder" test "$(ls "$(dirname "$dir")")" = 表示

echo "== 11. INI files as Notepad saves them: UTF-8, UTF-16LE and UTF-16BE, each with its byte order mark"
# Another user's section holds characters that CP932 cannot (é, an emoji): it stays as it was.
given='[other]\r\nName=é😀\r\n[%s]\r\nBootUpdateTime=1\r\nUseNTPServer=127.0.0.61\r\n'
added='SetupTop=0\r\nSetupLeft=0\r\nServerList=-1\r\nOffsetSec=0\r\nOffsetMin=0\r\nUpdateTime=30\r\nCheckTiming=0\r\n'
for encoding in UTF-8 UTF-16LE UTF-16BE; do
  echo " -- $encoding"
  case $encoding in UTF-8) bom='\xEF\xBB\xBF' ;; UTF-16LE) bom='\xFF\xFE' ;; *) bom='\xFE\xFF' ;; esac
  dir=$(fresh KairotsuX1.exe)
  { printf "$bom"; printf "$given" "$user" | iconv -f UTF-8 -t "$encoding"; } >"$dir/KairotsuX1.ini"
  { printf "$bom"; printf "$given$added" "$user" | iconv -f UTF-8 -t "$encoding"; } >"$dir/expected.ini"
  before=$(requests_to 127.0.0.61)
  status=0
  TZ=Asia/Tokyo timeout 60 "$wine_run" "$dir/KairotsuX1.exe" >"$dir/out.txt" 2>&1 || status=$?
  show "$dir/out.txt"
  expect "status 0: the reply was applied (got $status)" test "$status" -eq 0
  expect "the server came from the file: one request reached it" test "$(($(requests_to 127.0.0.61) - before))" -eq 1
  expect "the file still starts with its byte order mark" \
    test "$(head -c "$(printf "$bom" | wc -c)" "$dir/KairotsuX1.ini" | od -An -tx1)" = "$(printf "$bom" | od -An -tx1)"
  text=$(tail -c +"$(($(printf "$bom" | wc -c) + 1))" "$dir/KairotsuX1.ini" | iconv -f "$encoding" -t UTF-8 2>/dev/null)
  expect "it has one section for $user" test "$(grep -c "^\[$user\]" <<<"$text")" -eq 1
  expect "which got the other keys in $encoding; the other user's section kept its bytes" \
    cmp -s "$dir/KairotsuX1.ini" "$dir/expected.ini"
  sed 's/\r$//; s/^/       | /' <<<"$text"
done

if ((failures)); then
  echo "run-e2e.sh: $failures check(s) failed" >&2
  exit 1
fi
echo "run-e2e.sh: all checks passed"
