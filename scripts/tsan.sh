#!/usr/bin/env bash
# Builds the tests that exercise worker threads with ThreadSanitizer and runs
# them under a virtual X server. Extra arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --test
cmake --preset tsan >/dev/null
cmake --build --preset tsan
xvfb-run -a -s '-screen 0 1280x1024x24' ctest --preset tsan "$@"
