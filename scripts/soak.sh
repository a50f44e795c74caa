#!/usr/bin/env bash
# Builds the soak run and runs it under a virtual X server, printing resident
# memory, open descriptors and threads; exits non-zero when a target is missed.
#   scripts/soak.sh [LOADS]            optimised build in build/soak (200 loads)
#   SOAK_ASAN=1 scripts/soak.sh [N]    inside the sanitizer test build (build/test)
set -euo pipefail
cd "$(dirname "$0")/.."
loads=${1:-200}
if [ "${SOAK_ASAN:-0}" = 1 ]; then
  build=build/test
  cmake --preset test -DTRIMORA_SOAK=ON >/dev/null
  export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=0
  export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
  build=build/soak
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRIMORA_TESTS=OFF \
    -DTRIMORA_SOAK=ON >/dev/null
fi
cmake --build "$build" --target trimora_soak
bash tests/fixtures/generate.sh "$build/test-media"
export LC_ALL=C.UTF-8
xvfb-run -a -s '-screen 0 1280x1024x24' \
  "$build/bench/soak/trimora_soak" "$build/test-media" "$loads"
