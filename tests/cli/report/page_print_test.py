#!/usr/bin/python3
"""The report page as a person gets it: read on screen, printed to A4.

A one-run report over three made clips (calm, bars breaking both rules with
a drop-frame start timecode, hot pixels on a wide picture) and a file that
is no video: the JSON must tie each verdict to the file (its size and MD5
against hashlib, its length against ffprobe, its codec) and name each
broken range's worst frame as the frames' own numbers make it; the page must
count drop-frame timecode from the file's start. Then headless Chromium
prints the page to PDF, pdftoppm rasterises it, and on every page each
chart's and each worst frame's (picture and waveform) print frame, a colour
nothing else has, around them and their captions, must be closed on all four
sides: none cut at a page edge, and as many whole frames over all pages as
the page holds charts and pictured frames.

usage: page_print_test.py KIVREL
"""
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

import numpy as np

FRAME_RGB = (0x5A, 0x00, 0xFF)  # the page's print frame colour (--frame)
TOLERANCE = 40  # per channel: the frame's own pixels, not its anti-aliased edge
DPI = 96  # the frame's 3 CSS px are then 3 pixels
MIN_SIDE = 40  # pixels: smaller patches of the colour are not frames
CLOSED = 0.9  # share of a side that must be the colour for it to be there

CLIPS = {
    # name: lavfi graph, extra output options
    "calm.mp4": ("testsrc2=s=320x180:r=25:d=1,eq=saturation=0.35", []),
    "bars.mov": ("smptehdbars=s=320x180:r=30000/1001:d=2", ["-timecode", "01:00:59;28"]),
    "wide.mkv": ("testsrc2=s=640x180:r=25:d=1,eq=saturation=0.35,drawbox=x=300:y=60:w=20:h=20:c=white:t=fill",
                 []),
}
NOT_VIDEO = "notes.mov"


def run(cmd):
    r = subprocess.run(cmd, capture_output=True, text=True)
    if r.returncode != 0:
        sys.exit(f"{cmd[0]} failed: {r.stderr}")
    return r


def ppm(path):
    """A binary PPM (P6, 8 bits) as an h x w x 3 array."""
    data = open(path, "rb").read()
    m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", data)
    w, h = int(m.group(1)), int(m.group(2))
    return np.frombuffer(data, np.uint8, w * h * 3, m.end()).reshape(h, w, 3)


def components(mask):
    """Bounding boxes (top, left, bottom, right) of the mask's 8-connected parts."""
    seen = np.zeros_like(mask)
    boxes = []
    h, w = mask.shape
    for y0, x0 in zip(*np.nonzero(mask)):
        if seen[y0, x0]:
            continue
        stack, box = [(y0, x0)], [y0, x0, y0, x0]
        seen[y0, x0] = True
        while stack:
            y, x = stack.pop()
            box = [min(box[0], y), min(box[1], x), max(box[2], y), max(box[3], x)]
            for ny in (y - 1, y, y + 1):
                for nx in (x - 1, x, x + 1):
                    if 0 <= ny < h and 0 <= nx < w and mask[ny, nx] and not seen[ny, nx]:
                        seen[ny, nx] = True
                        stack.append((ny, nx))
        boxes.append(box)
    return boxes


def check_identity(work, report, failures):
    for f in report["summary"]["files"]:
        path = os.path.join(work, f["input"])
        data = open(path, "rb").read()
        if (f["file_bytes"], f["md5"]) != (len(data), hashlib.md5(data).hexdigest()):
            failures.append(f"{f['input']}: {f['file_bytes']} bytes, md5 {f['md5']}, not the file's")
        if "error" in f:
            continue
        probe = json.loads(run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                "stream=codec_name,duration:stream_tags=DURATION", "-of", "json", path]
                               ).stdout)["streams"][0]
        duration = probe.get("duration")
        if duration is None:  # Matroska: the stream's DURATION tag
            hh, mm, ss = probe["tags"]["DURATION"].split(":")
            duration = int(hh) * 3600 + int(mm) * 60 + float(ss)
        if f["codec"] != probe["codec_name"] or abs(f["duration"] - float(duration)) > 0.0005:
            failures.append(f"{f['input']}: {f['codec']} {f['duration']} s, ffprobe says {probe}")
    # Each broken range's worst frame: the first of its frames with the largest share.
    frames = report["frames"]
    for f in report["summary"]["files"]:
        for kind, key in (("hot_ranges", "hot_percent"), ("range_ranges", "outside_percent")):
            for r in f.get(kind, []):
                own = [x for x in frames if x["input"] == f["input"] and
                       r["first_frame"] <= x["frame"] <= r["last_frame"]]
                worst = max(own, key=lambda x: (x[key], -x["frame"]))
                if r["worst_frame"] != worst["frame"]:
                    failures.append(f"{f['input']} {kind}: worst frame {r['worst_frame']}, not {worst['frame']}")


def check_print(work, page, failures):
    """Every framed chart and waveform whole on some printed page."""
    want = page.count('class="chart"') + page.count('class="pair"')
    subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-pdf-header-footer",
                    "--print-to-pdf=" + os.path.join(work, "r.pdf"), "file://" + os.path.join(work, "r.html")],
                   capture_output=True, check=True)
    subprocess.run(["pdftoppm", "-r", str(DPI), os.path.join(work, "r.pdf"), os.path.join(work, "page")],
                   check=True)
    pages = sorted(p for p in os.listdir(work) if p.startswith("page") and p.endswith(".ppm"))
    whole = 0
    for name in pages:
        img = ppm(os.path.join(work, name)).astype(int)
        mask = np.all(np.abs(img - FRAME_RGB) <= TOLERANCE, axis=2)
        for top, left, bottom, right in components(mask):
            if bottom - top < MIN_SIDE and right - left < MIN_SIDE:
                continue
            box = mask[top:bottom + 1, left:right + 1]
            sides = [box[0].mean(), box[-1].mean(), box[:, 0].mean(), box[:, -1].mean()]
            if min(sides) >= CLOSED:
                whole += 1
            else:
                failures.append(f"{name}: a frame at {left},{top}-{right},{bottom} is cut (sides {sides})")
    if whole != want:
        failures.append(f"{whole} whole frames over {len(pages)} pages, the page holds {want}")
    return len(pages)


def main():
    kivrel = os.path.abspath(sys.argv[1])
    for tool, package in (("chromium", "chromium"), ("pdftoppm", "poppler-utils")):
        if shutil.which(tool) is None:
            print(f"FAIL: {tool} is not installed (Debian's {package}: scripts/deps.sh tests)")
            return 1
    work = tempfile.mkdtemp(prefix="kivrel-page-")
    env = dict(os.environ, KIVREL_REGISTRY=os.path.join(work, "none.reg"))
    try:
        for name, (graph, extra) in CLIPS.items():
            subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", graph, "-pix_fmt", "yuv420p", *extra,
                            "-c:v", "libx264", "-crf", "18", os.path.join(work, name)], check=True)
        with open(os.path.join(work, NOT_VIDEO), "w") as f:
            f.write("no video here\n")
        inputs = [*CLIPS, NOT_VIDEO]
        for out in ("r.json", "r.html"):
            r = subprocess.run([kivrel, "report", *inputs, "-o", out], cwd=work, env=env, capture_output=True,
                               text=True)
            if r.returncode != 1:  # 1: a file cannot be read
                sys.exit(f"kivrel report -o {out}: status {r.returncode}: {r.stderr}")
        failures = []
        check_identity(work, json.load(open(os.path.join(work, "r.json"))), failures)
        page = open(os.path.join(work, "r.html"), encoding="utf-8").read()
        # bars.mov's last frame, 59 after 01:00:59;28 at 29.97: ;00 and ;01 of
        # the minute are left out, so 2 after is 01:01:00;02 and 59 after 01:01:01;29.
        if "(01:01:01;29)</text>" not in page:
            failures.append("bars.mov's chart does not end at 01:01:01;29")
        pages = check_print(work, page, failures)
        for f in failures:
            print("FAIL:", f)
        print(f"{pages} pages printed; {len(failures)} failures")
        return 1 if failures else 0
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    sys.exit(main())
