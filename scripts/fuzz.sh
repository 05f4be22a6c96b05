#!/usr/bin/env bash
# Builds the tag-expansion fuzz target (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) into build/fuzz and runs it against the literal
# passes.
#   scripts/fuzz.sh short   replays the seed corpus, then fuzzes for about 60 s
#   scripts/fuzz.sh long    fuzzes for FUZZ_SECONDS (default 4 hours)
# New inputs go to build/fuzz/corpus; a failing input is written to build/fuzz/
# and the script exits non-zero. Copy findings into fuzz/corpus/expand_tag and
# add them to the golden table.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
mode=${1:-short}
case "$mode" in
  short) seconds=60 ;;
  long) seconds=${FUZZ_SECONDS:-14400} ;;
  *)
    echo "usage: scripts/fuzz.sh short|long" >&2
    exit 2
    ;;
esac

bash scripts/deps.sh
out=build/fuzz
mkdir -p "$out/corpus"
binary=$out/expand_tag_fuzz
sources=(fuzz/expand_tag_fuzz.cc generate/expand_tag.cc platform/text.cc platform/memory.cc
  platform/failure.cc)
if [[ ! -x $binary ]] || [[ -n $(find "${sources[@]}" tests/expand_tag_*.h generate/*.h platform/*.h \
  -newer "$binary" 2>/dev/null) ]]; then
  echo "building $binary" >&2
  clang++ -std=c++20 -O1 -g -fno-omit-frame-pointer \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I. "${sources[@]}" -o "$binary"
fi

flags=(-timeout=20 -rss_limit_mb=2048 -max_len=1024 -dict=fuzz/expand_tag.dict
  -artifact_prefix="$out/")
echo "replaying fuzz/corpus/expand_tag" >&2
"$binary" "${flags[@]}" -runs=0 fuzz/corpus/expand_tag
echo "fuzzing for $seconds s" >&2
"$binary" "${flags[@]}" -max_total_time="$seconds" -print_final_stats=1 \
  "$out/corpus" fuzz/corpus/expand_tag
