#!/usr/bin/env python3
"""Checks what one run of MI-RU.exe with the virtual headset saved: the MP4 (ffprobe/ffmpeg)
and the photos (identify/ffmpeg), against the run's log and the times of its key presses.

Usage: check_recording.py <run log> <times file> <recording folder> <width> <height> <photos>
       check_recording.py --marks <recording>   (only the sound against the picture at the marks)
"""
import json
import re
import subprocess
import sys

failures = []


def check(condition, text):
    print(("ok   " if condition else "FAIL ") + text)
    if not condition:
        failures.append(text)


def run(*args):
    return subprocess.run(args, check=True, capture_output=True).stdout


def log_value(log, pattern):
    match = re.search(pattern, log)
    if not match:
        print("FAIL log line missing: " + pattern)
        sys.exit(1)
    return match.groups()


def raw_frames(path, width, height, pix_fmt, extra=()):
    """Decoded pictures of the first video stream (or an image), scaled, as byte strings."""
    size = width * height * (3 if pix_fmt == "rgb24" else 1)
    data = run("ffmpeg", "-v", "error", "-i", path, "-map", "0:v:0", *extra, "-fps_mode", "passthrough",
               "-vf", f"scale={width}:{height}",
               "-f", "rawvideo", "-pix_fmt", pix_fmt, "-")
    return [data[i:i + size] for i in range(0, len(data) - size + 1, size)]


class Picture:
    """An RGB picture with region statistics (fractions of width and height)."""

    def __init__(self, data, width, height):
        self.data, self.width, self.height = data, width, height

    def pixels(self, x0, x1, y0, y1):
        for y in range(int(y0 * self.height), int(y1 * self.height)):
            for x in range(int(x0 * self.width), int(x1 * self.width)):
                at = (y * self.width + x) * 3
                yield self.data[at], self.data[at + 1], self.data[at + 2]

    def mean(self, *box):
        values = list(self.pixels(*box))
        return [sum(v[c] for v in values) / len(values) for c in range(3)]

    def white(self, *box):
        return sum(1 for v in self.pixels(*box) if min(v) > 200)

    def difference(self, other, *box):
        mine, theirs = list(self.pixels(*box)), list(other.pixels(*box))
        return sum(abs(a[c] - b[c]) for a, b in zip(mine, theirs) for c in range(3)) / (3 * len(mine))


def picture(path, width, height, extra=()):
    return Picture(raw_frames(path, width, height, "rgb24", extra)[0], width, height)


# Regions of a composed frame (fractions). Camera images are turned by 180 degrees: the
# landscape's sky (top of the camera image) is at the bottom, its ground at the top.
GROUND = (0.02, 0.25, 0.02, 0.10)
SKY = (0.02, 0.25, 0.70, 0.80)
IN_PIP = (0.40, 0.60, 0.80, 0.90)      # inside the Macro box (30 % wide, centred on the bottom)
BESIDE_PIP = (0.05, 0.25, 0.80, 0.90)  # same rows, outside it
UPPER = (0.02, 0.98, 0.02, 0.60)       # away from the box and the watermark


def check_turned(pic, what):
    ground, sky = pic.mean(*GROUND), pic.mean(*SKY)
    check(ground[1] > ground[2] + 10 and sky[2] > sky[0] + 40,
          f"{what}: turned by 180 degrees (ground at the top G/B {ground[1]:.0f}/{ground[2]:.0f}, "
          f"sky at the bottom B/R {sky[2]:.0f}/{sky[0]:.0f})")


MARK_PERIOD = 2.0  # seconds between the virtual devices' marks
FLASH_LENGTH = 0.5  # seconds the white rectangle stays in the Wide picture


def marks(movie, written=None):
    """The virtual devices' marks in a recording: every click in the sound (one every 2 s, none
    missing), and at each mark the first frame written during the flash, which must show the
    white rectangle no earlier than the click and within the interval since the frame before it.
    Returns the checked rows (ok, text) and a one-line summary."""
    info = json.loads(run("ffprobe", "-v", "error", "-show_streams", "-of", "json", movie))
    audio = [s for s in info["streams"] if s["codec_type"] == "audio"]
    frame_times = [float(f["pts_time"]) for f in json.loads(run(
        "ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "frame=pts_time", "-of", "json",
        movie))["frames"]]
    small = raw_frames(movie, 40, 20, "gray")
    rows = []
    if written is not None:
        rows.append((len(small) == len(frame_times) == written, f"every frame decodes ({len(small)} of {written})"))
    if not audio or len(frame_times) < 2:
        return rows + [(False, "a sound track and at least two frames")], "no marks to check"
    # The rectangle sits near the top of the turned picture.
    flash = [sum(f[y * 40 + x] for y in range(3, 5) for x in range(18, 22)) / 8 > 200 for f in small]
    samples = run("ffmpeg", "-v", "error", "-i", movie, "-map", "0:a:0", "-ac", "1", "-ar", "48000",
                  "-f", "s16le", "-")
    audio_start = float(audio[0].get("start_time", 0.0))
    audio_end = audio_start + len(samples) / 2 / 48000
    clicks, last = [], -10**9
    for i in range(0, len(samples) // 2):
        value = int.from_bytes(samples[2 * i:2 * i + 2], "little", signed=True)
        if abs(value) > 20000:
            if i - last > 4800:
                clicks.append(audio_start + i / 48000)
            last = i
    # Every mark inside the sound: between two clicks, before the first and after the last.
    expected = list(clicks)
    if clicks:
        for a, b in zip(clicks, clicks[1:]):
            expected += [a + MARK_PERIOD * n for n in range(1, round((b - a) / MARK_PERIOD))]
        t = clicks[0] - MARK_PERIOD
        while t > audio_start + 0.01:
            expected.append(t)
            t -= MARK_PERIOD
        t = clicks[-1] + MARK_PERIOD
        while t < audio_end - 0.01:
            expected.append(t)
            t += MARK_PERIOD
    expected.sort()
    rows.append((bool(clicks) and len(clicks) == len(expected),
                 f"every mark in the sound: {len(clicks)} clicks of {len(expected)} marks between "
                 f"{audio_start:.2f} s and {audio_end:.2f} s"))
    seen = within = unseen = 0
    for m in expected:
        heard = any(abs(c - m) < 0.05 for c in clicks)
        click = f"click {'heard' if heard else 'MISSING'}"
        if m < frame_times[0] or m > frame_times[-1]:
            rows.append((heard, f"mark {m:7.3f} s: {click}; outside the picture"))
            continue
        # Frames that may show the flash (a frame within 50 ms of either end may or may not).
        during = [k for k, t in enumerate(frame_times) if m - 0.05 <= t < m + FLASH_LENGTH and k > 0]
        clearly = [k for k in during if m + 0.05 <= frame_times[k] < m + FLASH_LENGTH - 0.05]
        shown = [k for k in during if flash[k]]
        if not shown and not clearly:
            unseen += 1
            if during:
                rows.append((heard, f"mark {m:7.3f} s: {click}; only a frame within 50 ms of the flash's edge "
                                    f"(at {frame_times[during[0]]:.3f} s), which may or may not show it"))
                continue
            before = max(t for t in frame_times if t < m)
            after = min(t for t in frame_times if t >= m)
            rows.append((heard, f"mark {m:7.3f} s: {click}; no frame written during the flash (frames at "
                                f"{before:.3f} and {after:.3f} s)"))
            continue
        if not shown:
            rows.append((False, f"mark {m:7.3f} s: {click}; white rectangle MISSING from the frame at "
                                f"{frame_times[clearly[0]]:.3f} s"))
            continue
        k = shown[0]
        offset, interval = frame_times[k] - m, frame_times[k] - frame_times[k - 1]
        inside = -0.05 <= offset <= interval + 0.05
        seen += 1
        within += inside
        rows.append((heard and inside,
                     f"mark {m:7.3f} s: {click}; white rectangle in the frame at {frame_times[k]:.3f} s: picture "
                     f"{offset * 1000:+.0f} ms after the sound, {'within' if inside else 'OUTSIDE'} the "
                     f"{interval * 1000:.0f} ms since the frame before"))
    # A flash in the picture without its click: sound lost at that mark.
    for k in range(1, len(flash)):
        if flash[k] and not flash[k - 1] and not any(frame_times[k - 1] - 0.1 <= c <= frame_times[k] + 0.1
                                                     for c in clicks):
            rows.append((False, f"white rectangle at {frame_times[k]:.3f} s without a click in the sound"))
    inside_picture = sum(1 for m in expected if frame_times[0] <= m <= frame_times[-1])
    summary = (f"marks: {len(clicks)} of {len(expected)} in the sound; of the {inside_picture} inside the picture, "
               f"{inside_picture - unseen} had a frame written during the flash: white rectangle in {seen}, "
               f"{within} of them within one written-frame interval of the click")
    return rows, summary


def main():
    log_path, times_path, folder, width, height, photos = sys.argv[1:7]
    width, height, photos = int(width), int(height), int(photos)
    log = open(log_path, encoding="utf-8").read()
    start, stop = (float(t) for t in open(times_path).read().split())
    recorded = stop - start

    # ---- The recording against the log ----
    (name,) = log_value(log, r"Aufnahme gespeichert: (\S+)")
    movie = f"{folder}/{name}"
    written, dropped_compose, dropped_encoder = (int(v) for v in log_value(
        log, r"Aufnahme beendet: (\d+) Frames, \S+ [\d.]+ fps, verworfen: (\d+) \(Compositing\), (\d+) \(Encoder\)"))
    (received,) = (int(v) for v in log_value(log, r"Aufnahme-Writer: (\d+) Wide-Frames erhalten"))
    info = json.loads(run("ffprobe", "-v", "error", "-count_packets", "-show_streams", "-show_format", "-of", "json",
                          movie))
    video = next(s for s in info["streams"] if s["codec_type"] == "video")
    video.setdefault("nb_frames", video["nb_read_packets"])  # a fragmented file states no frame count
    audio = [s for s in info["streams"] if s["codec_type"] == "audio"]
    print(f"{movie}: {video['width']}x{video['height']}, {video['nb_frames']} frames, "
          f"{float(video['duration']):.2f} s; {written} written + {dropped_compose} + {dropped_encoder} dropped "
          f"of {received} received; recorded {recorded:.2f} s")
    check((video["width"], video["height"]) == (width, height), f"picture size {width}x{height}")
    check(int(video["nb_frames"]) == written, "frames in the file = frames written")
    check(written + dropped_compose + dropped_encoder == received, "written + dropped = Wide frames received")
    duration = float(video["duration"])
    # The keys reach a busy app late, so the recording itself may outlast the time between them.
    check(recorded <= received <= 30 * max(recorded, duration) + 10, "Wide frames were handed in at up to 30 a second")
    interval = duration / max(1, written)
    # Nothing the user recorded is missing; the keys may reach a busy app late, so the file may
    # run longer than the time between them, but not longer than the recording the app logged
    # (its lines carry whole seconds).
    (began,) = log_value(log, r"(\d\d:\d\d:\d\d)  EVENT  Aufnahme l\u00e4uft")
    (ended,) = log_value(log, r"(\d\d:\d\d:\d\d)  EVENT  Aufnahme beendet")
    seconds = lambda t: sum(int(v) * f for v, f in zip(t.split(":"), (3600, 60, 1)))
    logged = (seconds(ended) - seconds(began)) % 86400
    slack = max(3 * interval, 1.0)
    check(recorded - slack <= duration <= max(recorded, logged + 1) + slack,
          f"duration {duration:.2f} s: the recorded {recorded:.2f} s (app: {logged} s) within a few frame "
          f"intervals ({interval:.2f} s)")
    check(len(audio) == 1 and audio[0]["sample_rate"] == "48000" and audio[0]["channels"] == 2,
          "one sound track, 48 kHz stereo")
    comment = info["format"].get("tags", {}).get("comment", "")
    rate = 12000000 if width < 2560 else 20000000
    check(f"video=h264 size={width}x{height} rate=30/1 bitrate={rate} profile=100 keyframes=60 gop=60" in comment
          and "audio=aac rate=48000 channels=2" in comment, "H.264/AAC parameters as asked for")

    # ---- Sound against picture at the marks (a flash in the picture, a click in the sound) ----
    check("Ton-Bl\u00f6cke verworfen" not in log, "no sound block dropped")
    rows, summary = marks(movie, written)
    print(summary)
    for ok, text in rows:
        check(ok, text)

    # ---- The first frame: turned, with the Macro box and the watermark ----
    first = picture(movie, 480, 270, ("-frames:v", "1"))
    check_turned(first, "first frame")
    inside, beside = first.mean(*IN_PIP), first.mean(*BESIDE_PIP)
    check(inside[0] > inside[1] + 20 and inside[0] > inside[2] + 20 and beside[2] > beside[0] + 40,
          f"first frame: the reddish Macro surface in the box (R/G/B {inside[0]:.0f}/{inside[1]:.0f}/"
          f"{inside[2]:.0f}), sky beside it")
    # The practice text, light on the sky (whose red stays far below white) at the bottom left.
    text = picture(movie, width, height, ("-frames:v", "1")).white(0.0, 0.15, 0.92, 1.0)
    check(text > 20, f"first frame: practice text of the watermark at the bottom left ({text} light pixels)")

    # ---- Photos ----
    saved = re.findall(r"Foto gespeichert: .*\\(\S+\.jpg)", log)
    check(len(saved) == photos, f"{photos} photos saved ({', '.join(saved)})")
    shots = {}
    for file in saved:
        path = f"{folder}/{file}"
        kind = file.rsplit("-", 1)[1][:-4]
        described = run("identify", "-format", "%m %w %h", path).decode().split()
        check(described == ["JPEG", str(width), str(height)], f"{file}: JPEG {width}x{height} ({' '.join(described)})")
        shots[kind] = picture(path, 480, 270)
        if kind == "Macro":
            macro_text = picture(path, width, height).white(0.0, 0.15, 0.92, 1.0)
    if "Wide" in shots and "Ansicht" in shots:
        check_turned(shots["Wide"], "Wide photo")
        check(shots["Ansicht"].difference(shots["Wide"], *UPPER) < 6
              and shots["Ansicht"].difference(shots["Wide"], *IN_PIP) > 20,
              "Ansicht photo: the Wide photo with the Macro box")
    if "Macro" in shots:
        whole = shots["Macro"].mean(0.0, 1.0, 0.0, 0.85)
        check(whole[0] > whole[1] + 20 and whole[0] > whole[2] + 20 and macro_text > 20,
              f"Macro photo: the Macro surface fills the frame, with the watermark ({macro_text} light pixels)")

    if failures:
        print(f"{len(failures)} check(s) failed")
        sys.exit(1)


if len(sys.argv) == 3 and sys.argv[1] == "--marks":
    # The marks of one recording only (scripts/record-bench.sh).
    rows, summary = marks(sys.argv[2])
    for ok, text in rows:
        print(("ok   " if ok else "FAIL ") + text)
    print(summary)
    sys.exit(0 if all(ok for ok, _ in rows) else 1)
main()
