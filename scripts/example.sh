#!/usr/bin/env bash
# The main job on the example site: builds the project, creates the example
# database build/example/site.db from examples/site/site.sql (afresh on each
# run), and prints the server-page code and the execute code of the home page
# and the Chinese page (saved in GBK). Every page of the site is generated
# once as a check; the script fails when any of them logs a line.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/deps.sh
werror=OFF
[[ "${CI:-}" == "true" ]] && werror=ON
cmake --preset release -DVZ_WERROR="$werror" >/dev/null
cmake --build --preset release

vavizar=build/release/cli/vavizar
db=build/example/site.db
templates=examples/site/templates
mkdir -p build/example
rm -f "$db"
sqlite3 -bail "$db" <examples/site/site.sql

failed=0

# show HEADER ARGS...: prints HEADER, then what `vavizar ARGS...` writes.
show() {
  local header=$1 status=0
  shift
  printf '\n== %s\n' "$header"
  "$vavizar" "$@" || status=$?
  printf '\n'
  if ((status != 0)); then
    echo "example.sh: vavizar $* exited with status $status" >&2
    failed=1
  fi
}

# check SET PAGE: generates the page both ways without printing it.
check() {
  local command status
  for command in asp exec; do
    status=0
    "$vavizar" "$command" --db "$db" --templates "$templates" --codepage 936 "$1" "$2" \
      >/dev/null || status=$?
    if ((status != 0)); then
      echo "example.sh: vavizar $command ... $1 $2 exited with status $status" >&2
      failed=1
    fi
  done
}

show "server-page code of page 1 of template set 1 (vavizar asp)" \
  asp --db "$db" --templates "$templates" 1 1
show "execute code of the same page (vavizar exec)" \
  exec --db "$db" --templates "$templates" 1 1
show "the Chinese page 4 of set 1, read in GBK (vavizar asp --codepage 936)" \
  asp --db "$db" --templates "$templates" --codepage 936 1 4

for page in 1 2 3 4; do check 1 "$page"; done
check 2 1

if ((failed)); then
  echo "example.sh: some pages of the example site failed" >&2
  exit 1
fi
printf '\nEvery page of the example site generates without a log line.\n'
