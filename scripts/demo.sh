#!/usr/bin/env bash
# Builds the library and the mimeengine program (build/), then shows the main job on the
# bundled examples: a message is unpacked (its part tree and its text are printed) and a
# message is composed from files (the path it went to is printed).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

cmake -S . -B build -G Ninja -DMIMEENGINE_BUILD_TOOLS=ON >/dev/null
cmake --build build --target mimeengine_cli block_tree_example
mimeengine=$root/build/mimeengine

out=$(mktemp -d "${TMPDIR:-/tmp}/mimeengine-demo.XXXXXX")
echo
echo "== Part tree of examples/messages/report.eml =="
"$mimeengine" unpack "$root/examples/messages/report.eml" -d "$out/report.parts"

echo
echo "== Its text, and its attachments saved into $out/saved =="
mkdir "$out/saved"
"$mimeengine" decode "$root/examples/messages/report.eml" -d "$out/saved"

echo
echo "== A message composed from examples/compose =="
c=$root/examples/compose
"$mimeengine" pack -o "$out/notes.eml" --header "$c/header.txt" --text "$c/note.txt" \
  --html "$c/note.html" --attach "$c/figures.csv" --attach "$c/dot.gif"
echo
echo "== ... and parsed back =="
"$mimeengine" unpack "$out/notes.eml" -d "$out/notes.parts"

echo
echo "Everything the demo wrote is in $out"
