#!/usr/bin/env bash
# Formats every tracked C++ source (*.cc, *.h, *.cpp) with clang-format-14 and
# the repository's .clang-format.
#
#   scripts/format.sh           rewrites the files that differ, in place
#   scripts/format.sh --check   changes nothing: lists the files that differ
#                               and exits 1 when there are any
# Exit status 2: bad usage, or clang-format could not read a file.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
check=0
case "${1:-}" in
  "") ;;
  --check) check=1 ;;
  *)
    echo "usage: scripts/format.sh [--check]" >&2
    exit 2
    ;;
esac

bash scripts/deps.sh
clang_format=clang-format-14
mapfile -t files < <(git ls-files -- '*.cc' '*.h' '*.cpp')
if ((${#files[@]} == 0)); then
  echo "format.sh: no C++ sources tracked" >&2
  exit 1
fi

if [[ ! -f .clang-format ]]; then
  echo "format.sh: no .clang-format at the top of the repository" >&2
  exit 2
fi

formatted=$(mktemp)
trap 'rm -f "$formatted"' EXIT
differ=()
for file in "${files[@]}"; do
  if ! "$clang_format" --style=file "$file" >"$formatted"; then
    echo "format.sh: $clang_format failed on $file" >&2
    exit 2
  fi
  cmp -s "$formatted" "$file" || differ+=("$file")
done
if ((${#differ[@]} == 0)); then
  echo "format.sh: ${#files[@]} files follow .clang-format"
  exit 0
fi
if ((check)); then
  echo "format.sh: these files differ from .clang-format (run bash scripts/format.sh):" >&2
  printf '  %s\n' "${differ[@]}" >&2
  exit 1
fi
"$clang_format" --style=file -i "${differ[@]}"
printf 'formatted %s\n' "${differ[@]}"
