#!/usr/bin/python3
"""vavizar serve in a real browser (headless Chromium driven through WebDriver).

    tests/serve_browser_test.py REPO BUILD_DIR [SCREENSHOT]

On a copy of the example site with one more page (a template holding markup
that would run if it were shown as markup, and a misspelled tag), it starts
`vavizar serve` on a port the system picks and checks:
  - requests with a foreign Host, "..", or an encoded slash, and other
    methods, are refused with their exact status, and unknown pages are not
    served; a second server cannot take the same port;
  - the list shows every page with its state;
  - a page view shows a template's <script> and "><img onerror=...> as text
    (nothing of it runs) and its finding at its place;
  - clicking a generated line shows where it came from: a tag row's code with
    the line marked and the tag that brought it in, or the template stretch;
  - a template saved while the view is open shows in the view within 2 s,
    without a reload;
and saves a screenshot of the page view (BUILD_DIR/serve_view.png, or
SCREENSHOT). Exits 0 when every check passes.
"""

import http.client
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

REPO, BUILD = sys.argv[1], sys.argv[2]
SHOT = sys.argv[3] if len(sys.argv) > 3 else os.path.join(BUILD, "serve_view.png")
VAVIZAR = os.path.join(BUILD, "cli", "vavizar")

# A template whose markup must be shown, never run, and a tag mistyped.
HOSTILE = (
    "<html><body>\r\n"
    "<h1><!--title--></h1>\r\n"
    "<script>window.vzInjected = 1;</script>\r\n"
    '<p class="x"><img src=x onerror="window.vzInjected = 2"></p>\r\n'
    "<p><!--foter--></p>\r\n"
    "</body></html>\r\n"
)

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED: " + what, file=sys.stderr)
    return condition


def wait_for(condition, seconds, step=0.05):
    """Polls condition() until it is true or the time runs out; its last value."""
    end = time.monotonic() + seconds
    while True:
        try:
            value = condition()
        except Exception:  # an element not there yet
            value = None
        if value or time.monotonic() >= end:
            return value
        time.sleep(step)


def make_site(work):
    shutil.copytree(os.path.join(REPO, "examples", "site", "templates"),
                    os.path.join(work, "templates"))
    with open(os.path.join(work, "templates", "hostile.html"), "w", newline="") as f:
        f.write(HOSTILE)
    with open(os.path.join(REPO, "examples", "site", "site.sql")) as f:
        sql = f.read() + "\nINSERT INTO web_templet VALUES (5, 1, 'hostile.html');\n"
    subprocess.run(["sqlite3", "-bail", os.path.join(work, "site.db")], input=sql, text=True,
                   check=True)


def start_server(work):
    # Run in the site's folder, as an author would: the files show as
    # templates/NAME.
    server = subprocess.Popen(
        [VAVIZAR, "serve", "--db", "site.db", "--templates", "templates", "--codepage", "936",
         "--set", "1", "--port", "0"],
        cwd=work, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    ready, _, _ = select.select([server.stdout], [], [], 30)
    line = server.stdout.readline().decode() if ready else ""
    if not line.startswith("serving http://127.0.0.1:"):
        server.kill()
        raise SystemExit("no 'serving' line; got %r, stderr %r" % (line, server.stderr.read()))
    return server, line.split()[1]


def status_of(port, method, target, host):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    conn.putrequest(method, target, skip_host=True, skip_accept_encoding=True)
    if host is not None:
        conn.putheader("Host", host)
    conn.endheaders()
    status = conn.getresponse().status
    conn.close()
    return status


def check_refusals(port):
    own = "127.0.0.1:%d" % port
    table = [
        ("GET", "/", own, 200),
        ("GET", "/api/pages", "localhost:%d" % port, 200),
        ("GET", "/", "evil.example", 403),
        ("GET", "/", "evil.example:%d" % port, 403),
        ("GET", "/", "127.0.0.1:1", 403),
        ("GET", "/", None, 403),
        ("GET", "/page/../api/pages", own, 400),
        ("GET", "/api/page/%2e%2e/pages", own, 400),
        ("GET", "/api/page/3%2F..", own, 400),
        ("GET", "/page/a%2fb", own, 400),
        ("GET", "/page/a%5cb", own, 400),
        ("GET", "/page/99", own, 404),
        ("GET", "/api/page/99", own, 404),
        ("GET", "/templates/product.html", own, 404),
        ("POST", "/api/pages", own, 405),
        ("DELETE", "/page/3", own, 405),
    ]
    for method, target, host, expected in table:
        got = status_of(port, method, target, host)
        check(got == expected, "%s %s with Host %r: status %d, expected %d" %
              (method, target, host, got, expected))


def check_port_taken(work, port):
    second = subprocess.run(
        [VAVIZAR, "serve", "--db", "site.db", "--templates", "templates", "--set", "1",
         "--port", str(port)], cwd=work, stdin=subprocess.DEVNULL, capture_output=True,
        text=True, timeout=30)
    check(second.returncode == 2 and second.stdout == "" and second.stderr ==
          "vavizar serve: cannot listen on 127.0.0.1:%d: Address already in use\n" % port,
          "a second server on the same port: status %d, %r" % (second.returncode, second.stderr))


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                     "--disable-dev-shm-usage", "--window-size=1400,1000"):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def states(driver):
    rows = driver.find_elements(By.CSS_SELECTOR, "#pages tbody tr")
    return {r.get_attribute("data-id"): r.find_element(By.CSS_SELECTOR, ".state").text
            for r in rows}


def code_line(driver, needle):
    for line in driver.find_elements(By.CSS_SELECTOR, "#code .line"):
        if needle in line.text:
            return line
    return None


def check_list(driver, url):
    driver.get(url)
    shown = wait_for(lambda: (lambda s: s if len(s) == 5 and
                              not any("generating" in v for v in s.values()) else None)(
                                  states(driver)), 20) or states(driver)
    check(shown.get("3") == "generated cleanly", "list: page 3 is %r" % shown.get("3"))
    check(shown.get("5") == "1 finding (0 errors, 1 warning)",
          "list: page 5 is %r" % shown.get("5"))
    files = [c.text for c in driver.find_elements(By.CSS_SELECTOR, "#pages td.file")]
    check(files == ["templates/index.html", "templates/news/list.html",
                    "templates/product.html", "templates/cn/about.html",
                    "templates/hostile.html"], "list: the template files are %r" % files)


def check_hostile_page(driver, url):
    driver.get(url + "page/5")
    wait_for(lambda: driver.find_elements(By.CSS_SELECTOR, "#template .line"), 20)
    template = driver.find_element(By.ID, "template").text
    check("<script>window.vzInjected = 1;</script>" in template,
          "view: the template's <script> is not shown as text")
    check('"><img src=x onerror="window.vzInjected = 2"></p>' in template,
          "view: the template's <img onerror> is not shown as text")
    check(driver.execute_script("return window.vzInjected === undefined"),
          "view: markup of the template ran")
    check(driver.execute_script(
        "return document.querySelectorAll('#main script, #main img').length") == 0,
        "view: markup of the template became elements")
    marked = driver.find_elements(By.CSS_SELECTOR, "#template .finding-warning")
    check([m.text for m in marked] == ["<!--foter-->"],
          "view: the finding is not marked at <!--foter--> (%r)" % [m.text for m in marked])
    notes = [n.text for n in driver.find_elements(By.CSS_SELECTOR, "#template .note")]
    check(any("misspelled-tag" in n and "did you mean `footer`" in n for n in notes),
          "view: the finding's message is not under its line (%r)" % notes)
    code = driver.find_element(By.ID, "code").text
    check("<script>window.vzInjected = 1;</script>" in code,
          "view: the generated code does not show the <script> as text")


def check_origins(driver, url):
    driver.get(url + "page/3")
    line = wait_for(lambda: code_line(driver, "FormatCurrency"), 20)
    if not check(line is not None, "view: no generated line holds FormatCurrency"):
        return
    line.click()
    origin = wait_for(lambda: driver.find_element(By.ID, "origin").text, 5) or ""
    check("the code of row 4 (price)" in origin, "origin: no row code named (%r)" % origin)
    check("brought in by the expansion of <!--price-->, which stands in the template at line 6"
          in origin, "origin: the chain back to the template is not shown (%r)" % origin)
    marked = driver.find_elements(By.CSS_SELECTOR, "#origin .code-origin .line.marked")
    check(len(marked) == 1 and "FormatCurrency" in marked[0].text,
          "origin: the code's line is not marked")
    check("<!--price-->" in origin, "origin: the tag that brought the code in is not named")
    tags = [t.text for t in driver.find_elements(By.CSS_SELECTOR, "#template .hl-tag")]
    check(tags == ["<!--price-->"], "origin: the tag is not highlighted in the template (%r)" % tags)

    # The execute code's lines come from the same places.
    driver.find_element(By.CSS_SELECTOR, '.switch button[data-mode="exec"]').click()
    line = wait_for(lambda: code_line(driver, "Response.Write FormatCurrency"), 5)
    if check(line is not None, "execute code: no line holds FormatCurrency"):
        line.click()
        origin = wait_for(lambda: driver.find_element(By.ID, "origin").text, 5) or ""
        check("execute code comes from" in origin and "the code of row 4 (price)" in origin and
              "<!--price-->" in origin, "execute code: the origin is not shown (%r)" % origin)
    driver.find_element(By.CSS_SELECTOR, '.switch button[data-mode="asp"]').click()
    line = wait_for(lambda: code_line(driver, "<h1><%= Product"), 5)
    if not check(line is not None, "view: no generated line holds <h1><%= Product"):
        return
    line.click()
    stretch = wait_for(lambda: "".join(
        t.text for t in driver.find_elements(By.CSS_SELECTOR, "#template .hl")), 5) or ""
    check('<h1><%= Product("name") %></h1>' in stretch,
          "origin: the template stretch is not highlighted (%r)" % stretch)


def check_live(driver, work):
    loaded = driver.execute_script("return window.vzLoadedAt")
    version = driver.execute_script("return document.body.dataset.version")
    path = os.path.join(work, "templates", "product.html")
    with open(path, newline="") as f:
        text = f.read()
    with open(path, "w", newline="") as f:
        f.write(text.replace("<p>Price: ", "<p>Cost: ").replace("<!--footer-->", "<!--foter-->"))
    saved = time.monotonic()
    shown = wait_for(lambda: code_line(driver, "<p>Cost: ") and
                     driver.find_element(By.ID, "state").text == "1 finding (0 errors, 1 warning)",
                     4, step=0.02)
    elapsed = time.monotonic() - saved
    check(shown and elapsed <= 2.0,
          "live: the saved template and its finding showed after %.2f s (at most 2 s)" % elapsed)
    marked = [m.text for m in driver.find_elements(By.CSS_SELECTOR, "#template .finding-warning")]
    check(marked == ["<!--foter-->"], "live: the new finding is not marked (%r)" % marked)
    check(driver.execute_script("return window.vzLoadedAt") == loaded,
          "live: the page was reloaded")
    check(driver.execute_script("return document.body.dataset.version") != version,
          "live: the view's version did not change")
    print("live: the view showed the save after %.2f s" % elapsed)


def main():
    work = tempfile.mkdtemp(prefix="vz_serve_")
    server = None
    driver = None
    try:
        make_site(work)
        server, url = start_server(work)
        port = int(url.rstrip("/").rsplit(":", 1)[1])
        check_refusals(port)
        check_port_taken(work, port)
        driver = browser()
        check_list(driver, url)
        check_hostile_page(driver, url)
        check_origins(driver, url)
        check_live(driver, work)
        line = code_line(driver, "FormatCurrency")
        if line is not None:
            line.click()
            wait_for(lambda: driver.find_elements(By.CSS_SELECTOR, "#template .hl-tag"), 5)
        driver.set_window_size(1400, 800)
        driver.save_screenshot(SHOT)
        print("screenshot: " + SHOT)
    finally:
        if driver is not None:
            driver.quit()
        if server is not None:
            server.send_signal(signal.SIGINT)
            try:
                status = server.wait(10)
                check(status == 0, "the server exited with %r after SIGINT" % status)
            except subprocess.TimeoutExpired:
                server.kill()
                check(False, "the server did not stop within 10 s of SIGINT")
            err = server.stderr.read().decode()
            check(err == "", "the server wrote to stderr: %r" % err)
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        raise SystemExit("%d checks failed" % len(failures))
    print("every check passed")


main()
