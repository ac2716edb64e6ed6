#!/usr/bin/env bash
# Runs SntpClientTest under Wine against chrony and the SNTP test server, each on loopback
# addresses of its own (127.0.0.30 to .46). Whatever happens, everything started here is
# stopped (by process id) and the temporary folder removed.
#   SntpClientTest.sh WINE-RUN TEST.exe
set -uo pipefail
wine_run=$1
exe=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bin=${KAIROTSU_NATIVE_BIN:-$here/../../build/native/tools}
server=$bin/sntp-server
work=$(mktemp -d /tmp/kairotsu-sntp.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

if [[ ! -x $server ]]; then
  echo "SntpClientTest.sh: $server is missing; build the native preset first" >&2
  exit 1
fi

# chrony as a local server that never touches the clock (-x, and no right to set it anyway).
chrony_addr=127.0.0.31
cat >"$work/chrony.conf" <<CONF
bindaddress $chrony_addr
port 123
local stratum 8
allow 127.0.0.0/8
cmdport 0
pidfile $work/chronyd.pid
driftfile $work/chrony.drift
CONF
chrony_user=()
if id _chrony >/dev/null 2>&1; then
  chown _chrony "$work" 2>/dev/null || chrony_user=(-u root)
fi
chrony_skip=
if command -v chronyd >/dev/null; then
  setpriv --bounding-set=-sys_time --inh-caps=-sys_time \
    chronyd -x -d "${chrony_user[@]}" -f "$work/chrony.conf" >"$work/chronyd.log" 2>&1 &
  pids+=($!)
  chrony_ok=
  for _ in $(seq 1 50); do
    if "$server" --probe "$chrony_addr" --timeout 200 >/dev/null; then chrony_ok=1; break; fi
    kill -0 "${pids[-1]}" 2>/dev/null || break
    sleep 0.1
  done
  if [[ -z $chrony_ok ]]; then
    chrony_skip="no valid reply from chronyd on $chrony_addr: $(tail -n 3 "$work/chronyd.log" | tr '\n' ' ')"
  fi
else
  chrony_skip="chronyd is not installed"
fi
if [[ -n $chrony_skip ]]; then
  echo "SntpClientTest.sh: chrony test skipped: $chrony_skip"
  export KAIROTSU_SNTP_CHRONY_SKIP=$chrony_skip
else
  export KAIROTSU_SNTP_CHRONY=$chrony_addr
fi

# The test server: one endpoint per behaviour.
modes=(normal mode3 zero-transmit wrong-originate kiss leap3 other-port other-address long none twice spoof-then-real
  hold keyed-md5 keyed-sha1)
args=(--lifetime 240 --record "$work/requests.txt" --spoof-from 127.0.0.30)
servers=
n=32
for m in "${modes[@]}"; do
  addr=127.0.0.$n
  case $m in
    normal | spoof-then-real) args+=(--serve "$addr,mode=$m,offset=3250,delay=200") ;;
    hold) args+=(--serve "$addr,mode=normal,offset=3250,hold=300") ;;
    *) args+=(--serve "$addr,mode=$m") ;;
  esac
  servers+="$m=$addr;"
  n=$((n + 1))
done
"$server" "${args[@]}" >"$work/sntp-server.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 50); do
  grep -q ready "$work/sntp-server.log" 2>/dev/null && break
  sleep 0.1
done
if ! grep -q ready "$work/sntp-server.log"; then
  echo "SntpClientTest.sh: the SNTP test server did not start:" >&2
  cat "$work/sntp-server.log" >&2
  exit 1
fi
export KAIROTSU_SNTP_SERVERS=${servers%;}

"$wine_run" "$exe"
rc=$?

# Every request the client sent is the 48-byte client request: 0x1B, 39 zero bytes, a stamp.
requests=$(grep -c . "$work/requests.txt" 2>/dev/null || echo 0)
bad=$(grep -Ev '^[0-9.]+ [0-9.]+:[0-9]+ 48 1b0{78}[0-9a-f]{16}$' "$work/requests.txt" 2>/dev/null)
if [[ $requests -lt ${#modes[@]} ]]; then
  echo "SntpClientTest.sh: the test server saw only $requests requests" >&2
  rc=1
elif [[ -n $bad ]]; then
  echo "SntpClientTest.sh: malformed requests reached the server:" >&2
  echo "$bad" >&2
  rc=1
fi
exit $rc
