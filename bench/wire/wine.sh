#!/usr/bin/env bash
# A whole update (EEPROM read, erase, EEPROM written back, flash programmed and verified) of a
# paced ATmega644P with the chip's write times and a 64 KB random flash, by the Linux
# q40prog-cli and by q40prog-cli.exe under Wine through COM7, in alternating samples against a
# fresh q40prog-boxsim each; prints each time and the medians.
#     bench/wire/wine.sh [SAMPLES]        default 3; needs build/ and build-windows/
# (scripts/test-windows makes both). Run it on an otherwise idle machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
linux=${Q40_BUILD_DIR:-$root/build}
win=${Q40_WINDOWS_BUILD_DIR:-$root/build-windows}
samples=${1:-3}
work=$win/bench-wire
rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX=$win/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

python3 - "$work" <<'EOF'
import random, sys
rng = random.Random(644)
data = bytes(rng.randrange(256) for _ in range(65536))
with open(sys.argv[1] + "/firmware.hex", "w") as out:
    for at in range(0, len(data), 16):
        if at % 0x10000 == 0:
            out.write(":020000040000FA\n")
        chunk = data[at:at + 16]
        record = bytes([len(chunk), (at >> 8) & 0xFF, at & 0xFF, 0]) + chunk
        out.write(":" + record.hex().upper() + "%02X\n" % (-sum(record) & 0xFF))
    out.write(":00000001FF\n")
EOF

box_pid=""
trap '[ -n "$box_pid" ] && kill "$box_pid" 2>/dev/null; wineserver -k 2>/dev/null || true' EXIT
start_box() {
    rm -f "$work/box.out"
    "$linux/sim/q40prog-boxsim" --baud-pace --write-delays >"$work/box.out" 2>/dev/null &
    box_pid=$!
    until [ -s "$work/box.out" ]; do sleep 0.05; done
    pty=$(head -n 1 "$work/box.out")
}
stop_box() {
    kill "$box_pid"
    wait "$box_pid" 2>/dev/null || true
    box_pid=""
}
# The seconds one update takes, from the start of the program to its end.
timed() {
    local start end
    start=$(date +%s.%N)
    "$@" >"$work/run.out" 2>&1 || { cat "$work/run.out" >&2; exit 1; }
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

wineboot --init >/dev/null 2>&1
: >"$work/linux.times"
: >"$work/wine.times"
for i in $(seq "$samples"); do
    start_box
    t=$(XDG_DATA_HOME=$work/data timed "$linux/cli/q40prog-cli" program --port "$pty" \
        --firmware "$work/firmware.hex")
    stop_box
    echo "$t" >>"$work/linux.times"
    start_box
    wine reg add 'HKLM\Software\Wine\Ports' /v COM7 /t REG_SZ /d "$pty" /f >/dev/null 2>&1
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    # Wine's services start with the first program after the mapping; a technician's Windows
    # has them running. The start of the program itself is counted.
    wine "$win/cli/q40prog-cli.exe" ports >/dev/null 2>&1
    t=$(timed wine "$win/cli/q40prog-cli.exe" program --port COM7 --firmware "$work/firmware.hex")
    stop_box
    echo "$t" >>"$work/wine.times"
    printf 'sample %d: Linux %.2f s, Wine %.2f s\n' "$i" "$(tail -n 1 "$work/linux.times")" "$t"
done
lm=$(median <"$work/linux.times")
wm=$(median <"$work/wine.times")
printf 'median of %d: Linux %.2f s, Wine %.2f s (Wine/Linux %.3f)\n' "$samples" "$lm" "$wm" \
    "$(echo "$wm / $lm" | bc -l)"
