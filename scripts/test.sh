#!/usr/bin/env bash
# Installs what the tests need, then builds and runs the whole test suite twice: a normal
# build (build/) and an AddressSanitizer + UndefinedBehaviorSanitizer build (build-asan/).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh build tools tests format dask
jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {
  local dir=$1; shift
  # Line tables only (-g1): enough for the sanitizers' stack traces, at less compile time.
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600
}

echo "== formatting =="
./scripts/check-format.sh

echo "== normal build =="
run_suite build
echo "== sanitizer build =="
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
run_suite build-asan -DMIMEENGINE_SANITIZE=ON
