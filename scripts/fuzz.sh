#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) into build/fuzz, replays each seed corpus and
# fuzzes each target:
#   expand_tag     the fast tag expansion against the literal passes
#   execute_code   the one-pass execute code against the literal conversion
#   decoder        any bytes in each code page, whole and in pieces
#   pipeline       a page from a template and tag rows, against the row loop
#
#   scripts/fuzz.sh short   replays the corpora, then fuzzes about 2 minutes in all
#   scripts/fuzz.sh long    fuzzes each target for FUZZ_SECONDS (default 4 hours)
# New inputs go to build/fuzz/corpus/TARGET; a failing input is written to
# build/fuzz/ and the script exits non-zero. Copy findings into
# fuzz/corpus/TARGET and add them to the target's unit tests.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
mode=${1:-short}
case "$mode" in
  short) budget=(expand_tag:50 execute_code:20 decoder:20 pipeline:30) ;;
  long)
    s=${FUZZ_SECONDS:-14400}
    budget=(expand_tag:$s execute_code:$s decoder:$s pipeline:$s)
    ;;
  *)
    echo "usage: scripts/fuzz.sh short|long" >&2
    exit 2
    ;;
esac

bash scripts/deps.sh
out=build/fuzz
mkdir -p "$out"

common=(platform/text.cc platform/memory.cc platform/failure.cc)
sources_of() {
  case "$1" in
    expand_tag) echo fuzz/expand_tag_fuzz.cc generate/expand_tag.cc "${common[@]}" ;;
    execute_code) echo fuzz/execute_code_fuzz.cc execute/execute_code.cc "${common[@]}" ;;
    decoder)
      echo fuzz/decoder_fuzz.cc platform/fso/decoder.cc platform/fso/encoder.cc \
        platform/fso/code_page.cc platform/ascii.cc "${common[@]}"
      ;;
    pipeline)
      echo fuzz/pipeline_fuzz.cc generate/asp_code.cc generate/expand_tag.cc \
        execute/execute_code.cc platform/ado/cell.cc "${common[@]}"
      ;;
  esac
}

for entry in "${budget[@]}"; do
  target=${entry%%:*}
  seconds=${entry##*:}
  binary=$out/${target}_fuzz
  read -r -a sources <<<"$(sources_of "$target")"
  if [[ ! -x $binary ]] || [[ -n $(find "${sources[@]}" tests/*.h generate/*.h execute/*.h \
    platform/*.h platform/fso/*.h -newer "$binary" 2>/dev/null) ]]; then
    echo "building $binary" >&2
    clang++ -std=c++20 -O1 -g -fno-omit-frame-pointer \
      -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
      -I. "${sources[@]}" -o "$binary"
  fi
  mkdir -p "$out/corpus/$target"
  max_len=4096
  [[ $target == expand_tag ]] && max_len=1024  # keeps each run of the literal passes short
  flags=(-timeout=20 -rss_limit_mb=2048 -max_len=$max_len -artifact_prefix="$out/$target-")
  [[ -f fuzz/$target.dict ]] && flags+=(-dict="fuzz/$target.dict")
  echo "== $target: replaying fuzz/corpus/$target" >&2
  "$binary" "${flags[@]}" -runs=0 "fuzz/corpus/$target"
  echo "== $target: fuzzing for $seconds s" >&2
  "$binary" "${flags[@]}" -max_total_time="$seconds" -print_final_stats=1 \
    "$out/corpus/$target" "fuzz/corpus/$target"
done
