#!/usr/bin/env bash
# Installs a built tree into a temporary prefix, checks that each installed
# header compiles on its own and that the class Page is not among them, then
# builds a small host, which knows only PagePtr and the connection opener,
# against the installed package twice, through find_package(Vantrel_VaviZar)
# and through pkg-config, and runs both on a one-page site.
#
#   bash cmake/package_test.sh BUILD_DIR CXX_COMPILER GENERATOR [CXX_FLAGS]
set -euo pipefail

build_dir=$1
cxx=$2
generator=$3
flags=${4:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/vz_package_XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build_dir" --prefix "$prefix" > "$work/install.log"
test -x "$prefix/bin/vavizar"
# The command runs its server program from where it was installed: the
# server itself says that the database cannot be opened.
status=0
"$prefix/bin/vavizar" serve --db "$work/none.db" --set 1 2> "$work/serve.log" || status=$?
if ((status != 2)) || ! grep -q "^vavizar serve: cannot open database" "$work/serve.log"; then
  echo "the installed vavizar serve does not reach its server program (status $status):" >&2
  cat "$work/serve.log" >&2
  exit 1
fi

# The public surface: the class Page and its test peer stay inside, and every
# installed header compiles on its own from the installed tree alone (so it
# includes nothing that is not installed).
include=$prefix/include/vavizar
if [[ -e $include/component/page.h ]] || grep -rl 'TestPeer' "$include"; then
  echo "the installed headers expose the class Page or a test peer" >&2
  exit 1
fi
mapfile -t headers < <(cd "$include" && find . -name '*.h' | sed 's|^\./||' | sort)
if ((${#headers[@]} == 0)); then
  echo "no header was installed under $include" >&2
  exit 1
fi
for header in "${headers[@]}"; do
  # shellcheck disable=SC2086
  if ! printf '#include "%s"\n' "$header" |
    "$cxx" -std=c++20 $flags -fsyntax-only -I"$include" -x c++ - 2> "$work/header.log"; then
    echo "the installed header $header does not compile on its own:" >&2
    cat "$work/header.log" >&2
    exit 1
  fi
done

# The site: page 1 uses a tag, page 2's template is missing.
mkdir -p "$work/site/templates" "$work/consumer"
sqlite3 "$work/site/site.db" <<'SQL'
CREATE TABLE web_templet (page_id INTEGER, tset_id INTEGER, tmpl_file TEXT);
CREATE TABLE web_page2func (page_id INTEGER, FunID INTEGER);
CREATE TABLE web_tag (tag_name TEXT, FunID INTEGER, tag_note TEXT, tag_code TEXT);
INSERT INTO web_templet VALUES (1, 1, 'a.html');
INSERT INTO web_templet VALUES (2, 1, 'missing.html');
INSERT INTO web_tag VALUES ('t', NULL, '', 'Response.Write 1');
SQL
printf '<p><!--t--></p>' > "$work/site/templates/a.html"

cat > "$work/consumer/main.cc" <<'CC'
#include <iostream>

#include "component/page_ptr.h"
#include "platform/ado/open.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  vz::com::Ref<vz::ado::DatabaseConnection> db = vz::ado::OpenConnection(vz::FromUtf8(argv[1]));
  vz::PagePtr page = vz::PagePtr::Create();
  page.PutRefConnection(db.get());
  page.PutTempletRoot(vz::FromUtf8(argv[2]));
  std::cout << vz::ToUtf8(page.CreateAspCode(u"1", u"1")) << "\n";
  std::cout << "errors after page 1: " << page.GetErrors().size() << "\n";
  page.CreateAspCode(u"1", u"2");
  std::cout << vz::ToUtf8(page.GetErrors());
  return 0;
}
CC
cat > "$work/consumer/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(consumer LANGUAGES CXX)
find_package(Vantrel_VaviZar 1 REQUIRED)
add_executable(consumer main.cc)
target_link_libraries(consumer PRIVATE Vantrel_VaviZar::page)
CMAKE

check() {
  local output
  output=$("$@" "$work/site/site.db" "$work/site/templates")
  local first=${output%%$'\n'*}
  if [[ $first != '<p><%Response.Write 1%></p>' ]]; then
    echo "unexpected code from $1: $output" >&2
    exit 1
  fi
  if [[ $output != *$'errors after page 1: 0\n'*' - [53] File not found'$'\r' ]]; then
    echo "unexpected log from $1: $output" >&2
    exit 1
  fi
}

cmake -S "$work/consumer" -B "$work/consumer/build" -G "$generator" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_PREFIX_PATH="$prefix" \
  > "$work/configure.log" || { cat "$work/configure.log"; exit 1; }
cmake --build "$work/consumer/build" > "$work/build.log" || { cat "$work/build.log"; exit 1; }
check "$work/consumer/build/consumer"

if ! command -v pkg-config > /dev/null; then
  echo "the installed package builds and runs through find_package;" \
       "pkg-config is not installed, so its file was not tried"
  exit 0
fi
# shellcheck disable=SC2046,SC2086
"$cxx" $flags -o "$work/consumer-pc" "$work/consumer/main.cc" \
  $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs vantrel-vavizar)
check "$work/consumer-pc"
echo "the installed package builds and runs through find_package and pkg-config"
