#!/bin/sh
# The launcher's performance benchmark, the one command: installs what is
# missing, builds the launcher (native preset, Release) and the bench's own
# programs in build/bench, measures, and writes docs/performance.md.
# Options go to bench/bench.py (--help lists them).
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh
exec python3 bench/bench.py --command "bench/run.sh${*:+ $*}" "$@"
