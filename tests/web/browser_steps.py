"""One step of the browser test: Debian's headless Chromium, driven through
chromium-driver by python3-selenium, does on the service page what a
service engineer would, and prints what it saw as one JSON object.

    browser_steps.py --base URL --user USER --password PASSWORD --shots DIR STEP [PLAN]

STEP is one of
    open                 load the page; say whether it came up
    save-selection PLAN  choose a view, select none, tick codes, move and
                         rename some, save; PLAN is JSON:
                         {"view": ID, "tick": [CODE...], "up": [CODE...], "names": {CODE: NAME}}
    status               show the status view
    post-without-token   from the page, POST a change without the token

Each step uses a fresh browser profile in a scratch directory, and nothing
else: no browser is downloaded, nothing is reached but the page's server.
Screenshots go to the --shots directory.
"""

import argparse
import json
import os
import shutil
import sys
import tempfile
import urllib.parse

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

# Long enough for dcuweb under valgrind or an emulator behind the page.
WAIT_SECONDS = 120


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--no-first-run",
                 "--user-data-dir=" + profile, "--window-size=1280,860", "--lang=en-GB"):
        options.add_argument(flag)
    service = Service("/usr/bin/chromedriver", log_path=os.devnull)
    return webdriver.Chrome(service=service, options=options)


def with_credentials(base, user, password):
    """The page's address with the user's credentials in it, which answer
    the server's digest challenge."""
    parts = urllib.parse.urlsplit(base)
    netloc = "%s:%s@%s" % (urllib.parse.quote(user, safe=""), urllib.parse.quote(password, safe=""), parts.netloc)
    return urllib.parse.urlunsplit((parts.scheme, netloc, parts.path, parts.query, parts.fragment))


def wait(driver, condition):
    return WebDriverWait(driver, WAIT_SECONDS).until(condition)


def open_page(driver, args):
    driver.get(with_credentials(args.base, args.user, args.password))


def wait_for_view(driver, view):
    """Until the table shows that view, loaded (not the first view, opened
    at start, which a slow unit may bring back later)."""
    wait(driver, lambda d: d.find_element(By.ID, "codes").get_attribute("data-view") == view
         and d.find_elements(By.CSS_SELECTOR, "#codes tbody tr")
         and d.find_element(By.ID, "message").text == "")


def row_of(driver, code):
    for row in driver.find_elements(By.CSS_SELECTOR, "#codes tbody tr"):
        if row.get_attribute("data-obis") == code:
            return row
    raise SystemExit("no row for the code %s" % code)


def step_open(driver, args):
    open_page(driver, args)
    try:
        wait(driver, lambda d: d.find_elements(By.CSS_SELECTOR, "#view-list button") or d.title != "DCU service page")
    except Exception:  # the page may never come up: that is what is looked at
        pass
    return {
        "title": driver.title,
        "loaded": bool(driver.find_elements(By.CSS_SELECTOR, "#view-list button")),
        # The status of the page's own answer, as the browser got it.
        "http_status": driver.execute_script(
            "const n = performance.getEntriesByType('navigation')[0]; return n ? n.responseStatus : 0;"),
        "text": driver.find_element(By.TAG_NAME, "body").text[:300],
    }


def step_save_selection(driver, args):
    plan = json.loads(args.plan)
    open_page(driver, args)
    wait(driver, lambda d: d.find_elements(By.CSS_SELECTOR, "#view-list button[data-view='%s']" % plan["view"]))
    driver.find_element(By.CSS_SELECTOR, "#view-list button[data-view='%s']" % plan["view"]).click()
    wait(driver, lambda d: d.find_element(By.CSS_SELECTOR, "#view-list button[data-view='%s']" % plan["view"])
         .get_attribute("aria-pressed") == "true")
    wait_for_view(driver, plan["view"])
    driver.find_element(By.ID, "select-none").click()
    for code in plan["tick"]:
        row_of(driver, code).find_element(By.CSS_SELECTOR, "input.pick").click()
    for code in plan.get("up", []):
        row_of(driver, code).find_element(By.CSS_SELECTOR, "td.order button[title='Earlier']").click()
    for code, name in plan.get("names", {}).items():
        field = row_of(driver, code).find_element(By.CSS_SELECTOR, "input.assign")
        field.clear()
        field.send_keys(name)
    driver.find_element(By.ID, "save").click()
    wait(driver, lambda d: d.find_element(By.ID, "message").get_attribute("class") in ("ok", "error"))
    message = driver.find_element(By.ID, "message").text
    driver.save_screenshot(os.path.join(args.shots, "selections.png"))
    chosen = [row.get_attribute("data-obis") for row in driver.find_elements(By.CSS_SELECTOR, "#codes tbody tr")
              if row.find_element(By.CSS_SELECTOR, "input.pick").is_selected()]
    return {"message": message, "checked": chosen}


def step_status(driver, args):
    open_page(driver, args)
    wait(driver, lambda d: d.find_elements(By.CSS_SELECTOR, "#view-list button"))
    driver.find_element(By.ID, "tab-status").click()
    wait(driver, lambda d: d.find_element(By.ID, "status-message").get_attribute("class") in ("ok", "error"))
    driver.save_screenshot(os.path.join(args.shots, "status.png"))
    meters = []
    for row in driver.find_elements(By.CSS_SELECTOR, "#meters tbody tr"):
        meters.append([cell.text for cell in row.find_elements(By.TAG_NAME, "td")])
    return {"message": driver.find_element(By.ID, "status-message").text, "meters": meters}


def step_post_without_token(driver, args):
    open_page(driver, args)
    wait(driver, lambda d: d.find_elements(By.CSS_SELECTOR, "#view-list button"))
    # What a script of the page could send, and what a script of another
    # site could at best: the change without the token.
    outcome = driver.execute_async_script("""
        const done = arguments[arguments.length - 1];
        fetch(new URL('api?view=od-billing', location.origin + location.pathname), {
            method: 'POST',
            headers: {'Content-Type': 'application/json'},
            body: JSON.stringify({entries: [{obis: '1.0.1.8.0.255', assign: 'Import'}]}),
        }).then(async (r) => done({status: r.status, body: await r.text()}),
                (e) => done({status: 0, body: String(e)}));
    """)
    return outcome


STEPS = {
    "open": step_open,
    "save-selection": step_save_selection,
    "status": step_status,
    "post-without-token": step_post_without_token,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--base", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--shots", required=True)
    parser.add_argument("step", choices=sorted(STEPS))
    parser.add_argument("plan", nargs="?", default="{}")
    args = parser.parse_args()
    os.makedirs(args.shots, exist_ok=True)
    scratch = tempfile.mkdtemp(prefix="dcu-browser-")
    driver = None
    try:
        driver = browser(os.path.join(scratch, "profile"))
        driver.set_script_timeout(WAIT_SECONDS)
        result = STEPS[args.step](driver, args)
    finally:
        if driver is not None:
            driver.quit()
        shutil.rmtree(scratch, ignore_errors=True)
    json.dump(result, sys.stdout)
    sys.stdout.write("\n")


if __name__ == "__main__":
    main()
