#!/usr/bin/env bash
# Fails when a C or C++ file of the repository is not formatted as .clang-format says.
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$format" ]; then
  echo "clang-format not found; formatting not checked"
  exit 0
fi
if ! git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  echo "not a git checkout; formatting not checked"
  exit 0
fi
bad=()
while IFS= read -r f; do
  "$format" --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done < <(git ls-files '*.cpp' '*.h' '*.c')
if [ ${#bad[@]} -gt 0 ]; then
  printf 'Not formatted (run clang-format -i on them):\n'
  printf '  %s\n' "${bad[@]}"
  exit 1
fi
echo "formatting: all files as .clang-format says"
