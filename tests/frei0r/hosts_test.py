#!/usr/bin/python3
"""The frei0r module in real hosts (FFmpeg, GStreamer, MLT's melt): each
frame it gives is kivrel's own display of the same RGB frame with the same
settings, placed as the fit places it. Exact wherever the display goes in at
a whole scale; a reduced display against numpy's area average of kivrel's,
within one level. A host that is missing is a failure, never a skip.

usage: hosts_test.py ffmpeg|gstreamer|melt MODULE KIVREL WORKDIR
"""
import os
import shutil
import subprocess
import sys

import numpy as np

HOST, MODULE, KIVREL, WORK = sys.argv[1:5]
MARGIN = 40  # the waveform's scale, right of its picture: the display is the picture's width + 40
PACKAGES = {"ffmpeg": "ffmpeg", "ffprobe": "ffmpeg", "gst-launch-1.0": "gstreamer1.0-tools",
            "gst-inspect-1.0": "gstreamer1.0-tools", "melt": "melt"}
failures = []


def need(tool):
    path = shutil.which(tool)
    if path is None:
        sys.exit(f"FAIL: {tool} is not installed (apt-get install {PACKAGES[tool]}; scripts/deps.sh tests)")
    return path


def run(args, **kw):
    try:
        r = subprocess.run(args, capture_output=True, env=ENV, timeout=120, **kw)
    except subprocess.TimeoutExpired:
        sys.exit(f"FAIL: {' '.join(map(str, args))}\ndid not finish in 120 s")
    if r.returncode != 0:
        sys.exit(f"FAIL: {' '.join(map(str, args))}\n{r.stderr.decode(errors='replace')[-3000:]}")
    return r


shutil.rmtree(WORK, ignore_errors=True)
PLUGINS = os.path.join(WORK, "frei0r-1")
os.makedirs(PLUGINS)
# Installed under the name the hosts look for; nothing else in the folder.
os.symlink(os.path.abspath(MODULE), os.path.join(PLUGINS, "kivrel.so"))
ENV = dict(os.environ, FREI0R_PATH=PLUGINS, MLT_FREI0R_PLUGIN_PATH=PLUGINS,
           GST_REGISTRY=os.path.join(WORK, "gst-registry.bin"))
ENV.setdefault("KIVREL_REGISTRY", os.path.join(WORK, "no-saved-defaults.reg"))
need("ffmpeg")
need("ffprobe")


def path(name):
    return os.path.join(WORK, name)


def test_card(w, h, frames, pix_fmt="rgba"):
    """FFmpeg's moving test picture, as raw frames."""
    out = path(f"card_{w}x{h}.{pix_fmt}")
    # testsrc2 draws even sizes only: an odd side is cut from the next even one.
    run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
         f"testsrc2=size={w + w % 2}x{h + h % 2}:rate=25,format={pix_fmt},crop={w}:{h}:0:0",
         "-frames:v", str(frames), "-f", "rawvideo", "-pix_fmt", pix_fmt, out])
    return np.fromfile(out, np.uint8).reshape(frames, h, w, 4)


def kivrel_display(frames, options, pix_fmt="rgba"):
    """kivrel's own display of each frame, RGB, at the display's size."""
    n, h, w, _ = frames.shape
    src, out = path("kivrel_in.raw"), path("kivrel_out.nut")
    frames.tofile(src)
    run([KIVREL, "-q", "-y", "-f", "rawvideo", "-pix_fmt", pix_fmt, "-s", f"{w}x{h}", "-r", "25", "-i", src,
         "--matrix", "601", "--range", "0-255", *options, "-f", "nut", "-c:v", "rawvideo", "-pix_fmt", "rgba",
         "-o", out])
    size = run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "stream=width,height",
                "-of", "csv=p=0", out]).stdout.decode().strip().split(",")
    dw, dh = int(size[0]), int(size[1])
    raw = run(["ffmpeg", "-v", "error", "-i", out, "-f", "rawvideo", "-pix_fmt", "rgba", "-"]).stdout
    return np.frombuffer(raw, np.uint8).reshape(-1, dh, dw, 4)[..., :3]


def narrowed(frames):
    """Each column of the picture W - 40 wide from the source column under its centre."""
    w = frames.shape[2]
    j = np.arange(w - MARGIN)
    return np.ascontiguousarray(frames[:, :, (2 * j + 1) * w // (2 * (w - MARGIN))])


def area_weights(to, frm):
    """Row t: how much of source element i target t's span [t, t+1) * frm/to covers, normalised."""
    edges = np.arange(to + 1) * frm / to
    i = np.arange(frm)
    lo = np.maximum(edges[:-1, None], i[None, :])
    hi = np.minimum(edges[1:, None], i[None, :] + 1)
    return np.clip(hi - lo, 0, None) * to / frm


def fitted(disp, w, h):
    """The display (dh, dw, 3) in a w x h frame: expected RGB, tolerance, and the fit's name."""
    dh, dw = disp.shape[:2]
    out = np.zeros((h, w, 3), np.float64)
    if (dw, dh) == (w, h):
        return disp.astype(np.float64), 0, "1:1"
    if dw <= w and dh <= h:
        k = min(w // dw, h // dh)
        x, y = (w - k * dw) // 2, (h - k * dh) // 2
        out[y:y + k * dh, x:x + k * dw] = disp.repeat(k, 0).repeat(k, 1)
        return out, 0, f"x{k}"
    if w * dh <= h * dw:
        tw, th = w, max(1, min(h, dh * w // dw))
    else:
        tw, th = max(1, min(w, dw * h // dh)), h
    if tw * 4 < dw or th * 4 < dh:
        return None, 0, "too small"
    ay, ax = area_weights(th, dh), area_weights(tw, dw)
    reduced = np.stack([ay @ disp[..., c].astype(np.float64) @ ax.T for c in range(3)], -1)
    x, y = (w - tw) // 2, (h - th) // 2
    out[y:y + th, x:x + tw] = np.floor(reduced + 0.5)
    return out, 1, f"reduced to {tw}x{th}"


def check(name, got, frames, options, display, pix_fmt="rgba"):
    """got: the host's frames (n, h, w, 4) in RGBA order."""
    n, h, w, _ = frames.shape
    src = narrowed(frames) if display == "waveform" and w > MARGIN else frames
    want = kivrel_display(src, ["-d", display, *options], pix_fmt)
    case = f"{name} {w}x{h} -d {display} {' '.join(options)}"
    if got.shape != (n, h, w, 4):
        failures.append(f"{case}: {got.shape} from the host, {n} frames of {w}x{h} wanted")
        return
    if (got[..., 3] != 255).any():
        failures.append(f"{case}: {(got[..., 3] != 255).sum()} pixels not opaque")
    for f in range(n):
        expected, tolerance, fit = fitted(want[f], w, h)
        rgb = got[f, ..., :3].astype(np.float64)
        if expected is None:  # black, and at most a white note
            stray = ~((rgb == 0).all(-1) | (rgb == 255).all(-1))
            if stray.any():
                failures.append(f"{case} frame {f} ({fit}): {stray.sum()} pixels neither black nor the note")
            else:
                print(f"ok  {case} frame {f} ({fit})")
            continue
        wrong = np.abs(rgb - expected) > tolerance
        if wrong.any():
            y, x, c = np.argwhere(wrong)[0]
            failures.append(f"{case} frame {f} ({fit}): {wrong.any(-1).sum()} pixels differ, first at "
                            f"({x}, {y}): {got[f, y, x, :3]} for {expected[y, x].astype(int)}")
        else:
            print(f"ok  {case} frame {f} ({fit})")


# Settings by FFmpeg's positions (docs/frei0r.md): the texts, then the switches.
ORDER = ["display", "config", "channels", "system", "matrix", "range", "change", "max-ire",
         "gamma", "grid", "accumulate", "passthru"]
SWEEP = [  # display, the module's parameters, kivrel's options for the same
    ("video", {}, []),
    ("video", {"channels": "red+blue"}, ["--channels", "red,blue"]),
    ("hotpixel", {}, []),
    ("hotpixel", {"system": "pal", "change": "intensity", "max-ire": "100"},
     ["--system", "pal", "--change", "intensity", "--max-ire", "100"]),
    ("histograms", {}, []),
    ("histograms", {"channels": "luma/green", "range": "16-235"}, ["--channels", "luma,green", "--range", "16-235"]),
    ("waveform", {}, []),
    ("waveform", {"channels": "luma", "grid": False}, ["--channels", "luma", "--no-grid"]),
    ("waveform", {"config": "3/0/0/1/1/1/1/0/1/1/0/0/1"}, ["--channels", "red,green"]),
    ("vectorscope", {}, []),
    ("vectorscope", {"matrix": "709", "gamma": False}, ["--matrix", "709", "--no-gamma"]),
    ("histograms", {"passthru": True}, ["--passthru"]),
    ("histograms", {"accumulate": True}, ["--accumulate"]),  # frame 1 holds frame 0's minimum and maximum
]


def ffmpeg_params(display, params):
    given = dict(params, display=display)
    last = max(ORDER.index(k) for k in given)
    words = []
    for k in ORDER[:last + 1]:
        v = given.get(k, "" if ORDER.index(k) < ORDER.index("gamma") else None)
        if v is None:  # a switch FFmpeg must be given: its factory value
            v = k != "accumulate" and k != "passthru"
        words.append(("y" if v else "n") if isinstance(v, bool) else v)
    return "|".join(words)


def ffmpeg_case(w, h, display, params, options, frames=2):
    card = test_card(w, h, frames)
    card.tofile(path("ffmpeg_in.rgba"))
    raw = run(["ffmpeg", "-v", "error", "-f", "rawvideo", "-pix_fmt", "rgba", "-s", f"{w}x{h}", "-r", "25",
               "-i", path("ffmpeg_in.rgba"), "-vf", f"frei0r=kivrel:{ffmpeg_params(display, params)}",
               "-f", "rawvideo", "-pix_fmt", "rgba", "-"]).stdout
    check("ffmpeg", np.frombuffer(raw, np.uint8).reshape(-1, h, w, 4), card, options, display)


# FFmpeg 5.1 pads the rows of a frame to its SIMD alignment, up to 64 bytes
# (docs/frei0r.md), which no frei0r filter can see: its widths here are
# multiples of 16 pixels, the odd sides are heights. GStreamer and melt take odd widths.
def factory_defaults_whatever_is_saved():
    """A user's saved defaults change kivrel, never the frei0r filter."""
    w, h = 320, 240
    test_card(w, h, 1).tofile(path("defaults_in.rgba"))
    graph = ["ffmpeg", "-v", "error", "-f", "rawvideo", "-pix_fmt", "rgba", "-s", f"{w}x{h}", "-i",
             path("defaults_in.rgba"), "-vf", "frei0r=kivrel", "-f", "rawvideo", "-pix_fmt", "rgba", "-"]
    unsaved = run(graph).stdout
    own = ENV["KIVREL_REGISTRY"]
    ENV["KIVREL_REGISTRY"] = path("saved-defaults.reg")
    run([KIVREL, "defaults", "-d", "vectorscope", "--channels", "luma", "--range", "16-235"])
    saved = run(graph).stdout
    ENV["KIVREL_REGISTRY"] = own
    if saved != unsaved:
        failures.append("ffmpeg: the frei0r filter follows the user's saved defaults")
    else:
        print("ok  ffmpeg: factory defaults with other defaults saved")


def test_ffmpeg():
    factory_defaults_whatever_is_saved()
    for w, h in [(720, 576), (336, 251)]:
        for display, params, options in SWEEP:
            ffmpeg_case(w, h, display, params, options)
    # A whole scale of 2, a frame the waveform fills, and frames too small to read.
    for w, h, displays in [(1296, 1270, ["vectorscope", "histograms"]), (1296, 577, ["waveform"]),
                           (48, 3, ["waveform", "vectorscope", "video"]), (1, 1, ["histograms", "hotpixel"])]:
        for display in displays:
            ffmpeg_case(w, h, display, {}, [])


def gst_frames(raw, sizes):
    frames, at = [], 0
    for w, h in sizes:
        frames.append(np.frombuffer(raw[at:at + w * h * 4], np.uint8).reshape(h, w, 4))
        at += w * h * 4
    if at != len(raw):
        failures.append(f"gstreamer: {len(raw)} bytes out, {at} wanted")
    return frames


def test_gstreamer():
    need("gst-launch-1.0")
    inspect = run([need("gst-inspect-1.0"), "frei0r-filter-kivrel"]).stdout.decode()
    for name in ORDER:
        if f"  {name} " not in inspect and f"  {name}:" not in inspect:
            failures.append(f"gst-inspect-1.0 frei0r-filter-kivrel lists no property {name}")
    # Two sizes one after the other through one element: concat renegotiates the caps mid-stream.
    sizes = [(320, 240), (203, 151)]
    for display, params, options in [("waveform", {"channels": "luma+red"}, ["--channels", "luma,red"]),
                                     ("vectorscope", {}, []), ("hotpixel", {"change": "saturation"},
                                                               ["--change", "saturation"])]:
        props = [f"{k}={'true' if v is True else 'false' if v is False else v}" for k, v in params.items()]
        sources = []
        for i, (w, h) in enumerate(sizes):
            caps = f"video/x-raw,format=BGRA,width={w},height={h},framerate=25/1"
            sources += ["videotestsrc", "num-buffers=2", "pattern=smpte", "!", caps, "!", "tee", f"name=t{i}",
                        "!", "queue", "!", "filesink", f"location={path(f'gst_in{i}.bgra')}",
                        f"t{i}.", "!", "queue", "!", "c."]
        run(["gst-launch-1.0", "-q", "concat", "name=c", "!", "frei0r-filter-kivrel", f"display={display}",
             *props, "!", "filesink", f"location={path('gst_out.bgra')}", *sources])
        got = gst_frames(open(path("gst_out.bgra"), "rb").read(), [s for s in sizes for _ in range(2)])
        for i, (w, h) in enumerate(sizes):
            card = np.fromfile(path(f"gst_in{i}.bgra"), np.uint8).reshape(2, h, w, 4)
            out = np.stack(got[2 * i:2 * i + 2])[..., [2, 1, 0, 3]]  # BGRA to RGBA
            check("gstreamer", out, card, options, display, "bgra")


def test_melt():
    need("melt")
    for w, h, display, props, options in [
            (720, 576, "waveform", {}, []), (720, 576, "histograms", {"channels": "red"}, ["--channels", "red"]),
            (640, 360, "vectorscope", {"matrix": "709"}, ["--matrix", "709"]), (333, 251, "video", {}, [])]:
        card = test_card(w, h, 4)
        clip = path("melt_in.nut")
        run(["ffmpeg", "-v", "error", "-y", "-f", "rawvideo", "-pix_fmt", "rgba", "-s", f"{w}x{h}", "-r", "25",
             "-i", "-", "-c:v", "rawvideo", "-pix_fmt", "rgba", clip], input=card.tobytes())
        profile = path("melt.profile")
        with open(profile, "w") as f:
            f.write(f"description=kivrel test {w}x{h}\nwidth={w}\nheight={h}\nprogressive=1\nframe_rate_num=25\nframe_rate_den=1\n"
                    f"sample_aspect_num=1\nsample_aspect_den=1\ndisplay_aspect_num={w}\n"
                    f"display_aspect_den={h}\ncolorspace=601\n")
        # The filter on the command line, and in a project of MLT's XML.
        project = path("melt_project.mlt")
        settings = "".join(f'<property name="{k}">{v}</property>' for k, v in dict(props, display=display).items())
        with open(project, "w") as f:
            f.write(f'<?xml version="1.0"?>\n<mlt><producer id="clip"><property name="resource">{clip}'
                    f'</property><filter mlt_service="frei0r.kivrel">{settings}</filter></producer></mlt>\n')
        for name, source in [("melt", [clip, "-filter", "frei0r.kivrel", f"display={display}",
                                        *[f"{k}={v}" for k, v in props.items()]]), ("melt xml", [project])]:
            out = path("melt_out.nut")
            run(["melt", "-quiet", "-profile", profile, *source, "-consumer", f"avformat:{out}",
                 "vcodec=rawvideo", "pix_fmt=rgba", "an=1"])
            raw = run(["ffmpeg", "-v", "error", "-y", "-i", out, "-f", "rawvideo", "-pix_fmt", "rgba", "-"]).stdout
            os.remove(out)
            got = np.frombuffer(raw, np.uint8).reshape(-1, h, w, 4)
            # melt may stop a frame short of a clip's end: the frames it gives, at least two.
            if len(got) < 2:
                failures.append(f"{name} {w}x{h} -d {display}: {len(got)} frames out of 4")
            check(name, got, card[:len(got)], options, display)


{"ffmpeg": test_ffmpeg, "gstreamer": test_gstreamer, "melt": test_melt}[HOST]()
for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
