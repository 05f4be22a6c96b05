#!/usr/bin/env bash
# Builds the fuzz targets through the fuzz preset (clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer) into build/fuzz, replays
# each seed corpus and fuzzes each target. The targets are the files
# fuzz/NAME_fuzz.cc (each says at its top what it checks); a new file is a
# new target, fuzzed for the default budget.
#
#   scripts/fuzz.sh short   replays the corpora, then fuzzes about 2 minutes in all
#   scripts/fuzz.sh long    fuzzes each target for FUZZ_SECONDS (default 4 hours)
# New inputs go to build/fuzz/corpus/NAME; a failing input is written to
# build/fuzz/ and the script exits non-zero. Copy findings into
# fuzz/corpus/NAME and add them to the target's unit tests.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
mode=${1:-short}

# Seconds of fuzzing for each target in the short run; others get the default.
declare -A short_budget=([expand_tag]=40 [execute_code]=20 [decoder]=20 [pipeline]=20 [check]=20)
default_short_budget=20

case "$mode" in
  short | long) ;;
  *)
    echo "usage: scripts/fuzz.sh short|long" >&2
    exit 2
    ;;
esac

targets=()
for source in fuzz/*_fuzz.cc; do
  name=${source#fuzz/}
  targets+=("${name%_fuzz.cc}")
done
if ((${#targets[@]} == 0)); then
  echo "fuzz.sh: no fuzz/*_fuzz.cc" >&2
  exit 1
fi

bash scripts/deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

out=build/fuzz
for target in "${targets[@]}"; do
  if [[ $mode == short ]]; then
    seconds=${short_budget[$target]:-$default_short_budget}
  else
    seconds=${FUZZ_SECONDS:-14400}
  fi
  binary=$out/fuzz/${target}_fuzz
  mkdir -p "$out/corpus/$target"
  max_len=4096
  [[ $target == expand_tag ]] && max_len=1024  # keeps each run of the literal passes short
  flags=(-timeout=20 -rss_limit_mb=2048 "-max_len=$max_len" -artifact_prefix="$out/$target-")
  [[ -f fuzz/$target.dict ]] && flags+=(-dict="fuzz/$target.dict")
  seeds=()
  if [[ -d fuzz/corpus/$target ]]; then
    seeds=("fuzz/corpus/$target")
    echo "== $target: replaying fuzz/corpus/$target" >&2
    "$binary" "${flags[@]}" -runs=0 "fuzz/corpus/$target"
  fi
  echo "== $target: fuzzing for $seconds s" >&2
  "$binary" "${flags[@]}" -max_total_time="$seconds" -print_final_stats=1 \
    "$out/corpus/$target" "${seeds[@]}"
done
