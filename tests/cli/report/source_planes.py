"""Y'CbCr clips at 8, 10 and 12 bits, and what a delivery check must find in
them, worked out here from the samples FFmpeg decodes, with exact fractions.

    source_planes.py make DIR NAME FORMAT RANGE SPACE W H FRAMES [LEVELS] [--site S] [--fields F]
        DIR/NAME.mkv, FFV1 of FORMAT (yuv420p, yuv422p10le, yuv411p ...)
        tagged RANGE (tv, pc) and SPACE (bt709, bt470bg, bt2020nc), and with
        --site its chroma siting (left, center, topleft, top) and --fields
        its field order (tt, bb). Without LEVELS, seeded random samples, each
        frame within a band of its own; LEVELS (Y,Cb,Cr,count;...|...) gives
        each frame's pixels in row order.
    source_planes.py check DIR NAME FORMAT RANGE SPACE RULE REPORT.csv [W:H:X:Y]
        compares the report's src_ columns and outside_percent with the
        planes `ffmpeg -f rawvideo` decodes from DIR/NAME.mkv; with a region,
        only its pixels count (their chroma still interpolated from samples
        beyond it).

Y, Cb and Cr are the coded samples (a pixel's Cb and Cr those of the sample
that covers it); R, G and B come from each pixel's Y and its chroma
interpolated by its siting and field order as the clip is tagged, by the
same rule as the render's, whose numpy form conversion_sweep.py holds.

The code values are judged as broadcast codes them whatever RANGE says (a
full-range file is named as such, not judged on other limits), so RANGE only
tags the clip. FORMAT may be planar RGB (gbrp, gbrp10le ...), decoded as its
own samples: R, G and B are then the source's own, Y, Cb and Cr none (-1),
and its luma is judged as a converter would code it, which is not checked here.
"""
import csv
import json
import math
import os
import random
import re
import subprocess
import sys
from fractions import Fraction

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'input'))
from conversion_sweep import upsample  # noqa: E402  the chroma rule, in numpy

# Luma weights of red and blue by the stream's colour space tag.
WEIGHTS = {'bt709': ('0.2126', '0.0722'), 'bt470bg': ('0.299', '0.114'), 'smpte170m': ('0.299', '0.114'),
           'bt2020nc': ('0.2627', '0.0593')}
# EBU R 103 v3.0: the allowed code values per depth, as the recommendation tables them.
R103 = {8: (5, 246), 10: (20, 984), 12: (81, 3935)}


def layout(fmt):
    if fmt.startswith('gbrp'):
        return int(fmt[4:].removesuffix('le') or 8), (0, 0)
    m = re.fullmatch(r'yuv(4\d\d)p(\d*)(le)?', fmt)
    bits = int(m.group(2) or 8)
    sub = {'444': (0, 0), '422': (1, 0), '420': (1, 1), '411': (2, 0)}[m.group(1)]
    return bits, sub


def plane_sizes(w, h, sub):
    cw, ch = -(-w >> sub[0]), -(-h >> sub[1])
    return (w, h), (cw, ch), (cw, ch)


def make(d, name, fmt, rng, space, w, h, frames, levels=None, site=None, fields=None):
    bits, sub = layout(fmt)
    top = (1 << bits) - 1
    size = 2 if bits > 8 else 1
    rand = random.Random(bits * 1000 + w)
    data = bytearray()
    per_frame = levels.split('|') if levels else None
    for k in range(frames):
        planes = []
        if per_frame:
            px = []
            for part in per_frame[k].split(';'):
                y, cb, cr, n = (int(v) for v in part.split(','))
                px += [(y, cb, cr)] * n
            assert sub == (0, 0) and len(px) == w * h
            planes = [[p[c] for p in px] for c in range(3)]
        else:
            # Frame 0 keeps to the legal range; the others reach further each time.
            reach = k / max(frames - 1, 1)
            lo, hi = int((16 - 16 * reach) / 255 * top), int((235 + 20 * reach) / 255 * top)
            for pw, ph in plane_sizes(w, h, sub):
                planes.append([rand.randint(lo, min(hi, top)) for _ in range(pw * ph)])
        for p in planes:
            for v in p:
                data += v.to_bytes(size, 'little')
    subprocess.run(['ffmpeg', '-v', 'error', '-y', '-f', 'rawvideo', '-pix_fmt', fmt, '-s', f'{w}x{h}',
                    '-r', '10', '-i', '-', '-c:v', 'ffv1', '-color_range', rng, '-colorspace', space,
                    '-color_primaries', 'bt709' if space != 'bt2020nc' else 'bt2020',
                    '-color_trc', 'bt709' if space != 'bt2020nc' else 'bt2020-10']
                   + (['-chroma_sample_location', site] if site else [])
                   + (['-field_order', fields] if fields else []) + [f'{d}/{name}.mkv'],
                   input=bytes(data), check=True)


def decoded(d, name, fmt):
    """Each frame's Y, Cb, Cr planes as FFmpeg decodes them, the size, and
    the chroma siting (None untagged) and whether the frames are fields, as
    the stream is tagged."""
    probe = subprocess.run(['ffprobe', '-v', 'error', '-select_streams', 'v:0', '-show_entries',
                            'stream=width,height,chroma_location,field_order', '-of', 'json', f'{d}/{name}.mkv'],
                           capture_output=True, text=True, check=True).stdout
    stream = json.loads(probe)['streams'][0]
    w, h = stream['width'], stream['height']
    site = stream.get('chroma_location', 'unspecified')
    tags = (None if site == 'unspecified' else site,
            stream.get('field_order', 'unknown') not in ('unknown', 'progressive'))
    raw = subprocess.run(['ffmpeg', '-v', 'error', '-i', f'{d}/{name}.mkv', '-f', 'rawvideo', '-pix_fmt', fmt,
                          '-'], capture_output=True, check=True).stdout
    bits, sub = layout(fmt)
    size = 2 if bits > 8 else 1
    sizes = plane_sizes(w, h, sub)
    frame_bytes = sum(pw * ph for pw, ph in sizes) * size
    frames = []
    for at in range(0, len(raw), frame_bytes):
        planes, pos = [], at
        for pw, ph in sizes:
            n = pw * ph * size
            chunk = raw[pos:pos + n]
            planes.append([int.from_bytes(chunk[i:i + size], 'little') for i in range(0, n, size)])
            pos += n
        frames.append(planes)
    return frames, w, h, bits, sub, tags


# The rule's chroma is an eighth of a sample along each axis: exact in
# doubles, and in 64ths of a code value.
PARTS = 64


def pixels(planes, w, h, sub, tags, region=None):
    """(Y, Cb, Cr, Cb', Cr') of every pixel in the region (W, H, X, Y;
    default the whole frame): Cb and Cr of the sample that covers it, Cb'
    and Cr' interpolated by the rule, in PARTS parts of a code value."""
    cw, ch = -(-w >> sub[0]), -(-h >> sub[1])
    fine = [np.rint(PARTS * upsample(np.array(p, dtype=np.float64).reshape(ch, cw), w, h, 1 << sub[0],
                                     1 << sub[1], tags[0], tags[1])).astype(np.int64)
            for p in planes[1:]] if sub != (0, 0) else None
    rw, rh, rx, ry = region or (w, h, 0, 0)
    for y in range(ry, ry + rh):
        for x in range(rx, rx + rw):
            c = (y >> sub[1]) * cw + (x >> sub[0])
            cb, cr = planes[1][c], planes[2][c]
            exact = (int(fine[0][y, x]), int(fine[1][y, x])) if fine else (cb * PARTS, cr * PARTS)
            yield planes[0][y * w + x], cb, cr, exact[0], exact[1]


def rgb(yc, cb, cr, bits, space):
    """R, G, B in narrow-range code values at the source's depth, unclipped,
    rounded to nearest (halves up); Cb, Cr in PARTS parts of a code value."""
    s = 1 << (bits - 8)
    kr, kb = (Fraction(v) for v in WEIGHTS[space])
    kg = 1 - kr - kb
    y = Fraction(yc - 16 * s, 219 * s)
    pb, pr = Fraction(cb - 128 * s * PARTS, 224 * s * PARTS), Fraction(cr - 128 * s * PARTS, 224 * s * PARTS)
    r = y + 2 * (1 - kr) * pr
    b = y + 2 * (1 - kb) * pb
    g = (y - kr * r - kb * b) / kg
    return [math.floor(16 * s + 219 * s * v + Fraction(1, 2)) for v in (r, g, b)]


def check(d, name, fmt, rng, space, rule, report, region=None):
    frames, w, h, bits, sub, tags = decoded(d, name, fmt)
    region = tuple(int(v) for v in region.split(':')) if region else None
    s = 1 << (bits - 8)
    rows = [r for r in csv.DictReader(open(f'{d}/{report}', encoding='utf-8')) if not r['missing']]
    assert len(rows) == len(frames), (len(rows), len(frames))
    bad = []
    for k, (planes, row) in enumerate(zip(frames, rows)):
        lo = [None] * 6
        hi = [None] * 6
        outside = 0
        if fmt.startswith('gbrp'):
            # The planes are G, B and R; the measures are R, G and B as they are.
            g, b, r = (list(v) for v in list(zip(*pixels(planes, w, h, sub, tags, region)))[:3])
            want = {f'src_{m}_{e}': '-1' for m in ('y', 'cb', 'cr') for e in ('min', 'max')}
            for m, p in (('r', r), ('g', g), ('b', b)):
                want[f'src_{m}_min'], want[f'src_{m}_max'] = str(min(p)), str(max(p))
            got = {key: row[key] for key in want}
            if got != want:
                bad.append((k, {key: (got[key], want[key]) for key in want if got[key] != want[key]}))
            continue
        for yc, cb, cr, cb_at, cr_at in pixels(planes, w, h, sub, tags, region):
            v = [yc, cb, cr] + rgb(yc, cb_at, cr_at, bits, space)
            lo = [x if m is None else min(m, x) for m, x in zip(lo, v)]
            hi = [x if m is None else max(m, x) for m, x in zip(hi, v)]
            if rule == 'strict':
                out = not (16 * s <= yc <= 235 * s and 16 * s <= cb <= 240 * s and 16 * s <= cr <= 240 * s)
            else:
                a, b = R103[bits]
                out = any(not (a <= x <= b) for x in (v[0], v[3], v[4], v[5]))
            outside += out
        want = {}
        for i, m in enumerate(('y', 'cb', 'cr', 'r', 'g', 'b')):
            want[f'src_{m}_min'] = str(lo[i])
            want[f'src_{m}_max'] = str(hi[i])
        area = region[0] * region[1] if region else w * h
        want['outside_percent'] = '%.4f' % (100.0 * outside / area)
        got = {key: row[key] for key in want}
        if got != want:
            bad.append((k, {key: (got[key], want[key]) for key in want if got[key] != want[key]}))
    if bad:
        sys.exit(f'{name} {rule}: {bad}')


if __name__ == '__main__':
    args, tagged = sys.argv[1:], {}
    for flag in ('--site', '--fields'):
        if flag in args:
            at = args.index(flag)
            tagged[flag[2:]] = args[at + 1]
            del args[at:at + 2]
    cmd, d, name, fmt, rng, space = args[:6]
    if cmd == 'make':
        w, h, frames = (int(v) for v in args[6:9])
        make(d, name, fmt, rng, space, w, h, frames, args[9] if len(args) > 9 else None, **tagged)
    else:
        check(d, name, fmt, rng, space, *args[6:9])
