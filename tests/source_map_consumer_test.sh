#!/usr/bin/env bash
# The maps vavizar writes, read by the most used consumer there is: the
# `source-map` package of the npm registry (pinned below), installed once into
# the build folder. For each map, tests/source_map_consumer.js compares its
# originalPositionFor with `vavizar where --json` at a spread of places.
#
#   tests/source_map_consumer_test.sh REPO BUILD_DIR VAVIZAR SAMPLE_PROGRAM
#
# The maps: the random page of SAMPLE_PROGRAM (every kind of origin), and,
# when `vavizar asp --help` offers --map, pages 1 and 2 of template set 1 of
# the example site as server-page code (asp --map) and as execute code
# (exec --map). Exit status 77 (skipped) when Node.js is missing and cannot
# be installed.
set -euo pipefail
repo=$(realpath "$1")
build=$(realpath "$2")
vavizar=$(realpath "$3")
sample=$(realpath "$4")
version=0.7.4

if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  if [[ $(id -u) -eq 0 ]] && command -v apt-get >/dev/null; then
    echo "installing Debian's nodejs and npm" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends nodejs npm \
      >/dev/null || { apt-get update -qq >/dev/null &&
      DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends nodejs npm \
        >/dev/null; }
  else
    echo "SKIPPED: node and npm are not installed and installing them needs root" \
      "(apt-get install nodejs npm)" >&2
    exit 77
  fi
fi

# The consumer, once per build folder.
npm_dir="$build/npm/source-map-$version"
module="$npm_dir/node_modules/source-map"
if [[ ! -f "$module/package.json" ]] ||
  ! grep -q "\"version\": \"$version\"" "$module/package.json"; then
  mkdir -p "$npm_dir"
  npm install --prefix "$npm_dir" --no-save --no-audit --no-fund --loglevel=error \
    "source-map@$version" >&2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

check() {  # check PAGE KINDS...: PAGE.map compared, each of KINDS seen
  local page=$1
  shift
  KINDS="$*" node "$repo/tests/source_map_consumer.js" "$module" "$vavizar" "$page"
}

"$sample" "$work/sample.asp"
check "$work/sample.asp" template code generated converted

if "$vavizar" asp --help | grep -q -- '--map'; then
  db="$work/site.db"
  sqlite3 -bail "$db" <"$repo/examples/site/site.sql"
  for page in 1 2; do
    for command in asp exec; do
      out="$work/$command-$page.txt"
      "$vavizar" "$command" --db "$db" --templates "$repo/examples/site/templates" \
        --codepage 936 --map "$out.map" 1 "$page" >"$out"
    done
    check "$work/asp-$page.txt" template code generated
    check "$work/exec-$page.txt" converted
  done
else
  echo "vavizar asp has no --map yet: only the sample page was checked" >&2
fi
