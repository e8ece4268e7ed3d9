"""One step of the browser test: a headless browser does on the service page
what a service engineer would, and prints what it saw as one JSON object.
Either Debian's Chromium, driven through chromium-driver by python3-selenium,
or Debian's Firefox ESR, driven over the WebDriver BiDi it speaks itself
(python3-websocket; no geckodriver).

    browser_steps.py [--browser chromium|firefox] --base URL --user USER --password PASSWORD --shots DIR STEP [PLAN]

STEP is one of
    open                 load the page; say whether it came up
    save-selection PLAN  choose a view, select none, tick codes, move and
                         rename some, save; PLAN is JSON:
                         {"view": ID, "tick": [CODE...], "up": [CODE...], "names": {CODE: NAME}}
    status               show the status view
    post-without-token   from the page, POST a change without the token

Each step uses a fresh browser profile in a scratch directory, and nothing
else: no browser or driver is downloaded, nothing is reached but the page's
server. Screenshots go to the --shots directory.
"""

import argparse
import base64
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.parse

# Long enough for dcuweb under valgrind or an emulator behind the page.
WAIT_SECONDS = 120
# For one exchange with Firefox: it answers at once or not at all.
COMMAND_SECONDS = 10
# For Firefox to start and listen, on a busy machine.
START_SECONDS = 30


class ChromiumPage:
    """Chromium through chromium-driver; the credentials go in the address
    and answer the server's digest challenge."""

    def __init__(self, scratch):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common.by import By
        self.by_css = By.CSS_SELECTOR
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--no-first-run",
                     "--user-data-dir=" + os.path.join(scratch, "profile"), "--window-size=1280,860",
                     "--lang=en-GB"):
            options.add_argument(flag)
        service = Service("/usr/bin/chromedriver", log_path=os.devnull)
        self.driver = webdriver.Chrome(service=service, options=options)

    def open(self, base, user, password):
        parts = urllib.parse.urlsplit(base)
        netloc = "%s:%s@%s" % (urllib.parse.quote(user, safe=""), urllib.parse.quote(password, safe=""), parts.netloc)
        self.driver.get(urllib.parse.urlunsplit((parts.scheme, netloc, parts.path, parts.query, parts.fragment)))

    def value(self, body, *args):
        return self.driver.execute_script(body, *args)

    def click(self, css):
        self.driver.find_element(self.by_css, css).click()

    def type(self, css, text):
        field = self.driver.find_element(self.by_css, css)
        field.clear()
        field.send_keys(text)

    def screenshot(self, path):
        self.driver.save_screenshot(path)

    def close(self):
        self.driver.quit()


# A fresh Firefox profile: no first-run pages, no default-browser question,
# and every address but loopback sent to a proxy that isn't there, so that
# nothing of Firefox's own reaches the network.
FIREFOX_PREFS = {
    "browser.shell.checkDefaultBrowser": False,
    "browser.startup.homepage_override.mstone": "ignore",
    "browser.startup.page": 0,
    "datareporting.policy.dataSubmissionEnabled": False,
    "toolkit.telemetry.reportingpolicy.firstRun": False,
    "intl.accept_languages": "en-GB",
    "network.proxy.type": 1,
    "network.proxy.http": "127.0.0.1",
    "network.proxy.http_port": 9,
    "network.proxy.share_proxy_settings": True,
    "network.proxy.allow_hijacking_localhost": False,
}


class FirefoxPage:
    """Firefox ESR over WebDriver BiDi on a websocket: it starts with a
    fresh profile and a port of its own choosing, which it writes in the
    profile. The credentials answer the server's challenge once for each
    request; asked again, they were refused, and the challenge is cancelled
    as a user would."""

    def __init__(self, scratch):
        import websocket
        profile = os.path.join(scratch, "profile")
        os.makedirs(profile)
        with open(os.path.join(profile, "user.js"), "w") as prefs:
            for name, setting in FIREFOX_PREFS.items():
                prefs.write("user_pref(%s, %s);\n" % (json.dumps(name), json.dumps(setting)))
        self.log_path = os.path.join(scratch, "firefox.log")
        with open(self.log_path, "w") as log:
            self.process = subprocess.Popen(
                ["/usr/bin/firefox-esr", "--headless", "--no-remote", "--profile", profile,
                 "--remote-debugging-port", "0"],
                stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT, start_new_session=True,
                env=dict(os.environ, MOZ_CRASHREPORTER_DISABLE="1"))
        self.socket = None
        self.timed_out = websocket.WebSocketTimeoutException
        self.last_id = 0
        self.credentials = None
        self.challenged = set()
        try:
            port = self.listening_port(os.path.join(profile, "WebDriverBiDiServer.json"))
            self.socket = websocket.create_connection("ws://127.0.0.1:%d/session" % port,
                                                      timeout=COMMAND_SECONDS, suppress_origin=True)
            self.command("session.new", {"capabilities": {}})
            self.context = self.command("browsingContext.getTree", {})["contexts"][0]["context"]
            self.command("browsingContext.setViewport",
                         {"context": self.context, "viewport": {"width": 1280, "height": 860}})
        except BaseException:
            self.close()
            raise

    def listening_port(self, announced):
        deadline = time.monotonic() + START_SECONDS
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                break
            try:
                with open(announced) as server:
                    return json.load(server)["ws_port"]
            except (OSError, ValueError, KeyError):
                time.sleep(0.1)
        with open(self.log_path) as log:
            raise SystemExit("Firefox didn't start listening in %d s:\n%s" % (START_SECONDS, log.read()[-2000:]))

    def command(self, method, params, seconds=COMMAND_SECONDS):
        """Sends one command and returns its result; events that come
        before the answer are dealt with as they come."""
        self.last_id += 1
        sent = self.last_id
        self.socket.send(json.dumps({"id": sent, "method": method, "params": params}))
        deadline = time.monotonic() + seconds
        while True:
            left = deadline - time.monotonic()
            try:
                if left <= 0:
                    raise self.timed_out()
                self.socket.settimeout(left)
                message = json.loads(self.socket.recv())
            except self.timed_out:
                raise TimeoutError("no answer from Firefox to %s in %d s" % (method, seconds)) from None
            if message.get("type") == "event":
                self.event(message)
            elif message.get("id") == sent:
                if message.get("type") == "error":
                    raise RuntimeError("%s: %s %s" % (method, message.get("error"), message.get("message")))
                return message["result"]

    def event(self, message):
        if message.get("method") != "network.authRequired":
            return
        request = message["params"]["request"]["request"]
        if request in self.challenged:
            reply = {"request": request, "action": "cancel"}
        else:
            self.challenged.add(request)
            user, password = self.credentials
            reply = {"request": request, "action": "provideCredentials",
                     "credentials": {"type": "password", "username": user, "password": password}}
        # Its answer comes back as one more message, passed over.
        self.last_id += 1
        self.socket.send(json.dumps({"id": self.last_id, "method": "network.continueWithAuth", "params": reply}))

    def open(self, base, user, password):
        self.credentials = (user, password)
        self.command("session.subscribe", {"events": ["network.authRequired"], "contexts": [self.context]})
        self.command("network.addIntercept", {"phases": ["authRequired"], "contexts": [self.context]})
        self.command("browsingContext.navigate", {"context": self.context, "url": base, "wait": "complete"})

    def call(self, function, *args):
        result = self.command("script.callFunction", {
            "functionDeclaration": function, "awaitPromise": True, "target": {"context": self.context},
            "arguments": [{"type": "string", "value": arg} for arg in args]})
        if result["type"] == "exception":
            raise RuntimeError("in the page: " + result["exceptionDetails"]["text"])
        return result["result"]

    def value(self, body, *args):
        # The value crosses as JSON text, as it would through WebDriver.
        result = self.call("async function() { const value = await (function() {" + body + "}).apply(this, arguments);"
                           " return value === undefined ? 'null' : JSON.stringify(value); }", *args)
        return json.loads(result["value"])

    def click(self, css):
        element = self.call("function(css) { const element = document.querySelector(css);"
                            " if (!element) throw new Error('no element for ' + css);"
                            " element.scrollIntoView({block: 'center'}); return element; }", css)
        self.actions([{"type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"}, "actions": [
            {"type": "pointerMove", "x": 0, "y": 0, "origin": {"type": "element", "element": {"sharedId": element["sharedId"]}}},
            {"type": "pointerDown", "button": 0}, {"type": "pointerUp", "button": 0}]}])

    def type(self, css, text):
        self.click(css)
        keys = [{"type": "keyDown", "value": "\uE009"}, {"type": "keyDown", "value": "a"}, {"type": "keyUp", "value": "a"},
                {"type": "keyUp", "value": "\uE009"}, {"type": "keyDown", "value": "\uE003"}, {"type": "keyUp", "value": "\uE003"}]
        for key in text:
            keys += [{"type": "keyDown", "value": key}, {"type": "keyUp", "value": key}]
        self.actions([{"type": "key", "id": "keyboard", "actions": keys}])

    def actions(self, actions):
        self.command("input.performActions", {"context": self.context, "actions": actions})

    def screenshot(self, path):
        shot = self.command("browsingContext.captureScreenshot", {"context": self.context})
        with open(path, "wb") as out:
            out.write(base64.b64decode(shot["data"]))

    def close(self):
        if self.socket is not None:
            try:
                self.command("browser.close", {})
            except Exception:  # closed or not, Firefox is stopped below
                pass
            self.socket.close()
        try:
            self.process.wait(COMMAND_SECONDS)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        # Its own group, with any content process left behind.
        try:
            os.killpg(self.process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


BROWSERS = {"chromium": ChromiumPage, "firefox": FirefoxPage}


def until(page, body, *args):
    """Until the script's value is true; that value."""
    deadline = time.monotonic() + WAIT_SECONDS
    while True:
        value = page.value(body, *args)
        if value:
            return value
        if time.monotonic() > deadline:
            raise TimeoutError("waited %d s for: %s %s" % (WAIT_SECONDS, body, args))
        time.sleep(0.2)


VIEWS_LISTED = "return document.querySelectorAll('#view-list button').length > 0;"


def view_button(view):
    return "#view-list button[data-view='%s']" % view


def code_row(code):
    return "#codes tbody tr[data-obis='%s'] " % code


def outcome(page, args, message, shot, name, listing):
    """Once the page's message (its id) tells how it went: a screenshot,
    the message, and under name what the listing (an expression) finds."""
    until(page, "return ['ok', 'error'].includes(document.getElementById(arguments[0]).className);", message)
    page.screenshot(os.path.join(args.shots, shot))
    seen = page.value("return [document.getElementById(arguments[0]).innerText.trim(), " + listing + "];", message)
    return {"message": seen[0], name: seen[1]}


def open_page(page, args):
    page.open(args.base, args.user, args.password)


def step_open(page, args):
    open_page(page, args)
    try:
        until(page, "return document.querySelectorAll('#view-list button').length > 0"
                    " || document.title != 'DCU service page';")
    except TimeoutError:  # the page may never come up: that is what is looked at
        pass
    return page.value("""
        const navigation = performance.getEntriesByType('navigation')[0];
        return {
            title: document.title,
            loaded: document.querySelectorAll('#view-list button').length > 0,
            // The status of the page's own answer, as the browser got it.
            http_status: navigation ? navigation.responseStatus : 0,
            text: document.body.innerText.trim().slice(0, 300),
        };""")


def step_save_selection(page, args):
    plan = json.loads(args.plan)
    open_page(page, args)
    until(page, "return document.querySelector(arguments[0]) !== null;", view_button(plan["view"]))
    page.click(view_button(plan["view"]))
    until(page, "return document.querySelector(arguments[0]).getAttribute('aria-pressed') === 'true';",
          view_button(plan["view"]))
    # Until the table shows that view, loaded (not the first view, opened
    # at start, which a slow unit may bring back later).
    until(page, """
        const table = document.getElementById('codes');
        return table.getAttribute('data-view') === arguments[0] && table.querySelector('tbody tr') !== null
            && document.getElementById('message').innerText.trim() === '';""", plan["view"])
    page.click("#select-none")
    for code in plan["tick"]:
        page.click(code_row(code) + "input.pick")
    for code in plan.get("up", []):
        page.click(code_row(code) + "td.order button[title='Earlier']")
    for code, name in plan.get("names", {}).items():
        page.type(code_row(code) + "input.assign", name)
    page.click("#save")
    return outcome(page, args, "message", "selections.png", "checked", """
        [...document.querySelectorAll('#codes tbody tr')]
            .filter((row) => row.querySelector('input.pick').checked).map((row) => row.dataset.obis)""")


def step_status(page, args):
    open_page(page, args)
    until(page, VIEWS_LISTED)
    page.click("#tab-status")
    return outcome(page, args, "status-message", "status.png", "meters", """
        [...document.querySelectorAll('#meters tbody tr')]
            .map((row) => [...row.querySelectorAll('td')].map((cell) => cell.innerText.trim()))""")


def step_post_without_token(page, args):
    open_page(page, args)
    until(page, VIEWS_LISTED)
    # What a script of the page could send, and what a script of another
    # site could at best: the change without the token. Its outcome is
    # waited for as any other sign on the page.
    page.value("""
        window.postOutcome = null;
        fetch(new URL('api?view=od-billing', location.origin + location.pathname), {
            method: 'POST',
            headers: {'Content-Type': 'application/json'},
            body: JSON.stringify({entries: [{obis: '1.0.1.8.0.255', assign: 'Import'}]}),
        }).then(async (r) => { window.postOutcome = {status: r.status, body: await r.text()}; },
                (e) => { window.postOutcome = {status: 0, body: String(e)}; });""")
    return until(page, "return window.postOutcome;")


STEPS = {
    "open": step_open,
    "save-selection": step_save_selection,
    "status": step_status,
    "post-without-token": step_post_without_token,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--browser", choices=sorted(BROWSERS), default="chromium")
    parser.add_argument("--base", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--shots", required=True)
    parser.add_argument("step", choices=sorted(STEPS))
    parser.add_argument("plan", nargs="?", default="{}")
    args = parser.parse_args()
    os.makedirs(args.shots, exist_ok=True)
    scratch = tempfile.mkdtemp(prefix="dcu-browser-")
    page = None
    try:
        page = BROWSERS[args.browser](scratch)
        result = STEPS[args.step](page, args)
    finally:
        if page is not None:
            page.close()
        shutil.rmtree(scratch, ignore_errors=True)
    json.dump(result, sys.stdout)
    sys.stdout.write("\n")


if __name__ == "__main__":
    main()
