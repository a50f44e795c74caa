#!/usr/bin/env bash
# Builds the application (release) and starts it; arguments go to the application.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
exec build/release/trimora "$@"
