#!/usr/bin/env bash
# A fuzzing campaign: builds every libFuzzer target with clang (AddressSanitizer,
# UndefinedBehaviorSanitizer), runs each for MINUTES (default 15) as one fuzzing process with
# its dictionary, as many targets at once as there are cores, and merges the inputs that
# reach new code into fuzz/corpus/<target>/ as found-<first 12 hex digits of their SHA-1>.
# Files already there are kept. One process per target makes its executions per second a
# figure per core; a process stops at its first crash, which is then reported.
#
#   scripts/fuzz.sh [MINUTES]     (a fraction such as 1.5 is fine)
#
# Environment: FUZZ_BUILD (build directory, default build-fuzz), FUZZ_JOBS (targets run at
# once, default all cores), FUZZ_TARGETS (names to run, default all), FUZZ_OUT (where crashes
# and logs go, default a fresh directory in TMPDIR), ASAN_OPTIONS (added to the one below).
# It ends with one line per target: executions, executions per second, coverage, new corpus
# files and crashes; the exit status is 1 when a target crashed.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-15}
seconds=$(awk -v m="$minutes" 'BEGIN { printf "%d", m * 60 }') # MINUTES may be a fraction
[ "$seconds" -gt 0 ] || { echo "fuzz.sh: MINUTES must be above 0, not '$minutes'" >&2; exit 2; }
build=${FUZZ_BUILD:-build-fuzz}
jobs=${FUZZ_JOBS:-$(nproc 2>/dev/null || echo 1)}
out=${FUZZ_OUT:-$(mktemp -d "${TMPDIR:-/tmp}/mimeengine-fuzz-run.XXXXXX")}
mkdir -p "$out"

# AddressSanitizer holds freed memory back from reuse until 64 MB more has been freed, not
# its default 256 MB: still many times what one input frees, so a use after free within a
# run is caught, while the allocator keeps reusing memory that is still in the caches (a
# fifth more executions a second on the targets that make many files). ASAN_OPTIONS given
# by the caller come after and win.
export ASAN_OPTIONS="quarantine_size_mb=64${ASAN_OPTIONS:+:$ASAN_OPTIONS}"

command -v clang++ >/dev/null 2>&1 || ./scripts/install-deps.sh fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
      -DCMAKE_CXX_COMPILER=clang++ -DMIMEENGINE_FUZZ=ON -DMIMEENGINE_BUILD_TESTS=OFF -DMIMEENGINE_BUILD_TOOLS=OFF >/dev/null
targets=${FUZZ_TARGETS:-$(for f in fuzz/*_fuzz.cpp; do basename "$f" _fuzz.cpp; done)}
cmake --build "$build" -j "$jobs" --target $(for t in $targets; do printf '%s_fuzz ' "$t"; done)

# One target: fuzz for the given time, then merge what it found into the corpus, minimised.
campaign() {
  local t=$1 corpus=fuzz/corpus/$1 dict=() d
  mkdir -p "$corpus" "$out/$t.new"
  # flatdecode reads whole messages, as unpack does, and shares its dictionary.
  for d in "fuzz/$t.dict" "fuzz/${t/#flatdecode/unpack}.dict"; do
    [ -f "$d" ] && dict=(-dict="$d") && break
  done
  echo "== $t: $minutes min; log $out/$t.log"
  # libFuzzer writes what it finds into the first directory; the corpus is only read.
  "$build/fuzz/${t}_fuzz" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=30 -print_final_stats=1 \
      "${dict[@]}" -artifact_prefix="$out/$t-" "$out/$t.new" "$corpus" >"$out/$t.log" 2>&1 || true
  # Minimised: of the new inputs only those that reach code that a copy of the corpus does
  # not (edges, not hit counts: -use_counters=0 keeps the corpus and CI's replays small).
  rm -rf "$out/$t.merged" && cp -r "$corpus" "$out/$t.merged"
  "$build/fuzz/${t}_fuzz" -merge=1 -use_counters=0 -rss_limit_mb=2048 -timeout=30 "$out/$t.merged" "$out/$t.new" \
      >"$out/$t.merge.log" 2>&1 || true
  local added=0 f name
  for f in "$out/$t.merged"/*; do
    name=$(basename "$f")
    [ -e "$corpus/$name" ] && continue
    cp "$f" "$corpus/found-$(sha1sum "$f" | cut -c1-12)"
    added=$((added + 1))
  done
  # The last statistics line: "#RUNS ... cov: C ft: F corp: N/S lim: L exec/s: E rss: R".
  local stats crashes
  stats=$(grep -E '^#[0-9]+.* cov: ' "$out/$t.log" | tail -n 1 || true)
  crashes=$(find "$out" -maxdepth 1 -name "$t-*" -type f | wc -l)
  printf '%-16s runs %-10s exec/s %-6s cov %-6s new corpus files %-4s crashes %s\n' "$t" \
      "$(sed -E 's/^#([0-9]+).*/\1/' <<<"$stats")" "$(sed -E 's/.*exec\/s:? ([0-9]+).*/\1/' <<<"$stats")" \
      "$(sed -E 's/.*cov: ([0-9]+).*/\1/' <<<"$stats")" "$added" "$crashes" >"$out/$t.summary"
}

running=0
for t in $targets; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  campaign "$t" &
  running=$((running + 1))
done
wait

echo "== $minutes min per target, $jobs targets at once; crashes and logs in $out"
status=0
for t in $targets; do
  cat "$out/$t.summary"
  grep -q 'crashes 0$' "$out/$t.summary" || status=1
done
find "$out" -maxdepth 1 -type f \( -name '*-crash-*' -o -name '*-leak-*' -o -name '*-timeout-*' -o -name '*-oom-*' \) \
    -printf 'found: %p\n'
exit "$status"
