#!/usr/bin/env bash
# Times `vavizar build` on a generated site of 1,000 pages against a shell
# loop that runs `vavizar asp` once per page, and checks that both give the
# same bytes; and `vavizar build --map` beside `vavizar build`.
#
#   bash bench/site_build.sh [VAVIZAR]     (default: build/release/cli/vavizar)
#
# The site: 1,000 templates of about 20 KB each (PAGES=N for another
# number), 50 tag rows (10 that apply to every page, 40 in four functions of
# 10), each page attached to one function and using 10 tags (5 of each kind,
# some with attributes and content). Prints pages/s of both and their ratio,
# and `vavizar build` once more on a copy of the database with the page keys
# of web_templet and web_page2func indexed.
set -euo pipefail

vavizar=$(realpath "${1:-build/release/cli/vavizar}")
pages=${PAGES:-1000}
work=$(mktemp -d "${TMPDIR:-/tmp}/vz_site_bench_XXXXXX")
trap '[[ -n ${KEEP:-} ]] || rm -rf "$work"' EXIT
mkdir -p "$work/templates" "$work/loop"

# The database.
{
  echo "CREATE TABLE web_templet (page_id INTEGER, tset_id INTEGER, tmpl_file TEXT);"
  echo "CREATE TABLE web_page2func (page_id INTEGER, FunID INTEGER);"
  echo "CREATE TABLE web_tag (tag_name TEXT, FunID INTEGER, tag_note TEXT, tag_code TEXT);"
  echo "BEGIN;"
  for g in $(seq 0 9); do
    echo "INSERT INTO web_tag VALUES ('g$g', NULL, 'every page', 'Box$g w, h' || char(13,10) || '[data]' || char(13,10) || 'BoxEnd$g');"
  done
  for f in 1 2 3 4; do
    for k in $(seq 0 9); do
      echo "INSERT INTO web_tag VALUES ('f${f}t$k', $f, 'function $f', 'Response.Write Item$k(\"$f\")');"
    done
  done
  for p in $(seq 1 $pages); do
    echo "INSERT INTO web_templet VALUES ($p, 1, 'p$p.html');"
    echo "INSERT INTO web_page2func VALUES ($p, $(( p % 4 + 1 )));"
  done
  echo "COMMIT;"
} | sqlite3 "$work/site.db"

# The templates: about 20 KB of HTML each around 10 tags.
awk -v dir="$work/templates" -v pages=$pages 'BEGIN {
  filler = "<p class=\"text\">Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod.</p>\r\n";
  for (p = 1; p <= pages; p++) {
    f = dir "/p" p ".html";
    fn = p % 4 + 1;
    printf "<html><head><title>Page %d</title></head><body>\r\n", p > f;
    for (s = 0; s < 10; s++) {
      for (i = 0; i < 24; i++) printf "%s", filler > f;
      if (s % 2 == 0) {
        g = (p + s) % 10;
        printf "<!--g%d w=%d&h=%d--><b>box %d</b><!--/g%d-->\r\n", g, s, p, s, g > f;
      } else {
        printf "<div><!--f%dt%d--></div>\r\n", fn, (p + s) % 10 > f;
      }
    }
    printf "</body></html>\r\n" > f;
    close(f);
  }
}'

# The site's files reach the disk before anything is timed. On ext4 without
# a journal a new file passes over the inodes freed in the last seconds (the
# last few minutes while their blocks are not yet written back): the wait
# lets the removals of earlier runs age out of that window.
sync
sleep 6

now() { date +%s.%N; }

# timed_builds NAME DB [OPTION...]: vavizar build three times on DB, into
# the fresh folders NAME1..NAME3, with OPTIONs; sets times (the three, in s)
# and median. The folders stay until the end, so that no run makes its files
# just after many were removed (see the wait above).
timed_builds() {
  local name=$1 db=$2 run t0 t1
  shift 2
  times=()
  for run in 1 2 3; do
    t0=$(now)
    "$vavizar" build --db "$db" --templates "$work/templates" --set 1 \
      --out "$work/$name$run" "$@" 2> "$work/build.err"
    t1=$(now)
    times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')")
    cat "$work/build.err"
  done
  median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 2p)
}

# vavizar build; the median counts.
timed_builds build "$work/site.db"
build_times=("${times[@]}") build_median=$median

# The same with --map: each page's source map written beside it.
timed_builds map "$work/site.db" --map
map_times=("${times[@]}") map_median=$median

# A second --changed run after a first one: every page unchanged.
"$vavizar" build --db "$work/site.db" --templates "$work/templates" --set 1 \
  --out "$work/changed" --changed 2> /dev/null
t0=$(now)
"$vavizar" build --db "$work/site.db" --templates "$work/templates" --set 1 \
  --out "$work/changed" --changed 2> "$work/changed.err"
t1=$(now)
changed_time=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
cat "$work/changed.err"

# The same site with its page keys indexed, as a site of many pages wants
# them: without, both statements of every page read every row of their
# table, so that their cost grows with the square of the number of pages.
cp "$work/site.db" "$work/keyed.db"
sqlite3 "$work/keyed.db" "CREATE INDEX templet_keys ON web_templet (page_id, tset_id);
  CREATE INDEX page2func_page ON web_page2func (page_id);"
timed_builds keyed "$work/keyed.db"
keyed_times=("${times[@]}") keyed_median=$median

t1=$(now)
for p in $(seq 1 $pages); do
  "$vavizar" asp --db "$work/site.db" --templates "$work/templates" 1 "$p" > "$work/loop/$p.asp"
done
t2=$(now)

for p in $(seq 1 $pages); do
  cmp -s "$work/build3/$p.asp" "$work/loop/$p.asp" && cmp -s "$work/changed/$p.asp" "$work/loop/$p.asp" \
    && cmp -s "$work/map3/$p.asp" "$work/loop/$p.asp" && [[ -s $work/map3/$p.asp.map ]] \
    && cmp -s "$work/keyed3/$p.asp" "$work/loop/$p.asp" \
    || { echo "page $p differs" >&2; exit 1; }
done

awk -v pages=$pages -v b="$build_median" -v runs="${build_times[*]}" -v c="$changed_time" \
    -v m="$map_median" -v map_runs="${map_times[*]}" \
    -v k="$keyed_median" -v keyed_runs="${keyed_times[*]}" \
    -v t1="$t1" -v t2="$t2" -v size="$(du -sk "$work/templates" | cut -f1)" 'BEGIN {
  l = t2 - t1;
  printf "site: %d pages, %d KB of templates, 50 tag rows\n", pages, size;
  printf "vavizar build: %.3f s (median of %s), %.0f pages/s\n", b, runs, pages / b;
  printf "vavizar build --map: %.3f s (median of %s), %.2fx build\n", m, map_runs, m / b;
  printf "build --changed, nothing changed: %.3f s\n", c;
  printf "asp loop:      %.3f s, %.0f pages/s\n", l, pages / l;
  printf "ratio:         %.1fx\n", l / b;
  printf "page keys indexed: build %.3f s (median of %s), %.0f pages/s, %.1fx the asp loop\n", k, keyed_runs, pages / k, l / k;
}'
