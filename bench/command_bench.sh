#!/usr/bin/env bash
# Times the whole `vavizar asp` and `vavizar exec` process on generated pages,
# beside the `sqlite3` shell running the same two statements on the same
# database and `iconv -f UTF-8 -t UTF-16LE` on the same template file.
#
#   bash bench/command_bench.sh [VAVIZAR]   (default: build/release/cli/vavizar)
#
# Environment: RUNS (timed runs per command, default 10), REFERENCE (a
# vavizar whose outputs every workload must reproduce byte for byte; default
# the measured binary itself, run once more), KEEP=1 keeps the work folder.
# Uses hyperfine when it is installed, else its own loop of RUNS runs; prints
# medians in ms.
#
# Workloads, each with its own database and template file:
#   tiny   a 9-character page and one tag row
#   w1     1M characters with 10,000 <!--box w=1&h=2-->..<!--/box--> tags
#   w3     5,000 tag rows, a 100K-character page using 200 of the names in
#          about 1,000 tags, half of them with k=v and content
#   html   10M characters of HTML with about 150,000 <%...%> blocks, no tag
# and w1, w3 and html again with every input doubled (w1x2, w3x2, htmlx2).
# Then w1, w1x2 and w3 once more with --map (a source map written beside the
# page; its bytes too must equal the reference's), and the ratio to without.
set -euo pipefail

vavizar=$(realpath "${1:-build/release/cli/vavizar}")
reference=$(realpath "${REFERENCE:-$vavizar}")
runs=${RUNS:-10}
work=$(mktemp -d "${TMPDIR:-/tmp}/vz_command_bench_XXXXXX")
trap '[[ -n ${KEEP:-} ]] || rm -rf "$work"' EXIT

for tool in sqlite3 iconv awk; do
  command -v "$tool" > /dev/null || { echo "command_bench: $tool is missing" >&2; exit 2; }
done

readonly kSchema="CREATE TABLE web_templet (page_id INTEGER, tset_id INTEGER, tmpl_file TEXT);
CREATE TABLE web_page2func (page_id INTEGER, FunID INTEGER);
CREATE TABLE web_tag (tag_name TEXT, FunID INTEGER, tag_note TEXT, tag_code TEXT);
INSERT INTO web_templet VALUES (1, 1, 'page.html');"
readonly kBoxCode="'BoxStart w, h' || char(13,10) || '[data]' || char(13,10) || 'BoxEnd'"

# make_workload NAME SQL: a folder NAME with site.db (the schema, then SQL);
# the caller writes NAME/page.html.
make_workload() {
  mkdir -p "$work/$1"
  printf '%s\nBEGIN;\n%s\nCOMMIT;\n' "$kSchema" "$2" | sqlite3 "$work/$1/site.db"
}

make_tiny() {
  make_workload tiny "INSERT INTO web_tag VALUES ('a', NULL, '', $kBoxCode);"
  printf '<!--a-->.' > "$work/tiny/page.html"
}

# make_w1 NAME SCALE: 1M x SCALE characters, 10,000 x SCALE box tags.
make_w1() {
  make_workload "$1" "INSERT INTO web_tag VALUES ('box', NULL, '', $kBoxCode);"
  awk -v n=$((10000 * $2)) 'BEGIN {
    filler = "<div class=\"item\"><p>Lorem ipsum dolor sit.</p></div>\r\n";
    for (i = 0; i < n; i++) printf "%s<!--box w=1&h=2--><b>%05d</b><!--/box-->\r\n", filler, i % 100000;
  }' > "$work/$1/page.html"
}

# make_w3 NAME SCALE: 5,000 x SCALE rows, 100K x SCALE characters, 1,000 x
# SCALE tags of 200 x SCALE names.
make_w3() {
  local rows=$((5000 * $2)) tags=$((1000 * $2)) names=$((200 * $2))
  make_workload "$1" "$(awk -v rows=$rows 'BEGIN {
    for (i = 0; i < rows; i++) {
      code = (i % 2) ? "'\''Response.Write \"t" i "\" & k'\''" \
                     : "'\''If k Then'\'' || char(13,10) || '\''[data]'\'' || char(13,10) || '\''End If'\''";
      printf "INSERT INTO web_tag VALUES ('\''t%d'\'', NULL, '\'''\'', %s);\n", i, code;
    }
  }')"
  awk -v tags=$tags -v names=$names -v rows=$rows 'BEGIN {
    filler = "<tr><td class=\"cell\">some text</td><td>more text here</td><td></td></tr>\r\n";
    step = int(rows / names);
    for (i = 0; i < tags; i++) {
      name = "t" (i % names) * step;
      if (i % 2) printf "%s<!--%s k=v%d--><em>%d</em><!--/%s-->\r\n", filler, name, i, i, name;
      else printf "%s<!--%s-->\r\n", filler, name;
    }
  }' > "$work/$1/page.html"
}

# make_html NAME SCALE: 10M x SCALE characters, 150,000 x SCALE script blocks,
# a line of Chinese text every 50 blocks.
make_html() {
  make_workload "$1" ""
  awk -v n=$((150000 * $2)) 'BEGIN {
    for (i = 0; i < n; i++) {
      printf "<tr><td class=\"cell\"><%% Response.Write rs(\"field%d\") %%></td></tr>\r\n", i % 10;
      if (i % 50 == 0) printf "<p>模板不存在。页面代码生成器</p>\r\n";
    }
  }' > "$work/$1/page.html"
}

echo "making the workloads in $work" >&2
make_tiny
make_w1 w1 1
make_w1 w1x2 2
make_w3 w3 1
make_w3 w3x2 2
make_html html 1
make_html htmlx2 2
sync

readonly kTempletQuery="select tmpl_file from web_templet where page_id=1 and tset_id=1;"
readonly kTagQuery="select * from web_tag where FunID is null or FunID in (select FunID from web_page2func where page_id=1);"

# median_ms COMMAND...: the median wall time of RUNS runs of COMMAND, stdout
# discarded, in ms.
median_ms() {
  if command -v hyperfine > /dev/null; then
    hyperfine -N --style none --warmup 2 --runs "$runs" --export-csv "$work/times.csv" \
      -- "$(printf '%q ' "$@")" > /dev/null 2>&1
    awk -F, 'NR == 2 { printf "%.2f", $4 * 1000 }' "$work/times.csv"
  else
    local times=() t0 t1 i
    "$@" > /dev/null 2>&1 || true
    for ((i = 0; i < runs; i++)); do
      t0=$EPOCHREALTIME
      "$@" > /dev/null 2>&1 || true
      t1=$EPOCHREALTIME
      times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) * 1000 }')")
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{ v[NR] = $1 } END {
      printf "%.2f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
  fi
}

page_command() {  # page_command BINARY asp|exec WORKLOAD
  echo "$1" "$2" --db "$work/$3/site.db" --templates "$work/$3/" 1 1
}

# Outputs first: each command's bytes must equal the reference's.
for w in tiny w1 w1x2 w3 w3x2 html htmlx2; do
  for sub in asp exec; do
    $(page_command "$vavizar" $sub $w) > "$work/$w.$sub.out" 2> "$work/$w.$sub.err" || true
    $(page_command "$reference" $sub $w) > "$work/$w.$sub.ref" 2> "$work/$w.$sub.referr" || true
    cmp -s "$work/$w.$sub.out" "$work/$w.$sub.ref" && cmp -s "$work/$w.$sub.err" "$work/$w.$sub.referr" \
      || { echo "command_bench: $sub on $w differs from the reference" >&2; exit 1; }
    [[ -s $work/$w.$sub.err ]] && { echo "command_bench: $sub on $w logged:" >&2; cat "$work/$w.$sub.err" >&2; }
  done
done

printf '%-7s %9s %9s %9s %9s %10s\n' workload chars asp exec sqlite3 iconv
for w in tiny w1 w1x2 w3 w3x2 html htmlx2; do
  chars=$(iconv -f UTF-8 -t UTF-16LE "$work/$w/page.html" | wc -c)
  asp=$(median_ms $(page_command "$vavizar" asp $w))
  exe=$(median_ms $(page_command "$vavizar" exec $w))
  sql=$(median_ms sqlite3 "$work/$w/site.db" "$kTempletQuery $kTagQuery")
  conv=$(median_ms iconv -f UTF-8 -t UTF-16LE "$work/$w/page.html")
  printf '%-7s %9d %9s %9s %9s %10s\n' "$w" $((chars / 2)) "$asp" "$exe" "$sql" "$conv"
done
echo "(medians of $runs runs in ms; $(command -v hyperfine > /dev/null && echo hyperfine || echo own loop))"

mkdir -p "$work/maps" "$work/refmaps"
printf '\n%-7s %9s %9s %6s %9s %9s %6s\n' workload asp --map ratio exec --map ratio
for w in w1 w1x2 w3; do
  line=$(printf '%-7s' "$w")
  for sub in asp exec; do
    $(page_command "$vavizar" "$sub --map $work/maps/$w.$sub.map" $w) > /dev/null 2>&1 || true
    $(page_command "$reference" "$sub --map $work/refmaps/$w.$sub.map" $w) > /dev/null 2>&1 || true
    cmp -s "$work/maps/$w.$sub.map" "$work/refmaps/$w.$sub.map" \
      || { echo "command_bench: the map of $sub on $w differs from the reference" >&2; exit 1; }
    plain=$(median_ms $(page_command "$vavizar" $sub $w))
    mapped=$(median_ms $(page_command "$vavizar" "$sub --map $work/maps/$w.$sub.map" $w))
    line+=$(printf ' %9s %9s %6s' "$plain" "$mapped" "$(awk -v a="$plain" -v b="$mapped" 'BEGIN { printf "%.2f", b / a }')")
  done
  echo "$line"
done
