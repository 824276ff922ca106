#!/usr/bin/env bash
# Installs what the build needs, builds the library and the mimeengine program optimised
# (build-demo/), then shows the main job on the bundled examples: a message is unpacked (its
# part tree and its text are printed) and a message is composed from files and parsed back.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

./scripts/install-deps.sh build tools
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DMIMEENGINE_BUILD_TOOLS=ON \
  -DMIMEENGINE_BUILD_TESTS=OFF >/dev/null
cmake --build build-demo --target mimeengine_cli block_tree_example
mimeengine=$root/build-demo/mimeengine

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
echo "== Where the outputs are =="
echo "  program:               $mimeengine"
echo "  unpacked report.eml:   $out/report.parts"
echo "  saved attachments:     $out/saved"
echo "  composed message:      $out/notes.eml"
echo "  ... parsed back:       $out/notes.parts"
