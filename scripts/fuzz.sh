#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for a bounded time, seeded with
# tiny generated movies and the committed corpus.
#   scripts/fuzz.sh [SECONDS-PER-TARGET [TARGET...]]     (default 60 s, all targets)
# Findings land in build/fuzz/artifacts/<target>/; the grown corpus stays in
# build/fuzz/corpus/<target>/ and is reused by the next run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
scripts/install-deps.sh --fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
build=build/fuzz
bash tests/fuzz/make-seeds.sh "$build/seeds"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in tests/fuzz/fuzz_*.cpp; do
    t=${f##*/fuzz_}
    targets+=("${t%.cpp}")
  done
fi

status=0
for t in "${targets[@]}"; do
  corpus=$build/corpus/$t
  artifacts=$build/artifacts/$t
  mkdir -p "$corpus" "$artifacts" "$build/logs"
  cp -n "$build"/seeds/* "$corpus"/
  [ -d "tests/fuzz/corpus/$t" ] && cp -n "tests/fuzz/corpus/$t"/* "$corpus"/ 2>/dev/null || true
  log=$build/logs/$t.log
  echo "== fuzz_$t for ${seconds}s (log: $log)"
  # -timeout: one input taking this long is a hang; -rss_limit_mb: the default
  # cap, stated so that a memory blow-up counts as a finding.
  if ! "$build/tests/fuzz/fuzz_$t" "$corpus" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" >"$log" 2>&1; then
    echo "   FINDING: see $log and $artifacts/"
    status=1
  fi
  grep -E '^#[0-9]+[[:space:]]+(DONE|INITED)' "$log" | tail -2 | sed 's/^/   /' || true
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' \
    "$log" | sed 's/^/   /' || true
  echo "   corpus: $(find "$corpus" -type f | wc -l) files"
done
exit $status
