#!/usr/bin/env bash
# Times vavizar serve on two generated sites, as a browser sees it (curl on
# the loopback address):
#   pages  1,000 pages of about 20 KB each with 10 tags of 50 rows (the shape
#          of bench/site_build.sh): how long until every page's state is
#          known, the list (median of 20), and a save until its state shows;
#   big    one page whose template is 1M characters with 10,000
#          <!--box w=1&h=2-->..<!--/box--> tags: its view, made afresh after
#          each of 5 saves (median), and the size of its data.
#
#   bash bench/serve_bench.sh [VAVIZAR]     (default: build/release/cli/vavizar)
set -euo pipefail

vavizar=$(realpath "${1:-build/release/cli/vavizar}")
work=$(mktemp -d "${TMPDIR:-/tmp}/vz_serve_bench_XXXXXX")
server=
cleanup() {
  [[ -n $server ]] && kill -INT "$server" 2> /dev/null && wait "$server" 2> /dev/null
  [[ -n ${KEEP:-} ]] || rm -rf "$work"
}
trap cleanup EXIT
schema="CREATE TABLE web_templet (page_id INTEGER, tset_id INTEGER, tmpl_file TEXT);
CREATE TABLE web_page2func (page_id INTEGER, FunID INTEGER);
CREATE TABLE web_tag (tag_name TEXT, FunID INTEGER, tag_note TEXT, tag_code TEXT);"

# The 1,000-page site.
mkdir -p "$work/pages/t"
{
  echo "$schema"
  echo "BEGIN;"
  for g in $(seq 0 9); do
    echo "INSERT INTO web_tag VALUES ('g$g', NULL, '', 'Box$g w, h' || char(13,10) || '[data]' || char(13,10) || 'BoxEnd$g');"
  done
  for f in 1 2 3 4; do
    for k in $(seq 0 9); do
      echo "INSERT INTO web_tag VALUES ('f${f}t$k', $f, '', 'Response.Write Item$k(\"$f\")');"
    done
  done
  for p in $(seq 1 1000); do
    echo "INSERT INTO web_templet VALUES ($p, 1, 'p$p.html');"
    echo "INSERT INTO web_page2func VALUES ($p, $((p % 4 + 1)));"
  done
  echo "COMMIT;"
} | sqlite3 "$work/pages/site.db"
awk -v dir="$work/pages/t" 'BEGIN {
  filler = "<p class=\"text\">Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod.</p>\r\n";
  for (p = 1; p <= 1000; p++) {
    f = dir "/p" p ".html";
    printf "<html><head><title>Page %d</title></head><body>\r\n", p > f;
    for (s = 0; s < 10; s++) {
      for (i = 0; i < 24; i++) printf "%s", filler > f;
      if (s % 2 == 0) printf "<!--g%d w=%d&h=%d--><b>box</b><!--/g%d-->\r\n", (p + s) % 10, s, p, (p + s) % 10 > f;
      else printf "<div><!--f%dt%d--></div>\r\n", p % 4 + 1, (p + s) % 10 > f;
    }
    printf "</body></html>\r\n" > f;
    close(f);
  }
}'

# The one big page.
mkdir -p "$work/big/t"
{
  echo "$schema"
  echo "INSERT INTO web_templet VALUES (1, 1, 'big.html');"
  echo "INSERT INTO web_tag VALUES ('box', NULL, '', 'BoxStart w, h' || char(13,10) || '[data]' || char(13,10) || 'BoxEnd');"
} | sqlite3 "$work/big/site.db"
awk 'BEGIN {
  line = "<p>" sprintf("%070d", 0) "</p>\r\n";
  for (i = 0; i < 10000; i++) printf "<!--box w=1&h=2-->%s<!--/box-->\r\n", line;
}' > "$work/big/t/big.html"

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# start SITE: a server on the site; sets $server and $url.
start() {
  coproc SERVE { exec "$vavizar" serve --db "$work/$1/site.db" --templates "$work/$1/t" --set 1 --port 0 2> "$work/$1.err"; }
  server=$SERVE_PID
  read -r -u "${SERVE[0]}" line
  url=${line#serving }
}
stop() {
  kill -INT "$server"
  wait "$server" || true
  server=
}
pending() { curl -s "${url}api/pages" | grep -c '"status":"pending"' || true; }
version_of() {  # the version of page $1 in the list
  curl -s "${url}api/pages" | grep -o "\"id\":\"$1\",\"status\":\"[a-z]*\",\"version\":[0-9]*" | sed 's/.*://'
}

t0=$(now)
start pages
listening=$(since "$t0")
until [[ $(curl -s "${url}api/pages" | grep -c '"status":"pending"') == 0 ]]; do sleep 0.05; done
ready=$(since "$t0")
list_times=$(for i in $(seq 20); do curl -s -o /dev/null -w '%{time_total}\n' "${url}api/pages"; done)
list=$(echo "$list_times" | median)
list_bytes=$(curl -s "${url}api/pages" | wc -c)
before=$(curl -s "${url}api/pages" | grep -o '"id":"500"[^}]*')
printf '\r\n<p>saved</p>\r\n' >> "$work/pages/t/p500.html"
t0=$(now)
while [[ $(curl -s "${url}api/pages" | grep -o '"id":"500"[^}]*') == "$before" ]]; do sleep 0.01; done
save=$(since "$t0")
stop

start big
until [[ $(curl -s "${url}api/pages" | grep -c '"status":"pending"') == 0 ]]; do sleep 0.05; done
view_times=()
for i in 1 2 3 4 5; do
  before=$(curl -s "${url}api/pages")
  printf '<p>%d</p>\r\n' "$i" >> "$work/big/t/big.html"
  while [[ $(curl -s "${url}api/pages") == "$before" ]]; do sleep 0.01; done
  view_times+=("$(curl -s -o /dev/null -w '%{time_total}' "${url}api/page/1")")
done
view=$(printf '%s\n' "${view_times[@]}" | median)
cached=$(curl -s -o /dev/null -w '%{time_total}' "${url}api/page/1")
view_bytes=$(curl -s "${url}api/page/1" | wc -c)
stop

echo "1,000 pages of about 20 KB:"
echo "  listening after            ${listening} s"
echo "  every state known after    ${ready} s"
echo "  the list (median of 20)    ${list} s, ${list_bytes} bytes"
echo "  a save until its state     ${save} s"
echo "one page of $(wc -c < "$work/big/t/big.html") bytes, 10,000 tags:"
echo "  its view, made (median of 5)  ${view} s (runs ${view_times[*]})"
echo "  its view again, unchanged     ${cached} s"
echo "  its data                      ${view_bytes} bytes"
