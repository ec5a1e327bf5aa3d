#!/usr/bin/env bash
# Installs what is missing, builds the library and the tools, and runs the demo: the driver,
# loaded by zkhost, dials a station of the zksim simulator over a pseudo-terminal, reads and
# writes its channels and hangs up. The files of the demo are in examples/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/install-deps.sh build
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZK_TESTS=OFF >/dev/null
ninja -C build/demo zkdrv zkhost zksim

link=/tmp/zkdemo-modem            # the DEVICE of examples/demo/demo.par
work=$(mktemp -d /tmp/zkdemo.XXXXXX)
trace=$work/zksim.trace
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

if [ -e "$link" ] || [ -L "$link" ]; then
  echo "demo: $link exists (is another demo running?); remove it and try again" >&2
  exit 1
fi
echo "==> zksim: the modem and station 5 on a pseudo-terminal ($link)"
build/demo/tools/zksim --quiet --par examples/demo/demo.par --scenario examples/demo/demo.scenario \
  --link "$link" --trace "$trace" --dial-delay 500 >"$work/zksim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -L "$link" ] && break; sleep 0.1; done
[ -L "$link" ] || { cat "$work/zksim.out" >&2; echo "demo: zksim did not start" >&2; exit 1; }

echo "==> zkhost: the driver dials the station and works its channels"
(cd "$work" && "$root/build/demo/tools/zkhost" --library "$root/build/demo/libzkdrv.so" \
  --script "$root/examples/demo/demo.zkh" "$root/examples/demo/demo.par")

echo
echo "==> the line as zksim saw it (hex trace, $trace)"
grep -v ' # ' "$trace" | cut -c12- | head -40
echo "..."
echo
echo "==> the end of the driver's log ($work/zkdemo.log)"
tail -n 15 "$work/zkdemo.log" 2>/dev/null | iconv -f CP1250 -t UTF-8 || true
echo
echo "demo finished; its files stay in $work"
