#!/usr/bin/env bash
# Builds the sanitizer test build and runs every test under a virtual X server.
# Extra arguments go to ctest, e.g. scripts/test.sh -R model_loading
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --test
cmake --preset test >/dev/null
cmake --build --preset test
xvfb-run -a -s '-screen 0 1280x1024x24' ctest --preset test "$@"
