#!/usr/bin/python3
"""Renders the AsyncAPI document of the MQTT interface as a web page, and
checks in a headless browser that the page shows every channel.

    render-contract.py [--tools DIR] [--screenshot FILE.png]

The page is DIR/contract.html (DIR is build/asyncapi, where
scripts/validate-contract.sh installs the AsyncAPI CLI): the AsyncAPI React
component's standalone bundle (@asyncapi/react-component, which the CLI
pulls in at the version schemas/package-lock.json pins) and its style sheet,
inlined with schemas/asyncapi.yaml, so that the one file is the whole page.
The schema files the document refers to are put in place of their $ref, so
the page needs neither the folder nor the network.

Debian's headless Chromium loads the page (a fresh profile, no host name
resolves) and dumps the rendered DOM. Every channel of the document must be
there: an operation's heading with the channel's address, or for a channel
without an address (the MQTT 5 response topic) the reply location of the
operation that answers on it, and in both cases the channel's description.
--screenshot also takes a picture of the page as contract.html?operations
shows it: the operations first (a headless screenshot of a scrolled page
comes out blank).

Exit status 0 when every channel shows, 1 when one does not, the page shows
an error or did not render at all (what is wrong on standard error).
"""

import argparse
import html.parser
import json
import os
import pathlib
import re
import subprocess
import sys
import tempfile

import yaml

ROOT = pathlib.Path(__file__).resolve().parent.parent
DOCUMENT = ROOT / "schemas" / "asyncapi.yaml"
CHROMIUM = "/usr/bin/chromium"
# Long enough for a slow machine: the browser's clock only runs while the
# page waits, and the component parses the document first.
VIRTUAL_TIME_MS = "30000"
TIMEOUT_SECONDS = 180


def load(path, cache={}):
    if path not in cache:
        with open(path, encoding="utf-8") as f:
            cache[path] = yaml.safe_load(f) if path.suffix in (".yaml", ".yml") else json.load(f)
    return cache[path]


def pointer(node, fragment):
    for part in filter(None, fragment.split("/")):
        part = part.replace("~1", "/").replace("~0", "~")
        node = node[int(part)] if isinstance(node, list) else node[part]
    return node


def inlined(node, base, seen=frozenset()):
    """NODE with every reference to another file (and every reference inside
    such a file) replaced by what it names; the document's own "#/..."
    references stay for the component's parser."""
    if isinstance(node, list):
        return [inlined(item, base, seen) for item in node]
    if not isinstance(node, dict):
        return node
    ref = node.get("$ref")
    if isinstance(ref, str) and not (base == DOCUMENT and ref.startswith("#")):
        target, _, fragment = ref.partition("#")
        path = (base.parent / target).resolve() if target else base
        if (path, fragment) in seen:
            raise SystemExit("render-contract: %s refers to itself (%s)" % (path.name, ref))
        return inlined(pointer(load(path), fragment), path, seen | {(path, fragment)})
    return {name: inlined(value, base, seen) for name, value in node.items()}


def page(document, component):
    def text(path):
        return (component / path).read_text(encoding="utf-8")

    bundle = text("browser/standalone/index.js")
    if "</script" in bundle.lower():
        raise SystemExit("render-contract: the standalone bundle holds </script and can't be inlined")
    # "<" only appears inside JSON strings, where \u003c stands for it.
    data = json.dumps(document, ensure_ascii=False).replace("<", "\\u003c")
    licences = text("LICENSE") + "\n" + text("browser/standalone/index.js.LICENSE.txt")
    title = "%s %s" % (document["info"]["title"], document["info"]["version"])
    return """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>%(title)s</title>
<style>%(css)s</style>
</head>
<body>
<div id="asyncapi"></div>
<script type="application/json" id="document">%(data)s</script>
<script type="text/plain" id="licences">
The page is rendered by @asyncapi/react-component %(version)s (its standalone bundle below).
%(licences)s</script>
<script>
// What goes wrong while the page renders, shown on the page itself (where
// render-contract.py looks for it).
function showFailure(what) {
  const shown = document.createElement("pre");
  shown.className = "render-failure";
  shown.textContent = String(what);
  document.body.prepend(shown);
}
addEventListener("error", function (event) { showFailure(event.error || event.message); });
addEventListener("unhandledrejection", function (event) { showFailure(event.reason); });
</script>
<script>%(bundle)s</script>
<script>
// contract.html?operations leaves out the introduction and the servers, so
// that the page opens on the channels' operations.
const operationsFirst = new URLSearchParams(location.search).has("operations");
AsyncApiStandalone.render({
  schema: JSON.parse(document.getElementById("document").textContent),
  config: {show: {sidebar: true, info: !operationsFirst, servers: !operationsFirst}}
}, document.getElementById("asyncapi"));
</script>
</body>
</html>
""" % {"title": title.replace("&", "&amp;").replace("<", "&lt;"), "css": text("styles/default.min.css"),
       "data": data, "licences": licences.replace("</", "< /"), "bundle": bundle,
       "version": json.loads(text("package.json"))["version"]}


def chromium(profile, *arguments):
    command = [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
               "--disable-background-networking", "--disable-component-update", "--disable-sync",
               "--disable-default-apps", "--user-data-dir=" + profile, "--lang=en-GB",
               "--host-resolver-rules=MAP * ~NOTFOUND", "--virtual-time-budget=" + VIRTUAL_TIME_MS,
               *arguments]
    try:
        run = subprocess.run(command, capture_output=True, text=True, timeout=TIMEOUT_SECONDS)
    except subprocess.TimeoutExpired:
        raise SystemExit("render-contract: chromium still running after %d s" % TIMEOUT_SECONDS)
    if run.returncode != 0:
        sys.stderr.write(run.stderr)
        raise SystemExit("render-contract: chromium exit status %d" % run.returncode)
    return run.stdout


class Rendered(html.parser.HTMLParser):
    """The rendered page's text (scripts and styles left out), the text of
    each h3 heading, what error sections and the page's own failure notes
    say, and whether the component rendered at all."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.skipping = 0
        self.pieces = []
        self.headings = []
        self.heading = None
        self.errors = []
        self.error = None
        self.root = False

    def handle_starttag(self, tag, attributes):
        if tag in ("script", "style"):
            self.skipping += 1
        elif tag == "h3":
            self.heading = []
        elif tag == "section" and "aui-root" in (dict(attributes).get("class") or "").split():
            self.root = True
        elif (tag == "section" and "border-red-500" in (dict(attributes).get("class") or "")
              or tag == "pre" and dict(attributes).get("class") == "render-failure"):
            self.error = []

    def handle_endtag(self, tag):
        if tag in ("script", "style"):
            self.skipping -= 1
        elif tag == "h3" and self.heading is not None:
            self.headings.append(" ".join("".join(self.heading).split()))
            self.heading = None
        elif tag in ("section", "pre") and self.error is not None:
            self.errors.append("the page shows an error: " + " ".join("".join(self.error).split()))
            self.error = None

    def handle_data(self, data):
        if self.skipping:
            return
        self.pieces.append(data)
        for collecting in (self.heading, self.error):
            if collecting is not None:
                collecting.append(data)

    def words(self):
        # Elements end words: "<h3>..</h3><p>The" is two words, not one.
        return words(" ".join(self.pieces))


def words(text):
    return " " + " ".join(re.findall(r"\w+", text or "")) + " "


def check(document, dom):
    """One line per channel, and the channels the page does not show."""
    rendered = Rendered()
    rendered.feed(dom)
    text = rendered.words()
    replies = {}
    for operation in document.get("operations", {}).values():
        reply = operation.get("reply") or {}
        ref = (reply.get("channel") or {}).get("$ref", "")
        if ref.startswith("#/channels/") and reply.get("address"):
            replies[ref[len("#/channels/"):]] = reply["address"]["location"]
    lines, missing = [], []
    for name, channel in document["channels"].items():
        address = channel.get("address")
        described = words(channel.get("description")) in text if channel.get("description") else True
        if address:
            where = address
            shown = any(heading.endswith(" " + address) for heading in rendered.headings)
        else:
            where = replies.get(name)
            shown = where is not None and words(where) in text
            where = "reply to " + (where or "(no operation replies on it)")
        ok = shown and described
        lines.append("%-10s %-22s %-40s %s" % (name, channel.get("title", ""), where,
                                                "shown" if ok else "NOT SHOWN" if not shown else "its description NOT SHOWN"))
        if not ok:
            missing.append(name)
    errors = rendered.errors
    if not rendered.root:
        errors.append("the page rendered nothing (so the component does with a document its parser "
                      "refuses: asyncapi validate says why)")
    return lines, missing, errors


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tools", default=str(ROOT / "build" / "asyncapi"),
                        help="where npm ci put the AsyncAPI CLI (node_modules/)")
    parser.add_argument("--screenshot", help="a PNG of the page's operations")
    args = parser.parse_args(argv)

    tools = pathlib.Path(args.tools).resolve()
    component = tools / "node_modules" / "@asyncapi" / "react-component"
    if not (component / "browser" / "standalone" / "index.js").is_file():
        raise SystemExit("render-contract: no %s/browser/standalone/index.js "
                         "(scripts/validate-contract.sh installs it)" % component)
    if not pathlib.Path(CHROMIUM).is_file():
        raise SystemExit("render-contract: no %s (scripts/install-deps.sh installs chromium)" % CHROMIUM)

    document = load(DOCUMENT)
    out = tools / "contract.html"
    out.write_text(page(inlined(document, DOCUMENT), component), encoding="utf-8")
    print("render-contract: %s (%d bytes, @asyncapi/react-component %s)"
          % (os.path.relpath(out), out.stat().st_size, json.loads((component / "package.json").read_text())["version"]))

    with tempfile.TemporaryDirectory(prefix="render-contract-") as profile:
        lines, missing, errors = check(document, chromium(profile, "--dump-dom", out.as_uri()))
        for line in lines:
            print("   " + line)
        for error in errors:
            print("render-contract: " + error, file=sys.stderr)
        if missing:
            print("render-contract: %d of %d channels not shown on the page: %s"
                  % (len(missing), len(lines), ", ".join(missing)), file=sys.stderr)
        if missing or errors:
            return 1
        if args.screenshot:
            shot = pathlib.Path(args.screenshot).resolve()
            shot.parent.mkdir(parents=True, exist_ok=True)
            shot.unlink(missing_ok=True)
            chromium(profile, "--window-size=1600,1200", "--hide-scrollbars",
                     "--screenshot=" + str(shot), out.as_uri() + "?operations")
            if not shot.is_file():
                raise SystemExit("render-contract: chromium wrote no " + str(shot))
            print("render-contract: screenshot %s" % os.path.relpath(shot))
    print("render-contract: every channel (%d) shown" % len(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
