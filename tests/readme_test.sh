#!/usr/bin/env bash
# Runs the command examples of README.md the way a reader would, on a clean
# copy of the example site, and compares what each prints with what the
# README shows, so that the README cannot drift from the command.
#
#   tests/readme_test.sh REPO BUILD_DIR
#
# The examples are the ```console blocks: a line "$ COMMAND" (continued on
# the next line after a trailing "\") runs COMMAND in bash from the top of the
# copy, and the lines up to the next "$ " line are what it writes to stdout
# and stderr. Every block runs in one shell, in order, so a variable one
# exports reaches the later ones. Compared after dropping CR and trailing
# line breaks, with timings ("0.01 s") and log dates taken for any, and the
# copy's folder written as $PWD.
set -euo pipefail
repo=$(realpath "$1")
build=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The copy: the example site, the database made from it, and the built
# programs where the README's paths expect them.
cp -r "$repo/examples" "$work/examples"
mkdir -p "$work/build/example" "$work/build/release/cli" "$work/build/release/component" \
  "$work/build/release/examples" "$work/steps"
ln -s "$build/cli/vavizar" "$work/build/release/cli/vavizar"
ln -s "$build/component/Vantrel_VaviZar.so" "$work/build/release/component/Vantrel_VaviZar.so"
ln -s "$build/examples/late-bound-host" "$work/build/release/examples/late-bound-host"
sqlite3 -bail "$work/build/example/site.db" <"$repo/examples/site/site.sql"

# The steps: steps/N.cmd and steps/N.out.
awk -v dir="$work/steps" '
  # A block may stand indented in a list; its lines lose that indent.
  /^ *```console[[:space:]]*$/ { inside = 1; indent = index($0, "`") - 1; next }
  inside && /^ *```[[:space:]]*$/ { inside = 0; continuing = 0; next }
  !inside { next }
  { $0 = substr($0, indent + 1) }
  continuing { print > (dir "/" n ".cmd"); continuing = /\\$/; next }
  /^\$ / { n++; printf "" > (dir "/" n ".out"); print substr($0, 3) > (dir "/" n ".cmd");
           continuing = /\\$/; next }
  n > 0 { print > (dir "/" n ".out") }
' "$repo/README.md"
steps=$(find "$work/steps" -name '*.cmd' | wc -l)
if ((steps == 0)); then
  echo "readme_test: README.md has no console examples" >&2
  exit 1
fi

# One shell runs them all, each with its output in steps/N.actual.
script="$work/run.sh"
{
  echo 'cd "$(dirname "$0")"'
  echo 'export LC_ALL=C.UTF-8 VAVIZAR_COM_REGISTRY="$PWD/registry.txt"'
  echo 'export PATH="$PWD/build/release/cli:$PATH"'
  for ((i = 1; i <= steps; i++)); do
    echo "{"
    cat "$work/steps/$i.cmd"
    echo "} >steps/$i.actual 2>&1 || true"
  done
} >"$script"
(cd "$work" && env -u VAVIZAR_DB -u VAVIZAR_ODBC -u VAVIZAR_TEMPLATES -u VAVIZAR_CODEPAGE \
  bash "$script")

# Timings and log dates vary from run to run; the copy's folder is shown as
# $PWD.
normal() {
  # $(...) drops the trailing line breaks; printf ends the text with one.
  printf '%s\n' "$(tr -d '\r' <"$1" |
    sed -E -e "s#$work#\$PWD#g" -e 's/[0-9]+\.[0-9]+ s\b/N.NN s/g' \
      -e 's#[0-9]{4}/[0-9]{1,2}/[0-9]{1,2}( [0-9]{1,2}:[0-9]{2}:[0-9]{2})? - #DATE - #g')"
}
passed=0
failed=0
for ((i = 1; i <= steps; i++)); do
  if diff -u <(normal "$work/steps/$i.out") <(normal "$work/steps/$i.actual") \
    >"$work/diff" 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "README example $i: \$ $(head -n 1 "$work/steps/$i.cmd")" >&2
    sed 's/^/    /' "$work/diff" >&2
  fi
done
echo "$passed passed, $failed failed"
((failed == 0))
