#!/usr/bin/env bash
# Times the engine against the copy floor (cat of the same input to an output file), the io
# floor (the same reads and writes through user space, bench/io_floor) and GMime 3, side by
# side in one run, and prints a Markdown table. Not a CI step: timings on a
# shared machine are only comparable within one run.
#
#   bench/compare.sh [BUILD_DIR] [LABEL=BUILD_DIR]...
#
# BUILD_DIR (default build-release) is configured and built in Release mode when it has no
# mimeengine program yet; every further LABEL=BUILD_DIR adds a column (a baseline build, say).
# Environment: BENCH_CACHE (inputs, default /dev/shm/mimeengine-bench-inputs), BENCH_OUT
# (outputs, on tmpfs, default /dev/shm/mimeengine-bench-out), RUNS (default 5).
# The GMime column needs libgmime-3.0-dev (scripts/install-deps.sh bench).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build-release}
shift || true
cache=${BENCH_CACHE:-/dev/shm/mimeengine-bench-inputs}
out=${BENCH_OUT:-/dev/shm/mimeengine-bench-out}
runs=${RUNS:-5}

if [ ! -x "$build/mimeengine" ] || [ ! -x "$build/bench/unpack_many" ] || [ ! -x "$build/bench/io_floor" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMIMEENGINE_BUILD_TESTS=OFF >/dev/null
  nice cmake --build "$build" -j2 --target mimeengine_cli unpack_many io_floor >/dev/null
fi

echo "inputs: $cache" >&2
nice python3 "$here/make_inputs.py" "$cache"

gmime=-
if pkg-config --exists gmime-3.0 2>/dev/null; then
  gmime=$build/bench/gmime_driver
  cc -O2 -o "$gmime" "$here/gmime_driver.c" $(pkg-config --cflags --libs gmime-3.0)
else
  echo "*** GMime 3 not found (pkg-config gmime-3.0): the GMime column is SKIPPED." >&2
  echo "*** Install it with scripts/install-deps.sh bench." >&2
fi

echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, Linux $(uname -r), load $(cut -d' ' -f1-3 /proc/loadavg)" >&2
python3 "$here/timing.py" "$cache" "$out" "$runs" "$gmime" "$@" "this build=$build"
