#!/usr/bin/env bash
# The live view of zkhost driven once in a real terminal (tmux) against zksim: the window's
# lines appear, a watched channel follows a dial, and `quit` ends zkhost with status 0.
#   live_view_tmux.sh ZKHOST ZKSIM LIBRARY SOURCE-DIR
set -euo pipefail
zkhost=$1 zksim=$2 library=$3 source=$4
work=$(mktemp -d)
socket="zklive$$"
sim_pid=
cleanup() {
  tmux -L "$socket" kill-server 2>/dev/null || true
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "live view: $*" >&2; echo "---- screen:" >&2; screen >&2 || true; exit 1; }
screen() { tmux -L "$socket" capture-pane -p -t live; }
wait_for() {  # TEXT SECONDS
  for _ in $(seq $(( $2 * 10 ))); do screen | grep -qF -- "$1" && return 0; sleep 0.1; done
  fail "no '$1' on the screen after $2 s"
}

"$zksim" --quiet --par "$source/examples/demo/demo.par" --link "$work/modem" --dial-delay 200 >"$work/zksim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -L "$work/modem" ] && break; sleep 0.1; done
[ -L "$work/modem" ] || { cat "$work/zksim.out" >&2; echo "zksim did not start" >&2; exit 1; }
sed "s|DEVICE /tmp/zkdemo-modem|DEVICE $work/modem|; s|LOG_FILE .*|LOG_FILE \" $work/live.log\"|" \
  "$source/examples/demo/demo.par" >"$work/site.par"

export LANG=C.UTF-8 LC_ALL=C.UTF-8
tmux -L "$socket" -u new-session -d -s live -x 100 -y 45 \
  "cd '$work' && '$zkhost' --library '$library' run '$work/site.par'; echo \"exit=\$?\" > '$work/exit'; sleep 30"
wait_for "-- EventList" 15
wait_for "Stav ovlada" 5
wait_for "Inicializace AT-modemu" 15
tmux -L "$socket" send-keys -t live "watch st1.connected st1.bi.1" Enter
wait_for "st1.connected" 5
tmux -L "$socket" send-keys -t live "dial 1" Enter
wait_for "st1.connect (476) := 1" 5
for _ in $(seq 300); do screen | grep -E -q 'st1\.connected +478  1 ' && break; sleep 0.1; done
screen | grep -E -q 'st1\.connected +478  1 ' || fail "the watched st1.connected did not become 1"
wait_for "připojena" 5
tmux -L "$socket" send-keys -t live "quit" Enter
for _ in $(seq 300); do [ -s "$work/exit" ] && break; sleep 0.1; done
[ -s "$work/exit" ] || fail "zkhost did not end after quit"
grep -qx "exit=0" "$work/exit" || fail "zkhost ended with $(cat "$work/exit")"
echo "live view: ok"
