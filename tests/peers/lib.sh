# shellcheck shell=bash
# Shared by the peer scripts beside it (sourced, not run). A peer runs from a folder of its own
# that the caller names and the peer script creates: every file of the peer lives there, and
# its processes carry the folder in their environment (KAIROTSU_PEER), so that stop finds all
# of them, also those started for a connection, and ends them by process id. Each peer runs
# under timeout, so it ends by itself after KAIROTSU_PEER_LIFETIME seconds (default 900) even
# when nobody stops it. The functions do not rely on set -e.

peer_fail() {
  echo "$(basename "$0"): $*" >&2
  exit 1
}

# peer_folder DIR: creates DIR, which must not exist yet or be empty; prints its full path.
peer_folder() {
  [[ -n ${1:-} ]] || peer_fail "no folder given"
  mkdir -p "$1" || peer_fail "cannot create $1"
  [[ -z $(ls -A "$1") ]] || peer_fail "$1 is not empty"
  (cd "$1" && pwd)
}

# peer_check_address ADDR PORT: only loopback addresses are served.
peer_check_address() {
  [[ $1 =~ ^127\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || peer_fail "$1 is not a loopback address"
  [[ $2 =~ ^[0-9]+$ ]] && (($2 > 0 && $2 < 65536)) || peer_fail "bad port $2"
}

# peer_launch DIR NAME COMMAND...: runs COMMAND in the background, bounded in time, with its
# output in DIR/NAME.log, and records the launcher's process id in DIR/peer.pid.
peer_launch() {
  local dir=$1 name=$2
  shift 2
  KAIROTSU_PEER=$dir setsid timeout -k 5 "${KAIROTSU_PEER_LIFETIME:-900}" "$@" \
    </dev/null >>"$dir/$name.log" 2>&1 &
  echo $! >>"$dir/peer.pid"
}

# peer_listening ADDR PORT: true when something listens on ADDR:PORT (TCP).
peer_listening() {
  ss -Hltn "src $1 and sport = :$2" 2>/dev/null | grep -q .
}

# peer_wait_listening DIR ADDR PORT NAME: waits up to 10 s for the listener; on failure shows
# the peer's log, stops it and fails.
peer_wait_listening() {
  local dir=$1 addr=$2 port=$3 name=$4
  for _ in $(seq 1 100); do
    peer_listening "$addr" "$port" && return 0
    sleep 0.1
  done
  echo "$(basename "$0"): $name does not listen on $addr:$port" >&2
  tail -n 20 "$dir"/*.log >&2 2>/dev/null
  peer_stop "$dir"
  exit 1
}

# peer_session PID: the session id of a process.
peer_session() {
  local stat session
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return
  stat=${stat##*) }  # past the command name, which may hold spaces
  read -r _ _ _ session _ <<<"$stat"
  echo "$session"
}

# peer_processes DIR: process ids of everything the peer in DIR runs: processes with DIR in
# their environment, or with an argument that names a file in DIR (a login script started for
# a connection). The peer runs in sessions of its own: processes in this shell's session, and
# this shell's callers, are never among them.
peer_processes() {
  local dir=$1 f p skip=" " q=$BASHPID own
  own=$(peer_session "$BASHPID")
  while [[ $q =~ ^[0-9]+$ ]] && ((q > 1)); do
    skip+="$q "
    q=$(awk '/^PPid:/ {print $2}' "/proc/$q/status" 2>/dev/null)
  done
  {
    grep -lszxF "KAIROTSU_PEER=$dir" /proc/[0-9]*/environ
    grep -lszE "^$(sed 's/[.[\*^$]/\\&/g' <<<"$dir")/" /proc/[0-9]*/cmdline
  } | while read -r f; do
    p=${f#/proc/}
    p=${p%%/*}
    [[ $skip == *" $p "* || $(peer_session "$p") == "$own" ]] || echo "$p"
  done | sort -u
}

# peer_stop DIR: ends every process of the peer (TERM, after 5 s KILL) and removes DIR.
peer_stop() {
  local dir=$1 pids p
  [[ -d $dir ]] || return 0
  dir=$(cd "$dir" && pwd)
  if [[ -f $dir/peer.pid ]]; then
    for p in $(cat "$dir/peer.pid"); do kill "$p" 2>/dev/null; done
  fi
  for _ in $(seq 1 50); do
    pids=$(peer_processes "$dir")
    [[ -z $pids ]] && break
    for p in $pids; do kill "$p" 2>/dev/null; done
    sleep 0.1
  done
  pids=$(peer_processes "$dir")
  for p in $pids; do kill -KILL "$p" 2>/dev/null; done
  for _ in $(seq 1 20); do
    [[ -z $(peer_processes "$dir") ]] && break
    sleep 0.1
  done
  rm -rf "$dir"
}
