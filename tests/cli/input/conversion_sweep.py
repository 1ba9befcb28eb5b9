#!/usr/bin/python3
"""The RGB kivrel hands the module, against numpy on the planes themselves.

Every Y'CbCr pixel format FFmpeg's scaler reads, at every size class, runs
each time; range, matrix, chroma siting and field order are spread over the
cases as a seeded all-pairs design (every pair of their values at least
once; --full runs their whole product). Each case's planes are random codes
made here, at the format's depth and subsampling, packed into the format by
FFmpeg (planar formats into FFV1 in Matroska, which carries every tag; the
others raw, read with FFmpeg's raw options before -i and their levels named on
kivrel's command line). kivrel
renders the picture unchanged (full-range RGB) and the reference does what
a reader of the planes would: chroma interpolated bilinearly between its
sites, edge samples repeated, an interlaced frame's fields apart, then the
matrix in double precision. Each channel must be within one level, with no
bias (mean signed error under 0.05) and no shift: one-sample chroma stripes
(a column, or a row) on flat grey, for each subsampling, siting and field
order, odd and even sizes, must each show centred on the site of its
sample, spread no further than to the next samples' sites (an interlaced
frame's rows, within its own field).

usage: conversion_sweep.py KIVREL [--full] [--seed N] [--only FORMAT]
"""
import argparse
import concurrent.futures
import itertools
import json
import os
import random
import subprocess
import sys
import tempfile

import numpy as np

SIZES = [(1, 1), (3, 3), (2, 2), (17, 9), (33, 6), (161, 91)]
PHOTO = (1213, 911)  # odd both ways; run for the common formats only
PHOTO_FORMATS = {"yuv420p", "yuvj420p", "nv12", "yuv422p10le"}
RANGES = ["tv", "pc"]
MATRICES = ["bt470bg", "bt709", "bt2020nc", "fcc", "smpte240m", None]
SITES = ["left", "center", "topleft", "top", None]
FIELDS = ["progressive", "tt", "bb"]
# (Kr, Kb) of the weights kivrel reads each tag with: FCC as 601, 240M as
# 709, as their nearest; untagged by the picture's height.
WEIGHTS = {"bt470bg": (0.299, 0.114), "fcc": (0.299, 0.114), "bt709": (0.2126, 0.0722),
           "smpte240m": (0.2126, 0.0722), "bt2020nc": (0.2627, 0.0593)}
MATRIX_WORDS = {"bt470bg": "601", "fcc": "601", "bt709": "709", "smpte240m": "709", "bt2020nc": "2020"}


def pixel_formats():
    """The Y'CbCr and grey formats FFmpeg's scaler takes as input."""
    listing = subprocess.run(["ffmpeg", "-hide_banner", "-pix_fmts"], capture_output=True, text=True).stdout
    readable = {line.split()[1] for line in listing.splitlines()
                if len(line.split()) > 2 and line[0] == "I" and line[1] in ".O"}
    probe = subprocess.run(["ffprobe", "-v", "quiet", "-show_pixel_formats", "-of", "json"],
                           capture_output=True, text=True, check=True).stdout
    out = []
    for d in json.loads(probe)["pixel_formats"]:
        f = d["flags"]
        if d["name"] not in readable or f["rgb"] or f["palette"] or f["bitstream"] or f["hwaccel"]:
            continue
        if d["name"].startswith(("xyz", "bayer", "mono")) or "f32" in d["name"]:
            continue
        depths = {c["bit_depth"] for c in d["components"]}
        if len(depths) != 1:
            continue
        d["depth"] = depths.pop()
        d["grey"] = d["nb_components"] < 3
        out.append(d)
    return out


# Packed 4:2:2 that numpy lays out itself: FFmpeg's packer drops the last
# pixel of an odd width. The order of Y0, Y1, Cb, Cr in each pair's bytes.
PACKED = {"yuyv422": (0, 2, 1, 3), "yvyu422": (0, 2, 3, 1), "uyvy422": (1, 3, 0, 2)}


def semi_planar16(name):
    """P010 and its kin: Y, then Cb and Cr side by side, in 16-bit words, the
    samples in their top bits. FFmpeg's packer loses a 4:2:0 one's last
    chroma column at odd widths, so numpy lays them out itself."""
    return name[0] == "p" and name[1:4].isdigit()


def planar_twin(d, formats):
    """The planar little-endian format with the same samples, which numpy writes."""
    if d["name"] in PACKED or d["name"].startswith("yuvj") or semi_planar16(d["name"]):
        return d["name"]
    depth = "" if d["depth"] == 8 else "%dle" % d["depth"]
    if d["grey"]:
        base = "gray" if depth == "" else "gray" + depth
        return base + ("" if not d["flags"]["alpha"] else "") if base in formats else None
    sub = {(0, 0): "444", (1, 0): "422", (1, 1): "420", (2, 0): "411", (2, 2): "410", (0, 1): "440"}
    key = (d["log2_chroma_w"], d["log2_chroma_h"])
    if key not in sub:
        return None
    alpha = "yuva" + sub[key] + "p" + depth
    plain = "yuv" + sub[key] + "p" + depth
    if d["flags"]["alpha"] and alpha in formats:
        return alpha
    return plain if plain in formats else None


def all_pairs(rng, factors):
    """Rows covering every pair of values of every two factors (greedy)."""
    want = set()
    for (i, a), (j, b) in itertools.combinations(enumerate(factors), 2):
        for va in range(len(a)):
            for vb in range(len(b)):
                want.add((i, va, j, vb))
    rows = []
    while want:
        best, best_cover = None, -1
        for _ in range(60):
            row = [rng.randrange(len(f)) for f in factors]
            cover = sum(1 for (i, va, j, vb) in want if row[i] == va and row[j] == vb)
            if cover > best_cover:
                best, best_cover = row, cover
        rows.append(best)
        want = {(i, va, j, vb) for (i, va, j, vb) in want if not (best[i] == va and best[j] == vb)}
    return [[f[v] for f, v in zip(factors, row)] for row in rows]


def taps(count, step, origin_eighths, samples):
    """Per pixel: the two samples on either side and the second's share."""
    p = np.arange(count, dtype=np.float64)
    t = (p - origin_eighths / 8.0) / step
    below = np.floor(t)
    share = t - below
    first = np.clip(below, 0, samples - 1).astype(np.int64)
    second = np.clip(below + 1, 0, samples - 1).astype(np.int64)
    return first, second, share


def site_origins(site):
    """Horizontal and vertical siting: start, centre or end of a sample's pixels."""
    site = site or "left"
    horizontal = "centre" if site in ("center", "top", "bottom") else "start"
    vertical = {"topleft": "start", "top": "start", "bottomleft": "end", "bottom": "end"}.get(site, "centre")
    return horizontal, vertical


def origin(kind, step):
    return {"start": 0.0, "centre": 8.0 * (step - 1) / 2, "end": 8.0 * (step - 1)}[kind]


def upsample(plane, w, h, sw, sh, site, fields):
    """Chroma at every pixel, by the rule."""
    horizontal, vertical = site_origins(site)
    cw, ch = plane.shape[1], plane.shape[0]
    f, s, a = taps(w, sw, origin(horizontal, sw), cw)
    rows = plane[:, f] * (1 - a) + plane[:, s] * a
    if fields and sh == 2:
        out = np.empty((h, w))
        for field in (0, 1):
            lines = np.arange(field, h, 2)
            own = np.arange(field, ch, 2)
            if len(lines) == 0:
                continue
            if len(own) == 0:
                out[lines] = rows[ch - 1]
                continue
            start = 2.0 if field == 0 else 6.0  # a quarter, three quarters of a field line
            f2, s2, a2 = taps(len(lines), 2, start, len(own))
            out[lines] = rows[own[f2]] * (1 - a2)[:, None] + rows[own[s2]] * a2[:, None]
        return out
    f, s, a = taps(h, sh, origin(vertical, sh), ch)
    return rows[f] * (1 - a)[:, None] + rows[s] * a[:, None]


def reference(planes, d, w, h, full, weights, site, fields):
    n = d["depth"]
    y = planes[0].astype(np.float64)
    if full:
        top = (1 << n) - 1
        yn = y / top
    else:
        scale = 1 << (n - 8)
        yn = (y / scale - 16) / 219
    if d["grey"]:
        pb = pr = np.zeros_like(yn)
    else:
        sw, sh = 1 << d["log2_chroma_w"], 1 << d["log2_chroma_h"]
        cb = upsample(planes[1].astype(np.float64), w, h, sw, sh, site, fields)
        cr = upsample(planes[2].astype(np.float64), w, h, sw, sh, site, fields)
        if full:
            top = (1 << n) - 1
            # n-bit full range reaches 8 bits as x * 255 / (2^n - 1): the middle
            # code stands for 128.
            pb, pr = (cb * 255 / top - 128) / 255, (cr * 255 / top - 128) / 255
        else:
            scale = 1 << (n - 8)
            pb, pr = (cb / scale - 128) / 224, (cr / scale - 128) / 224
    kr, kb = weights
    r = yn + 2 * (1 - kr) * pr
    b = yn + 2 * (1 - kb) * pb
    g = (yn - kr * r - kb * b) / (1 - kr - kb)
    return np.stack([np.clip(255 * v, 0, 255) for v in (r, g, b)], axis=-1)


def random_planes(rng, d, w, h, full):
    n = d["depth"]
    # Limited-range codes above level 255 (the deepest formats' top codes,
    # which SDI reserves for timing) are held at 255 by the 8-bit picture.
    top = (1 << n) if full or n == 8 else (255 << (n - 8)) + 1
    planes = [rng.integers(0, top, size=(h, w), dtype=np.uint16)]
    if not d["grey"]:
        cw, ch = -(-w >> d["log2_chroma_w"]), -(-h >> d["log2_chroma_h"])
        planes += [rng.integers(0, top, size=(ch, cw), dtype=np.uint16) for _ in range(2)]
    return planes


def pack422(planes, order):
    y, cb, cr = planes
    h, w = y.shape
    pairs = cb.shape[1]
    luma = np.zeros((h, 2 * pairs), np.uint8)
    luma[:, :w] = y
    out = np.empty((h, pairs, 4), np.uint8)
    out[:, :, order[0]], out[:, :, order[1]] = luma[:, 0::2], luma[:, 1::2]
    out[:, :, order[2]], out[:, :, order[3]] = cb, cr
    return out


class Case:
    def __init__(self, d, twin, size, full, matrix, site, field, seed):
        self.d, self.twin, self.size = d, twin, size
        self.full, self.matrix, self.site, self.field, self.seed = full, matrix, site, field, seed

    def __str__(self):
        return "%s %dx%d %s matrix %s siting %s %s seed %d" % (
            self.d["name"], self.size[0], self.size[1], "pc" if self.full else "tv", self.matrix or "untagged",
            self.site or "untagged", self.field, self.seed)

    def run(self, kivrel, scratch):
        d, (w, h) = self.d, self.size
        rng = np.random.default_rng(self.seed)
        planes = random_planes(rng, d, w, h, self.full)
        alpha = d["flags"]["alpha"] and self.twin.startswith(("yuva", "ya"))
        if alpha:
            planes.append(rng.integers(0, 1 << d["depth"], size=(h, w), dtype=np.uint16))
        rendered = self.render(kivrel, scratch, planes)
        if isinstance(rendered, str):
            return rendered
        got, site = rendered
        matrix = self.matrix or ("bt709" if h >= 720 else "bt470bg")
        want = reference(planes, d, w, h, self.full, WEIGHTS[matrix], site, self.field != "progressive")
        error = got - np.round(want)
        worst = np.abs(error).max()
        if worst > 1:
            y, x, c = np.unravel_index(np.abs(error).argmax(), error.shape)
            return "off by %d at %d,%d channel %s: %d, want %.3f" % (worst, x, y, "RGB"[c], got[y, x, c], want[y, x, c])
        if w * h >= 1000:
            bias = (got - want).reshape(-1, 3).mean(axis=0)
            if np.abs(bias).max() >= 0.05:
                return "biased: mean signed error %s" % np.round(bias, 3)
        return None

    def render(self, kivrel, scratch, planes):
        """kivrel's full-range RGB of the planes, packed and tagged as the
        case says, as (h, w, 3) floats with the siting kivrel was given
        (None where the input cannot carry it); or what went wrong."""
        d, (w, h) = self.d, self.size
        base = os.path.join(scratch, "c%d" % self.seed)
        dtype = np.uint8 if d["depth"] == 8 else np.dtype("<u2")
        with open(base + ".yuv", "wb") as raw:
            if d["name"] in PACKED:
                raw.write(pack422(planes, PACKED[d["name"]]).tobytes())
            elif semi_planar16(d["name"]):
                word = np.dtype(">u2" if d["flags"]["big_endian"] else "<u2")
                top = 16 - d["depth"]
                chroma = np.stack([planes[1], planes[2]], axis=-1).reshape(planes[1].shape[0], -1)
                raw.write((planes[0].astype(np.uint32) << top).astype(word).tobytes())
                raw.write((chroma.astype(np.uint32) << top).astype(word).tobytes())
            else:
                for p in planes:
                    raw.write(p.astype(dtype).tobytes())
        planar_kinds = ("yuv", "gray")
        tagged = d["name"] == self.twin and d["name"].startswith(planar_kinds) and ffv1_takes(d["name"])
        # What follows the input describes the output.
        written = ["--passthru", "-f", "rawvideo", "-pix_fmt", "rgb24", "-o", base + ".rgb", "-y", "-q"]
        args = [kivrel]
        if tagged:
            # FFV1 in Matroska, every tag carried by the file.
            out = base + ".mkv"
            make = ["ffmpeg", "-v", "error", "-y", "-f", "rawvideo", "-pix_fmt", self.twin, "-s", "%dx%d" % (w, h),
                    "-i", base + ".yuv", "-frames:v", "1", "-c:v", "ffv1", "-color_range", self.full and "pc" or "tv",
                    "-field_order", self.field]
            if self.matrix:
                make += ["-colorspace", self.matrix]
            if self.site:
                make += ["-chroma_sample_location", self.site]
            site = self.site
            args += [out] + written
        else:
            # Raw, read as FFmpeg reads raw video (its options before -i),
            # the levels on the command line.
            out = base + ".raw"
            make = None
            if d["name"] != self.twin:
                make = ["ffmpeg", "-v", "error", "-y", "-f", "rawvideo", "-pix_fmt", self.twin, "-s",
                        "%dx%d" % (w, h), "-i", base + ".yuv", "-frames:v", "1", "-sws_flags",
                        "neighbor+accurate_rnd", "-pix_fmt", d["name"], "-f", "rawvideo"]
            else:
                os.rename(base + ".yuv", out)
            args += ["--input-range", "pc" if self.full else "tv", "--field-order",
                     {"progressive": "progressive", "tt": "tff", "bb": "bff"}[self.field],
                     "-f", "rawvideo", "-pix_fmt", d["name"], "-s", "%dx%d" % (w, h), "-i", out] + written
            if self.matrix:
                args += ["--input-matrix", MATRIX_WORDS[self.matrix]]
            site = None
        try:
            if make:
                r = subprocess.run(make + [out], capture_output=True, text=True)
                if r.returncode != 0:
                    return SKIP if "Impossible to convert" in r.stderr else (
                        "ffmpeg could not make it: " + r.stderr.strip().splitlines()[0][:200])
            r = subprocess.run(args, capture_output=True, text=True)
            if r.returncode != 0:
                return "kivrel failed (%d): %s" % (r.returncode, r.stderr.strip()[-300:])
            got = np.fromfile(base + ".rgb", dtype=np.uint8)
        finally:
            for f in (base + ".yuv", out, base + ".rgb"):
                if os.path.exists(f):
                    os.remove(f)
        if got.size != w * h * 3:
            return "kivrel wrote %d bytes, not %d" % (got.size, w * h * 3)
        return got.reshape(h, w, 3).astype(np.float64), site


# Stripes: flat grey, Cr lifted on one sample column or row in STRIPE_GAP,
# which keeps each one's spread (a sample either side) apart from the next.
STRIPE_GREY, STRIPE_LIFT, STRIPE_GAP = 100, 48, 3
STRIPE_FORMATS = ["yuv420p", "yuv422p", "yuv411p", "yuv410p", "yuv440p", "yuv420p10le"]
STRIPE_SIZES = [(32, 24), (37, 27)]
# How far a stripe's centre (the mean of its excess red, weighted) may lie
# from its sample's site, in pixels: the rounding of a few pixels' levels.
STRIPE_SLACK = 0.1


class StripeCase(Case):
    """Cr stripes one sample wide across (axis "x": columns) or down ("y":
    rows), tagged BT.709, limited range, on flat grey. Linear interpolation
    spreads a sample over the pixels up to its neighbours' sites, a tent
    symmetric about its own, so each stripe's weighted centre in kivrel's red
    must be its site, and nothing beyond the tent may move (in an
    interlaced frame, a row of chroma reaches only its own field's rows).
    Stripes on the edge samples, whose tent the edge cuts, or whose tent
    leaves the picture, are left out."""

    def __init__(self, d, twin, size, site, field, axis, seed):
        super().__init__(d, twin, size, False, "bt709", site, field, seed)
        self.axis = axis

    def __str__(self):
        return "%s, %s stripes" % (super().__str__(), "column" if self.axis == "x" else "row")

    def sites(self, count, step, length):
        """Each stripe sample's site and tent (pixel positions along the
        axis and their shares) that lies wholly in the picture and away from the edge samples."""
        across = self.axis == "x"
        horizontal, vertical = site_origins(self.site)
        fields = not across and self.field != "progressive" and step == 2
        stripes = []
        for k in range(1, count - 1, STRIPE_GAP):
            if fields:
                # Field f's chroma line j: field line 2j + 1/4 (top) or 3/4 (bottom).
                f, j = k & 1, k >> 1
                if j < 1 or j > (count - f + 1) // 2 - 2:
                    continue
                centre = 2 * j + (0.25 if f == 0 else 0.75)
                lines = np.arange(int(np.floor(centre - 2)) + 1, int(np.ceil(centre + 2)))
                pixels, share = 2 * lines + f, 1 - np.abs(lines - centre) / 2
                site = 2 * centre + f
            else:
                site = k * step + origin(horizontal if across else vertical, step) / 8
                pixels = np.arange(int(np.floor(site - step)) + 1, int(np.ceil(site + step)))
                share = 1 - np.abs(pixels - site) / step
            if pixels.min() >= 0 and pixels.max() < length:
                stripes.append((k, site, pixels, share))
        return stripes

    def run(self, kivrel, scratch):
        d, (w, h) = self.d, self.size
        scale = 1 << (d["depth"] - 8)
        lw, lh = d["log2_chroma_w"], d["log2_chroma_h"]
        cw, ch = -(-w >> lw), -(-h >> lh)
        across = self.axis == "x"
        step, length = (1 << lw, w) if across else (1 << lh, h)
        stripes = self.sites(cw if across else ch, step, length)
        if not stripes:
            return "no stripe fits %dx%d" % (w, h)
        y = np.full((h, w), STRIPE_GREY * scale, np.uint16)
        cb = np.full((ch, cw), 128 * scale, np.uint16)
        cr = cb.copy()
        for k, _, _, _ in stripes:
            if across:
                cr[:, k] = (128 + STRIPE_LIFT) * scale
            else:
                cr[k, :] = (128 + STRIPE_LIFT) * scale
        rendered = self.render(kivrel, scratch, [y, cb, cr])
        if isinstance(rendered, str):
            return rendered
        red = rendered[0][:, :, 0]
        grey = np.round(255 * (STRIPE_GREY - 16) / 219)
        # The excess red of each column (or row), over the other axis.
        excess = (red - grey).mean(axis=0 if across else 1)
        reached = np.zeros(length, bool)
        for k, site, pixels, share in stripes:
            reached[pixels] = True
            centre = (pixels * excess[pixels]).sum() / excess[pixels].sum()
            if abs(centre - site) > STRIPE_SLACK:
                return "the stripe of sample %d centred at %.3f, its site is %.3f (excess %s)" % (
                    k, centre, site, np.round(excess[pixels], 2))
        beyond = np.abs(np.where(reached, 0, excess))
        if beyond.max() > 1:
            at = int(beyond.argmax())
            return "a stripe reached %s %d (excess %.2f), beyond every tent" % (
                "column" if across else "row", at, excess[at])
        return None


_ffv1 = None
SKIP = "skip"


def ffv1_takes(name):
    global _ffv1
    if _ffv1 is None:
        text = subprocess.run(["ffmpeg", "-hide_banner", "-h", "encoder=ffv1"], capture_output=True, text=True).stdout
        _ffv1 = set(text.split("Supported pixel formats:")[1].split("\n")[0].split())
    return name in _ffv1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("kivrel")
    parser.add_argument("--full", action="store_true")
    parser.add_argument("--seed", type=int, default=20261210)
    parser.add_argument("--only")
    a = parser.parse_args()
    rng = random.Random(a.seed)
    formats = pixel_formats()
    names = {d["name"] for d in formats}
    factors = [RANGES, MATRICES, SITES, FIELDS]
    design = list(itertools.product(*factors)) if a.full else all_pairs(rng, factors)
    cases, skipped = [], []
    seed = a.seed
    for d in formats:
        if a.only and d["name"] != a.only:
            continue
        twin = planar_twin(d, names)
        if twin is None:
            skipped.append(d["name"])
            continue
        sizes = SIZES + ([PHOTO] if d["name"] in PHOTO_FORMATS else [])
        for size in sizes:
            rows = design if a.full else [design[rng.randrange(len(design))]]
            for rng_row in rows:
                full, matrix, site, field = rng_row
                seed += 1
                cases.append(Case(d, twin, size, full == "pc", matrix, site, field, seed))
    # Every row of the design at least once, over the formats and sizes.
    if not a.full and not a.only:
        for k, row in enumerate(design):
            c = cases[k * 7 % len(cases)]
            cases.append(Case(c.d, c.twin, (17, 9), row[0] == "pc", row[1], row[2], row[3], seed + k + 1))
    # Stripes, for every subsampling the files tag, each siting and field
    # order, the sizes taken in turn.
    for name in STRIPE_FORMATS:
        d = next((d for d in formats if d["name"] == name), None)
        if d is None or (a.only and name != a.only):
            continue
        turn = 0
        for axis, site in itertools.product(("x", "y"), SITES):
            for field in FIELDS if axis == "y" and d["log2_chroma_h"] == 1 else ["progressive"]:
                seed += 1
                turn += 1
                cases.append(StripeCase(d, name, STRIPE_SIZES[turn % len(STRIPE_SIZES)], site, field, axis, seed))
    print("conversion sweep: %d cases over %d formats, seed %d%s" % (
        len(cases), len(formats) - len(skipped), a.seed, " (full product)" if a.full else ""))
    if skipped:
        print("no planar twin to make them from, so not swept: " + " ".join(skipped))
    failed, uncarried = 0, set()
    with tempfile.TemporaryDirectory() as scratch:
        with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
            for case, problem in zip(cases, pool.map(lambda c: c.run(a.kivrel, scratch), cases)):
                if problem == SKIP:
                    uncarried.add(case.d["name"])
                elif problem:
                    failed += 1
                    if failed <= 40:
                        print("FAIL %s: %s" % (case, problem))
    if uncarried:
        print("FFmpeg cannot write them, so not swept: " + " ".join(sorted(uncarried)))
    skipped_cases = sum(1 for c in cases if c.d["name"] in uncarried)
    print("%d passed, %d failed" % (len(cases) - failed - skipped_cases, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
