#!/bin/sh
# adversarial.sh ADVERSARIAL_RUN SHARED_DIR: generates the shared hostile messages at a small
# scale and runs them through every parsing entry point; exits 77 without the generator.
gen="${MIMEENGINE_SHARED_DIR:-$2}/adversarial/gen_adversarial.py"
[ -f "$gen" ] || { echo "no $gen: skipped"; exit 77; }
dir=$(mktemp -d) && trap 'rm -rf "$dir"' EXIT || exit 1
python3 "$gen" "$dir/cases" --scale 0.01 >/dev/null || exit 1
"$1" "$dir/cases" --no-budget | tee "$dir/out"
# The summary line: "N runs, 0 failed; ..." with more than 150 runs.
awk '/^[0-9]+ runs, 0 failed;/ { ok = $1 > 150 } END { exit !ok }' "$dir/out"
