#!/usr/bin/env bash
# Mutation check of the test suite: builds a seeded sample of single-point mutants of the
# library in a scratch worktree and reports how many the tests kill. Tens of minutes.
# usage: scripts/mutants.sh [-n COUNT] [-s SEED] [-r REV] [-j JOBS] [--list] [--keep]
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 scripts/mutants.py "$@"
