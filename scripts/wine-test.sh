#!/usr/bin/env bash
# The Windows product run for real under Wine:
#   1. cross-builds zkdrv.dll and zkhost.exe for i686 and x86_64 (static: only Windows system
#      DLLs), and zksim for this machine, and checks the exports and imports of both pairs;
#   2. makes a private Wine prefix under build/wine and maps COM1 to zksim's pseudo-terminal
#      (HKLM\Software\Wine\Ports, value COM1);
#   3. on a virtual screen (Xvfb), for the 32-bit pair and for the 64-bit pair:
#      - the status window through the host's requests, with a COM port that does not exist;
#      - the demo (examples/demo) with the status window shown: a dial (the port is opened again),
#        reads, writes, a lost answer (the answer time-out) and the hang-up; the window is found
#        by its caption with xwininfo and kept as build/wine/status-window-<arch>.png;
#      - Done in the middle of a session, while the station is polled, in a host that never
#        handles its window messages;
#      - the port lost and found: zksim stopped in a connected session (the device behind COM1
#        gone), the loss reported once and the connection ended, zksim started again on the
#        same link with a new value, a dial that opens COM1 again and reads it;
#   4. for each pair, a session without any screen (no DISPLAY), where no window can be made:
#      Init, the modem, a dial, reads, the hang-up and Done, with the window's absence logged.
#
# Which Wine runs is decided by running it, not by what is installed: some machines cannot
# execute 32-bit programs at all (the 32-bit loader fails with "Exec format error" although
# wine32:i386 installs). Where the 32-bit loader runs, both pairs run through Debian's `wine`
# in a prefix of its own (build/wine/prefix). Where it does not, the 64-bit pair runs alone
# through the 64-bit loader itself (/usr/lib/wine/wine64, WINELOADER, a 64-bit prefix in
# build/wine/prefix64), and a box says that the 32-bit product was not run and why. It fails
# when neither loader runs.
#
#   ZK_WINE32=no scripts/wine-test.sh    takes the 64-bit-only path even where 32-bit Wine runs
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$root/build/wine
mkdir -p "$out"

step() { printf '\n==> %s\n' "$*"; }
fail() { echo "wine-test: $*" >&2; exit 1; }

# ---- 1. builds ----------------------------------------------------------------------------
cross() {  # cross DIR TOOLCHAIN
  cmake -S "$root" -B "$root/$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2" -DCMAKE_BUILD_TYPE=Release \
    -DZK_TESTS=OFF -DZK_TOOLS=ON >/dev/null
  ninja -C "$root/$1" -j 2 zkdrv zkhost
}
step "cross builds: 32-bit and 64-bit zkdrv.dll and zkhost.exe"
cross build/win32 mingw-i686.cmake
cross build/win64 mingw-x86_64.cmake
if [ ! -f build/release/build.ninja ]; then
  cmake -S "$root" -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
ninja -C build/release -j 2 zksim
zksim=$root/build/release/tools/zksim

step "exports and imports"
scripts/check-windows-exports.sh build/win32/zkdrv.dll build/win32/tools/zkhost.exe
scripts/check-windows-exports.sh build/win64/zkdrv.dll build/win64/tools/zkhost.exe

# ---- 2. Wine ------------------------------------------------------------------------------
# What runs, by running it (--version needs no prefix).
runs() { [ -x "$1" ] && "$1" --version >/dev/null 2>&1; }
wine32_why=
if [ "${ZK_WINE32:-}" = no ]; then
  wine32_why="ZK_WINE32=no asked for the 64-bit-only path"
elif [ ! -x /usr/lib/wine/wine ]; then
  wine32_why="32-bit Wine (wine32:i386) is not installed"
elif ! runs /usr/lib/wine/wine; then
  wine32_why="this machine cannot execute 32-bit programs: $( (/usr/lib/wine/wine --version 2>&1 || true) | tail -n1 | sed 's/.*: //')"
fi
arches=()
if [ -z "$wine32_why" ]; then
  command -v wine >/dev/null || fail "Wine is not installed (scripts/install-deps.sh test)"
  WINE=(/usr/bin/wine)
  export WINEPREFIX=$out/prefix
  arches=(win32)
  runs /usr/lib/wine/wine64 && arches+=(win64)
else
  runs /usr/lib/wine/wine64 || fail "neither the 32-bit nor the 64-bit Wine can run here ($wine32_why)"
  WINE=(/usr/lib/wine/wine64)
  export WINELOADER=/usr/lib/wine/wine64 WINEARCH=win64
  export WINEPREFIX=$out/prefix64
  arches=(win64)
  box() { printf '  ***  %-84s ***\n' "$@"; }
  {
    echo
    printf '  %s\n' "$(printf '*%.0s' $(seq 96))"
    box "The 32-bit product DLL (build/win32/zkdrv.dll) is NOT run here: it was built and its" \
        "exports and imports were checked, but no 32-bit Windows program ran." \
        "Why: $wine32_why." \
        "Only the 64-bit pair runs, through /usr/lib/wine/wine64 in a 64-bit prefix." \
        "Run this on a machine that executes 32-bit programs to test the product itself."
    printf '  %s\n' "$(printf '*%.0s' $(seq 96))"
    echo
  } >&2
fi
wine() { "${WINE[@]}" "$@"; }

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono or Gecko installer
run=$out/run
rm -rf "$run"
mkdir -p "$run"
link=$run/com1   # zksim's --link: COM1 points here for good
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

xvfb_pid=
sim_pid=
host_pid=
cleanup() {
  for pid in $host_pid $sim_pid $xvfb_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

step "a virtual screen"
exec 5>"$run/display"
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp >"$run/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 5>&-
for _ in $(seq 50); do [ -s "$run/display" ] && break; sleep 0.1; done
[ -s "$run/display" ] || fail "Xvfb did not start ($(cat "$run/xvfb.log"))"
DISPLAY=:$(head -n1 "$run/display")
export DISPLAY
echo "DISPLAY=$DISPLAY"

step "Wine prefix $WINEPREFIX, COM1 -> $link"
start=$(date +%s)
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wine wineboot -i >"$run/wineboot.log" 2>&1 || { cat "$run/wineboot.log" >&2; fail "wineboot failed"; }
fi
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$link" /f >/dev/null 2>&1
# No window manager runs on the virtual screen: Wine draws the frames and captions itself.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
set_dpi() { wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1; }
set_dpi 96
# The ports are mapped when the server starts. One server serves every run; its own messages
# (a hang-up of the pseudo-terminal when zksim stops, for one) go to its log.
restart_server() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wineserver -p >>"$run/wineserver.log" 2>&1 </dev/null
  # The services the server starts with the first program (and keeps) write there too, and
  # hold no pipe of a later program open.
  wine cmd /c exit >>"$run/wineserver.log" 2>&1 </dev/null || true
}
restart_server
echo "prefix ready in $(( $(date +%s) - start )) s"

# A copy of the demo's parameter file that reaches the modem as COM1 (no DEVICE).
sed '/^DEVICE /d' examples/demo/demo.par >"$run/demo-com1.par"
# The same with a port that does not exist.
sed -e '/^DEVICE /d' -e 's/DRIVER SYSTEM 1/DRIVER SYSTEM 99/' examples/demo/demo.par >"$run/no-port.par"
grep -q 'DRIVER SYSTEM 99' "$run/no-port.par" || fail "no-port.par: the DRIVER line was not found"
cat >"$run/mid-session.zkh" <<'EOF'
# dial, poll for a while, and stop the instance while the station is on line
until 60294 bool 1 20
write 476 bool 1
until 478 bool 1 30
write 472 bool 1
watch 3 1:bool 193:f64
EOF

# The demo's station without the fault at a fixed time: under Wine the start-up takes longer,
# so the lost answer is asked for from zksim's command input when the script reaches it.
grep -v '^at .* fault ' examples/demo/demo.scenario >"$run/demo.scenario"
# The port lost and found: the station comes back holding a new value in its QQ word, and the
# run logs to a file of its own, so that the loss is counted in it alone.
sed 's/^set 5 qq 0 16 0 int 4321$/set 5 qq 0 16 0 int 9876/' "$run/demo.scenario" >"$run/back.scenario"
grep -q 'qq 0 16 0 int 9876' "$run/back.scenario" || fail "back.scenario: the QQ word was not found"
sed 's/zkdemo\.log/zklost.log/' "$run/demo-com1.par" >"$run/lost-com1.par"
grep -q 'zklost.log' "$run/lost-com1.par" || fail "lost-com1.par: the LOG_FILE line was not found"
cat >"$run/lost-port.zkh" <<'EOF'
# dial and read, lose the device (zksim stops), dial again once it is back, read the new value
until 60294 bool 1 20
write 476 bool 1
until 478 bool 1 30
until 2001 u16 4321 15
print -- the device goes away now
until 478 bool 0 30
print -- the port is lost; waiting for the device to come back
wait 6
write 476 bool 1
until 478 bool 1 40
until 2001 u16 9876 15
print -- found again
EOF

start_sim() {  # start_sim NAME [SCENARIO]: zksim on $link, its command input on descriptor 6
  rm -f "$link" "$run/$1.in"
  mkfifo "$run/$1.in"
  "$zksim" --par examples/demo/demo.par --scenario "${2:-$run/demo.scenario}" --link "$link" \
    --trace "$run/$1.trace" --dial-delay 500 <"$run/$1.in" >"$run/$1.zksim.out" 2>&1 &
  sim_pid=$!
  exec 6>"$run/$1.in"
  for _ in $(seq 50); do [ -L "$link" ] && break; sleep 0.1; done
  [ -L "$link" ] || { cat "$run/$1.zksim.out" >&2; fail "zksim did not start"; }
}
stop_sim() {
  exec 6>&-
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
}

caption_prefix="Tervak-KR/TL2, MODEM, v.5.017: "

for arch in "${arches[@]}"; do
  bits=${arch#win}
  dir=$run/$arch          # zkdrv.dll beside zkhost.exe, as an integrator installs them
  mkdir -p "$dir"
  cp "build/$arch/zkdrv.dll" "build/$arch/tools/zkhost.exe" "$dir/"
  export ZKDRV_HISTORY_DIR
  ZKDRV_HISTORY_DIR=$(winpath "$dir")
  host=$(winpath "$dir/zkhost.exe")

  step "$bits-bit: the status window through the host's requests; COM99 does not exist"
  (cd "$dir" && wine "$host" --name "CHECK-$bits" --window-check "$(winpath "$run/no-port.par")" 2>&1 | tr -d '\r') \
    >"$dir/window-check.out" || true
  cat "$dir/window-check.out"
  grep -q "^window check: passed" "$dir/window-check.out" || fail "$bits-bit: the window check failed"
  grep -q "^Init:     false" "$dir/window-check.out" || fail "$bits-bit: Init with COM99 did not fail"
  grep -qx "zkhost: Init failed: Chyba instalace COM-portu !" "$dir/window-check.out" ||
    fail "$bits-bit: Init with COM99 did not give the port error text"

  step "$bits-bit: the demo with the status window shown"
  start_sim "demo-$arch"
  name="DEMO-$bits"
  (cd "$dir" && wine "$host" --name "$name" --show-window --script "$(winpath "$root/examples/demo/demo.zkh")" \
    "$(winpath "$run/demo-com1.par")") >"$dir/demo.raw" 2>&1 &
  host_pid=$!
  wait_for() {  # wait_for TEXT: until zkhost printed it (or ended)
    for _ in $(seq 1800); do
      grep -qF -- "$1" "$dir/demo.raw" 2>/dev/null && return 0
      kill -0 "$host_pid" 2>/dev/null || return 1
      sleep 0.1
    done
    return 1
  }
  # When the values have been read, the event list shows the dial and the polls.
  wid=
  if wait_for "QQ items"; then
    sleep 1.5   # a refresh of the status lines (about once a second) and of the view
    xwininfo -root -tree >"$dir/xwininfo.txt" 2>&1 || true
    wid=$(grep -F "\"$caption_prefix$name\"" "$dir/xwininfo.txt" | awk '{print $1}' | head -n1 || true)
    if [ -n "$wid" ]; then
      import -window "$wid" "$out/status-window-$arch.png" 2>"$dir/import.log" ||
        import -window root "$out/status-window-$arch.png" 2>>"$dir/import.log" || true
    fi
  fi
  # One answer gets lost (a write of the binary output, or a counter read): the driver counts
  # the time-out (channel 450) and carries on.
  if wait_for "binary output 1"; then echo "fault station 5 silence" >&6; fi
  wait "$host_pid" && rc=0 || rc=$?
  host_pid=
  stop_sim
  tr -d '\r' <"$dir/demo.raw" >"$dir/demo.out"
  cat "$dir/demo.out"
  [ "$rc" -eq 0 ] || fail "$bits-bit: the demo failed (zkhost status $rc)"
  [ -n "$wid" ] || { cat "$dir/xwininfo.txt" >&2; fail "$bits-bit: no window \"$caption_prefix$name\" on the screen"; }
  grep -F "\"$caption_prefix$name\"" "$dir/xwininfo.txt"
  [ -s "$out/status-window-$arch.png" ] || fail "$bits-bit: no screenshot"
  echo "screenshot: $out/status-window-$arch.png"
  # The answer time-out of the lost answer, counted in channel 450.
  timeouts=$(awk '$1 == "450" { for (i = 2; i < NF; i++) if ($i == "=") v = $(i + 1) } END {print v + 0}' "$dir/demo.out")
  [ "$timeouts" -ge 1 ] || fail "$bits-bit: the lost answer was not counted as a time-out (450 = $timeouts)"
  # The dial (OutputRequest kind 29) opened the port again: two opens of \\.\COM1 in the log.
  opens=$(iconv -f CP1250 -t UTF-8 "$dir/zkdemo.log" | grep -c 'port : \\\\.\\COM1' || true)
  printf '%s\n' "opens of \\\\.\\COM1 in the log: $opens; answer time-outs: $timeouts"
  [ "$opens" -ge 2 ] || fail "$bits-bit: the dial did not open the port again (opens: $opens)"

  step "$bits-bit: Done in the middle of a session, in a host that never handles window messages"
  start_sim "mid-$arch"
  (cd "$dir" && wine "$host" --name "MID-$bits" --no-pump --script "$(winpath "$run/mid-session.zkh")" \
    "$(winpath "$run/demo-com1.par")" 2>&1 | tr -d '\r') >"$dir/mid-session.out" && rc=0 || rc=$?
  stop_sim
  cat "$dir/mid-session.out"
  [ "$rc" -eq 0 ] || fail "$bits-bit: the session failed (zkhost status $rc)"
  done_ms=$(awk '$1 == "Done:" {print $2}' "$dir/mid-session.out")
  [ -n "$done_ms" ] || fail "$bits-bit: Done did not return"
  # Done closes the port and waits for the worker's pass: far below a second; 3 s is a hang.
  [ "$done_ms" -lt 3000 ] || fail "$bits-bit: Done took $done_ms ms in the middle of a session"

  step "$bits-bit: the port lost in the middle of a session and found again"
  start_sim "lost-$arch"
  (cd "$dir" && wine "$host" --name "LOST-$bits" --script "$(winpath "$run/lost-port.zkh")" \
    "$(winpath "$run/lost-com1.par")") >"$dir/lost-port.raw" 2>&1 &
  host_pid=$!
  wait_in() {  # wait_in FILE TEXT: until zkhost printed it (or ended)
    for _ in $(seq 1800); do
      grep -qF -- "$2" "$1" 2>/dev/null && return 0
      kill -0 "$host_pid" 2>/dev/null || return 1
      sleep 0.1
    done
    return 1
  }
  if wait_in "$dir/lost-port.raw" "the device goes away now"; then
    stop_sim
    if wait_in "$dir/lost-port.raw" "waiting for the device to come back"; then start_sim "back-$arch" "$run/back.scenario"; fi
  fi
  wait "$host_pid" && rc=0 || rc=$?
  host_pid=
  stop_sim
  tr -d '\r' <"$dir/lost-port.raw" >"$dir/lost-port.out"
  cat "$dir/lost-port.out"
  lost_log=$(iconv -f CP1250 -t UTF-8 "$dir/zklost.log")
  grep -F ' ztracen: ' <<<"$lost_log" || true
  [ "$rc" -eq 0 ] || fail "$bits-bit: the lost-port session failed (zkhost status $rc)"
  # Reported once, in the event list (logged under AddToMemo) with COM1's name and a reason.
  lost=$(grep -c 'AddToMemo : Port \\\\.\\COM1 ztracen: .' <<<"$lost_log" || true)
  [ "$lost" -eq 1 ] || fail "$bits-bit: the lost port was reported $lost times (1 expected)"
  # The dial after the device came back opened COM1 again: at least three opens (Init, the dial
  # on the first zksim, the dial on the second one).
  opens=$(grep -c 'port : \\\\.\\COM1' <<<"$lost_log" || true)
  printf '%s\n' "lost-port reports: $lost; opens of \\\\.\\COM1: $opens"
  [ "$opens" -ge 3 ] || fail "$bits-bit: the dial did not open the lost port again (opens: $opens)"
done

step "${arches[0]#win}-bit: the status window at 120 DPI"
set_dpi 120
restart_server
dir=$run/${arches[0]}
(cd "$dir" && wine "$(winpath "$dir/zkhost.exe")" --name "DPI-120" --window-check "$(winpath "$run/no-port.par")" 2>&1 |
  tr -d '\r') >"$dir/window-check-120.out" || true
set_dpi 96
grep -E '^window check: (screen|client|passed|.*FAILED)' "$dir/window-check-120.out" || true
grep -q "^window check: screen 120 DPI, client area 421 x 376" "$dir/window-check-120.out" ||
  fail "the window at 120 DPI is not 421 x 376"
grep -q "^window check: passed" "$dir/window-check-120.out" || fail "the window check at 120 DPI failed"

# No screen at all: every program of this server runs without DISPLAY, so no window can be made
# (CreateWindowExW fails after WM_NCCREATE). The instance works on without its window.
cat >"$run/no-display.zkh" <<'EOF'
# the modem, a dial, reads and the hang-up, with no window anywhere
until 60294 bool 1 20
write 476 bool 1
until 478 bool 1 30
write 472 bool 1
until 1 bool 1 15
until 2001 u16 4321 15
write 476 bool 0
until 478 bool 0 30
EOF
sed 's/zkdemo\.log/zknodisplay.log/' "$run/demo-com1.par" >"$run/no-display.par"
grep -q 'zknodisplay.log' "$run/no-display.par" || fail "no-display.par: the LOG_FILE line was not found"
saved_display=$DISPLAY
unset DISPLAY
restart_server
for arch in "${arches[@]}"; do
  bits=${arch#win}
  dir=$run/$arch
  step "$bits-bit: a session without a screen (no window can be made)"
  start_sim "nodisplay-$arch"
  (cd "$dir" && wine "$(winpath "$dir/zkhost.exe")" --name "NODISPLAY-$bits" --script "$(winpath "$run/no-display.zkh")" \
    "$(winpath "$run/no-display.par")" 2>&1 | tr -d '\r') >"$dir/no-display.out" && rc=0 || rc=$?
  stop_sim
  cat "$dir/no-display.out"
  [ "$rc" -eq 0 ] || fail "$bits-bit: the session without a screen failed (zkhost status $rc)"
  grep -q '^Done: ' "$dir/no-display.out" || fail "$bits-bit: Done did not return without a screen"
  nowindow=$(iconv -f CP1250 -t UTF-8 "$dir/zknodisplay.log" | grep -F 'StatusWindow : not created: ' || true)
  [ -n "$nowindow" ] || fail "$bits-bit: the log does not say that the status window could not be made"
  printf '%s\n' "$nowindow"
done
DISPLAY=$saved_display
export DISPLAY

step "Wine scenarios passed: ${arches[*]}"
ls -l "$out"/status-window-*.png
