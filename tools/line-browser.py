#!/usr/bin/env python3
"""The line dashboard in headless Chromium, driven over its DevTools pipe (no packages beyond
Chromium itself), checked against the database through psql.

    line-browser.py URL SCREENSHOT PSQL-COMMAND...

Loads URL (the dashboard of a day), once in English and once in Japanese, waits until the page
says all its views are in, compares the numbers the page shows with the same counts asked of the
database, checks the load time, and keeps a screenshot of the Japanese page. Exit 0 when all
checks pass."""
import base64
import json
import os
import subprocess
import sys
import tempfile
import urllib.parse

LOAD_LIMIT_MS = 1500
WINDOW = "1400,2400"

# What the page shows, read from the data attributes its tables carry.
READ_PAGE = """JSON.stringify({
  loadedMs: Number(document.body.dataset.loadedMs),
  title: document.querySelector('h1').textContent,
  errors: [...document.querySelectorAll('.error')].map((e) => e.textContent),
  wall: [...document.querySelectorAll('#stations tr.slot')].map((r) =>
    [r.dataset.station, r.dataset.port, r.dataset.result]),
  stationNames: [...document.querySelectorAll('#stations .card h3 > span:first-child')].map((s) => s.textContent),
  silent: [...document.querySelectorAll('#stations .card.silent')].map((c) => c.dataset.station),
  waiting: [...document.querySelectorAll('#stations .card .badge.waiting')].map((b) =>
    [b.closest('.card').dataset.station, Number(b.dataset.waiting)]),
  yield: [...document.querySelectorAll('#yield-table tbody tr[data-station]')].map((r) =>
    [r.dataset.station, Number(r.dataset.ok), Number(r.dataset.total),
     Number(r.querySelector('[data-first-ok]').dataset.firstOk),
     Number(r.querySelector('[data-devices]').dataset.devices)]),
  files: [...document.querySelectorAll('#files-table tbody tr[data-sha]')].map((r) =>
    [r.dataset.sha, Number(r.dataset.ok), Number(r.dataset.total)]),
  slots: [...document.querySelectorAll('#slots-table tbody tr[data-station]')].map((r) =>
    [r.dataset.station, r.dataset.port, Number(r.dataset.failed), Number(r.dataset.total)]),
  causes: [...document.querySelectorAll('#causes-table tbody tr[data-step]')].map((r) =>
    [r.dataset.step, r.dataset.reason, Number(r.dataset.count)]),
  timing: performance.getEntriesByType('resource').map((e) => [e.name.replace(/^.*\//, ''), Math.round(e.startTime), Math.round(e.responseEnd)]),
  searchRows: document.querySelectorAll('#records-table tbody tr[data-id]').length,
})"""


class Browser:
    """Chromium with --remote-debugging-pipe: commands on its fd 3, replies on its fd 4, each
    message ended by a NUL."""

    def __init__(self):
        to_chrome_r, self.to_chrome = os.pipe()
        self.from_chrome, from_chrome_w = os.pipe()
        self.profile = tempfile.TemporaryDirectory(prefix="zt-chromium-")
        # The child gets the pipe ends as fds 3 and 4, the numbers Chromium reads and writes;
        # those two are kept open through the closing of the others that follows.
        def fds():
            os.dup2(to_chrome_r, 3)
            os.dup2(from_chrome_w, 4)
            os.set_inheritable(3, True)
            os.set_inheritable(4, True)
        self.proc = subprocess.Popen(
            ["chromium", "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--remote-debugging-pipe", f"--user-data-dir={self.profile.name}",
             f"--window-size={WINDOW}", "about:blank"],
            preexec_fn=fds, pass_fds=(3, 4),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=dict(os.environ, TZ="UTC"))
        os.close(to_chrome_r)
        os.close(from_chrome_w)
        self.reader = os.fdopen(self.from_chrome, "rb")
        self.pending = b""
        self.next_id = 0
        self.events = []

    def _message(self):
        while b"\0" not in self.pending:
            chunk = self.reader.read1(65536)
            if not chunk:
                raise RuntimeError("Chromium closed its pipe")
            self.pending += chunk
        raw, self.pending = self.pending.split(b"\0", 1)
        return json.loads(raw)

    def call(self, method, session=None, **params):
        self.next_id += 1
        msg = {"id": self.next_id, "method": method, "params": params}
        if session:
            msg["sessionId"] = session
        os.write(self.to_chrome, json.dumps(msg).encode() + b"\0")
        while True:
            reply = self._message()
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply["result"]
            self.events.append(reply)

    def wait_event(self, method):
        while True:
            for i, e in enumerate(self.events):
                if e.get("method") == method:
                    return self.events.pop(i)
            self.events.append(self._message())

    def close(self):
        try:
            self.call("Browser.close")
        except RuntimeError:
            pass
        self.proc.wait(timeout=10)
        self.profile.cleanup()


def load(browser, url, locale):
    target = browser.call("Target.createTarget", url="about:blank")["targetId"]
    session = browser.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
    # navigator.language follows the accepted languages; dates and numbers follow the locale.
    agent = browser.call("Browser.getVersion")["userAgent"]
    browser.call("Emulation.setUserAgentOverride", session, userAgent=agent, acceptLanguage=locale)
    browser.call("Emulation.setLocaleOverride", session, locale=locale)
    browser.call("Page.enable", session)
    browser.call("Page.navigate", session, url=url)
    browser.wait_event("Page.loadEventFired")
    browser.call("Runtime.evaluate", session, expression="window.dashboardReady", awaitPromise=True)
    page = browser.call("Runtime.evaluate", session, expression=READ_PAGE, returnByValue=True)
    return session, json.loads(page["result"]["value"])


def psql(command, sql):
    out = subprocess.run(command + ["-AtF", "\t", "-c", sql], check=True, capture_output=True,
                         text=True).stdout
    return [line.split("\t") for line in out.splitlines()]


def expected(command, day):
    rng = f"time_utc >= '{day}'::date::timestamptz AND time_utc < ('{day}'::date + 1)::timestamptz"
    ints = lambda rows, n: sorted([r[:-n] + [int(x) for x in r[-n:]] for r in rows])
    return {
        "wall": sorted(psql(command, "SELECT DISTINCT ON (station, port) station, port, result "
                                     "FROM records ORDER BY station, port, time_utc DESC, id DESC")),
        "yield": ints(psql(command, "SELECT station, count(*) FILTER (WHERE result = 'ok'), "
                                    "count(*), count(*) FILTER (WHERE result = 'ok' AND "
                                    "attempt = 1), count(*) FILTER (WHERE attempt = 1) "
                                    f"FROM records WHERE {rng} GROUP BY 1"), 4),
        "files": ints(psql(command, "SELECT data_sha256, count(*) FILTER (WHERE result = 'ok'), "
                                    f"count(*) FROM records WHERE {rng} GROUP BY 1"), 2),
        "slots": ints(psql(command, "SELECT station, port, count(*) FILTER (WHERE result <> 'ok'),"
                                    f" count(*) FROM records WHERE {rng} GROUP BY 1, 2"), 2),
        "causes": ints(psql(command, "SELECT step, reason, count(*) FROM records WHERE "
                                     f"result <> 'ok' AND {rng} GROUP BY 1, 2"), 1),
        "silent": sorted(r[0] for r in psql(command, "SELECT station FROM records GROUP BY 1 "
                                            "HAVING max(time_utc) < now() - interval '10 minutes'")),
        "waiting": ints(psql(command, "SELECT station, waiting FROM station_queues "
                                      "WHERE waiting > 0"), 1),
    }


def main():
    url, screenshot, command = sys.argv[1], sys.argv[2], sys.argv[3:]
    day = urllib.parse.parse_qs(urllib.parse.urlparse(url).query)["day"][0]
    passed = failed = 0

    def check(name, ok, detail=""):
        nonlocal passed, failed
        print(f"{'ok  ' if ok else 'FAIL'} {name}" + ("" if ok else f"\n     {detail}"))
        passed, failed = passed + ok, failed + (not ok)

    browser = Browser()
    try:
        # The first load also starts the browser's renderer and the server's database
        # connections: its time is shown, the limit applies to the page of a running server.
        session, ja = load(browser, url, "ja-JP")
        check("Japanese texts", ja["title"] == "ZemTabulo ライン", ja["title"])
        shot = browser.call("Page.captureScreenshot", session, format="png")
        with open(screenshot, "wb") as f:
            f.write(base64.b64decode(shot["data"]))
        _, en = load(browser, url, "en-US")
        want = expected(command, day)
        check("the page loaded without errors", not en["errors"], en["errors"])
        check(f"page complete in {en['loadedMs']} ms (<= {LOAD_LIMIT_MS})",
              0 < en["loadedMs"] <= LOAD_LIMIT_MS, en["timing"])
        check("English texts", en["title"] == "ZemTabulo line", en["title"])
        for view in ("wall", "yield", "files", "slots"):
            got = sorted(en[view])
            check(f"{view}: {len(got)} rows, each equal to the database's", got == want[view],
                  f"page {got}\n     database {want[view]}")
        got = sorted(en["causes"])
        check(f"failure causes: {len(got)} as the database counts them", got == want["causes"],
              f"page {got}\n     database {want['causes']}")
        check("silent stations marked: " + ", ".join(want["silent"]),
              sorted(en["silent"]) == want["silent"], en["silent"])
        names = set(r[0] for r in want["wall"])
        check("records waiting at the stations: " + str(want["waiting"]),
              sorted(en["waiting"]) == want["waiting"], en["waiting"])
        check("station names shown as text, markup and all", set(en["stationNames"]) == names,
              en["stationNames"])
        check("the search lists the day's records", en["searchRows"] > 0)
        print("requests (start, end ms):", en["timing"])
        print(f"page load {ja['loadedMs']} ms (first, browser and server cold), "
              f"{en['loadedMs']} ms (again); screenshot {screenshot}")
    finally:
        browser.close()
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
