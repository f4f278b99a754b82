#!/usr/bin/python3
"""Checks `mervox pcap --report` in a real browser.

Runs mervox pcap on CAPTURE (audio in DIR/audio/, the page in DIR/pages/,
so that the links to the audio must climb a directory), renders the page
with headless Chromium (its DOM and a screenshot) and checks:
  - every number and string shown in the calls table is the JSON's, at the
    page's precision, for every call, and the rows go worst first;
  - nothing on the page fetches from the network (no script, no external
    resource, no url() in the style sheet);
  - a From header holding <script> shows as text, not as an element;
  - each call's audio links lead, relative to the page, to its files;
  - the screenshot is a PNG of the window's size that is not blank and
    shows the bad call's colour;
  - the page is the same for -j 1 and -j 4.
Exits 1 with the failures listed."""

import argparse
import datetime
import html.parser
import json
import math
import os
import re
import struct
import subprocess
import sys
import tempfile
import zlib

WIDTH, HEIGHT = 1200, 1600
failures = []


def check(condition, message):
    if not condition:
        failures.append(message if len(message) < 400 else message[:400] + "...")
    return condition


def finish():
    for f in failures:
        print("FAIL:", f, file=sys.stderr)
    return 1 if failures else 0


class Dom(html.parser.HTMLParser):
    """Elements with their attributes and the text inside each."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.elements = []  # [tag, attrs, text]
        self.open = []
        self.style = ""

    def handle_starttag(self, tag, attrs):
        element = [tag, dict(attrs), ""]
        self.elements.append(element)
        if tag not in ("br", "meta", "rect", "polyline", "link", "img", "input", "source"):
            self.open.append(element)

    def handle_startendtag(self, tag, attrs):
        self.elements.append([tag, dict(attrs), ""])

    def handle_endtag(self, tag):
        while self.open:
            element = self.open.pop()
            if element[0] == tag:
                break

    def handle_data(self, data):
        for element in self.open:
            element[2] += data
        if self.open and self.open[-1][0] == "style":
            self.style += data


def chromium(args, browser, profile):
    command = [browser, "--headless", "--no-sandbox", "--disable-gpu", "--user-data-dir=" + profile] + args
    return subprocess.run(command, check=True, capture_output=True, timeout=120)


def png_pixels(data):
    """Width, height and rows of RGB(A) tuples of an 8-bit RGB/RGBA PNG."""
    check(data[:8] == b"\x89PNG\r\n\x1a\n", "the screenshot is no PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour = header[:4]
    channels = {2: 3, 6: 4}[colour]
    check(depth == 8, "screenshot bit depth %d" % depth)
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        previous = line
    return width, height, rows


def short(text, characters=60):
    return text if len(text) <= characters else text[:characters - 1] + "\u2026"


def party(p):
    return ('"%s" <%s>' % (p["display_name"], p["uri"])) if p["display_name"] else "<%s>" % p["uri"]


def expected_row(report, k):
    """What the table's row for call k must show, from the JSON."""
    call = report["calls"][k]
    streams = [report["streams"][s["stream"]] for s in call["streams"]]
    if call["signalled"]:
        frm, to = party(call["from"]), party(call["to"])
        outcome = str(call["final_response"]) if call["final_response"] else None
    else:
        caller = next(report["streams"][s["stream"]] for s in call["streams"] if s["from_caller"])
        frm = "%s:%d" % (caller["source"]["address"], caller["source"]["port"])
        to = "%s:%d" % (caller["destination"]["address"], caller["destination"]["port"])
        outcome = "no signalling" if len(streams) > 1 else "one direction, no signalling"
    row = {
        "when": datetime.datetime.fromtimestamp(math.floor(call["start_time"]), datetime.timezone.utc).strftime(
            "%Y-%m-%d %H:%M:%S"),
        "from": short(frm),
        "to": short(to),
        "duration": "%.2f" % (call["end_time"] - call["start_time"]),
        "jitter": "%.2f" % max(s["quality"]["jitter_ms"]["max"] for s in streams) if streams else "\u2013",
    }
    if outcome is not None:
        row["outcome"] = outcome
    for side, key in (("caller", "caller_to_callee"), ("callee", "callee_to_caller")):
        q = call["quality"][key]
        row["mos-" + side] = "%.2f" % q["mos"] if q else "\u2013"
        row["r-" + side] = "%.1f" % q["r"] if q else "\u2013"
        row["loss-" + side] = "%.1f" % q["loss_percent"] if q else "\u2013"
    return row, streams


def run_mervox(args, capture, directory, jobs, page):
    command = [args.mervox, "pcap", capture, "-o", os.path.join(directory, "audio") + "/", "--json", "--report",
               page, "-j", str(jobs)]
    done = subprocess.run(command, capture_output=True, timeout=300)
    if not check(done.returncode == 0, "%s: exit %d: %s" % (" ".join(command), done.returncode, done.stderr.decode())):
        sys.exit(finish())
    return json.loads(done.stdout)


def main():
    parser = argparse.ArgumentParser()
    for option in ("--mervox", "--chromium", "--capture", "--dir"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    pages = os.path.join(args.dir, "pages")
    os.makedirs(pages, exist_ok=True)
    page = os.path.join(pages, "calls.html")
    report = run_mervox(args, args.capture, args.dir, 1, page)
    again = run_mervox(args, args.capture, args.dir, 4, os.path.join(pages, "calls-j4.html"))
    with open(page, "rb") as f:
        page_bytes = f.read()
    with open(os.path.join(pages, "calls-j4.html"), "rb") as f:
        check(f.read() == page_bytes, "the page differs between -j 1 and -j 4")
    check(again["calls"] == report["calls"], "the JSON's calls differ between -j 1 and -j 4")

    with tempfile.TemporaryDirectory() as profile:
        dom_text = chromium(["--dump-dom", "file://" + page], args.chromium, profile).stdout.decode()
        shot = os.path.join(args.dir, "shot.png")
        chromium(["--screenshot=" + shot, "--window-size=%d,%d" % (WIDTH, HEIGHT), "file://" + page], args.chromium,
                 profile)
    dom = Dom()
    dom.feed(dom_text)

    # Nothing fetched: no element that loads, no link with a scheme, no url() or @import.
    loaders = [e for e in dom.elements if e[0] in ("script", "img", "iframe", "object", "embed", "link", "video",
                                                   "audio", "source", "base", "image", "use", "form")]
    check(not loaders, "elements that load or run something: %s" % [e[0] for e in loaders])
    for tag, attrs, _ in dom.elements:
        for name, value in attrs.items():
            if name in ("href", "src", "xlink:href", "srcset", "action", "poster", "data", "background"):
                check(not re.match(r"^\s*([a-zA-Z][a-zA-Z0-9+.-]*:|//)", value or ""),
                      "<%s %s=%r> leaves the page" % (tag, name, value))
            check(not name.startswith("on"), "<%s %s> runs script" % (tag, name))
    check("url(" not in dom.style and "@import" not in dom.style, "the style sheet fetches")
    check(re.search(r"<script", dom_text, re.I) is None, "a <script> element in the rendered page")

    # The table: one row per call, each shown figure the JSON's.
    rows = [e for e in dom.elements if e[0] == "tr" and "call" in e[1].get("class", "").split()]
    check(len(rows) == len(report["calls"]), "%d rows for %d calls" % (len(rows), len(report["calls"])))
    cells = {}
    current = None
    for tag, attrs, text in dom.elements:
        if tag == "tr":
            current = attrs.get("data-call")
        elif current is not None and (tag in ("td", "span")) and attrs.get("class"):
            cells.setdefault(int(current), {})[attrs["class"].split()[0]] = text
    links = {}
    current = None
    for tag, attrs, text in dom.elements:
        if tag == "tr":
            current = attrs.get("data-call")
        elif tag == "a" and "wav" in attrs.get("class", "") and current is not None:
            links.setdefault(int(current), []).append(attrs["href"])
        elif tag == "section":
            current = None
    worst = []
    for k in range(len(report["calls"])):
        expected, streams = expected_row(report, k)
        shown = cells.get(k, {})
        for key, value in expected.items():
            check(shown.get(key) == value, "call %d, %s: shown %r, JSON %r" % (k, key, shown.get(key), value))
        outputs = [s["output"] for s in streams if s["written"]]
        wanted = []  # each file once: a call's streams share its recording
        for o in outputs:
            if os.path.relpath(os.path.abspath(o), pages) not in wanted:
                wanted.append(os.path.relpath(os.path.abspath(o), pages))
        check(links.get(k) == wanted, "call %d: links %r, expected %r" % (k, links.get(k), wanted))
        for href in links.get(k, []):
            check(os.path.isfile(os.path.join(pages, href)), "call %d: %s is no file" % (k, href))
        mos = [q["mos"] for q in report["calls"][k]["quality"].values() if q]
        worst.append(min(mos) if mos else math.inf)
    order = [int(r[1]["data-call"]) for r in rows]
    check([worst[k] for k in order] == sorted(worst), "rows not worst first: %r" % order)

    # The From header with markup: text in its cell, not an element.
    scripted = [k for k, c in enumerate(report["calls"]) if c["signalled"] and "<script>" in c["from"]["display_name"]]
    check(len(scripted) == 1, "the capture has no call with <script> in From")
    for k in scripted:
        check("<script>" in cells.get(k, {}).get("from", ""), "the From with <script> is not shown as text")
        check("bad" in rows[order.index(k)][1]["class"] or "poor" in rows[order.index(k)][1]["class"],
              "the call with losses is not marked")
        check(order[0] == k, "the call with losses is not the first row")

    # Drawings: every call here, each with its charts.
    sections = [e for e in dom.elements if e[0] == "section"]
    check(len(sections) == len(report["calls"]), "%d drawings for %d calls" % (len(sections), len(report["calls"])))
    check(sum(1 for e in dom.elements if e[0] == "svg") >= 3 * len(sections), "too few charts")
    check(sum(1 for e in dom.elements if e[0] == "rect" and e[1].get("class") == "lost") > 0,
          "no concealed loss drawn")

    # The screenshot: the window's size, not blank, the bad row's colour in it.
    with open(shot, "rb") as f:
        width, height, pixels = png_pixels(f.read())
    check((width, height) == (WIDTH, HEIGHT), "screenshot %dx%d" % (width, height))
    colours = {}
    for row in pixels[::4]:
        for p in row[::4]:
            colours[p] = colours.get(p, 0) + 1
    total = sum(colours.values())
    white = colours.get((255, 255, 255), 0)
    check(len(colours) > 20, "screenshot has %d colours" % len(colours))
    check(0.01 < 1 - white / total < 0.9, "screenshot %.1f%% white" % (100 * white / total))
    marked = sum(n for p, n in colours.items() if p in ((0xfb, 0xd5, 0xd5), (0xfd, 0xeb, 0xc8)))
    check(marked > 100, "the bad call's row colour is not in the screenshot")

    print("%d calls checked, %d failures" % (len(report["calls"]), len(failures)))
    return finish()


if __name__ == "__main__":
    sys.exit(main())
