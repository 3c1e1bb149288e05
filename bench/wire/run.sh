#!/usr/bin/env bash
# Builds bench_wire and the simulator, then runs a whole update (EEPROM read, erase, EEPROM
# written back, flash programmed and verified) of a paced ATmega644P (64 KB random flash) and
# ATmega2560 (256 KB) with the chip's write times, and a read (fuses, lock bits, the whole
# flash and EEPROM) and a verify of the whole flash of each: without adapter latency, with
# 1 ms and with 16 ms (a USB adapter's default latency timer). Takes about 30 minutes; extra
# arguments go to bench_wire instead, e.g. --latency 0 --chip ATmega644P.
# Run it on an otherwise idle machine: the simulator stands in for hardware with a
# processor of its own, and other load on the same cores shows up in the ratio.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${Q40_BUILD_DIR:-$root/build-bench}
cmake -S "$root" -B "$build" -DQ40_GUI=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target bench_wire q40prog-boxsim -j"$(nproc)" >/dev/null
if [ $# -eq 0 ]; then set -- --latency 0,1,16; fi
exec "$build/bench/wire/bench_wire" "$@"
