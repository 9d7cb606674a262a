#!/usr/bin/env python3
"""Checks what one run of MI-RU.exe with the virtual headset saved: the MP4 (ffprobe/ffmpeg)
and the photos (identify/ffmpeg), against the run's log and the times of its key presses.

Usage: check_recording.py <run log> <times file> <recording folder> <width> <height> <photos>
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
    check(recorded <= received <= 30 * recorded + 10, "Wide frames were handed in at up to 30 a second")
    duration = float(video["duration"])
    interval = duration / max(1, written)
    check(abs(duration - recorded) <= max(3 * interval, 1.0),
          f"duration {duration:.2f} s within a few frame intervals ({interval:.2f} s) of the recorded time")
    check(len(audio) == 1 and audio[0]["sample_rate"] == "48000" and audio[0]["channels"] == 2,
          "one sound track, 48 kHz stereo")
    comment = info["format"].get("tags", {}).get("comment", "")
    rate = 12000000 if width < 2560 else 20000000
    check(f"video=h264 size={width}x{height} rate=30/1 bitrate={rate} profile=100 keyframes=60" in comment
          and "audio=aac rate=48000 channels=2" in comment, "H.264/AAC parameters as asked for")

    # ---- Sound against picture at the marks (a flash in the picture, a click in the sound) ----
    frame_times = [float(f["pts_time"]) for f in json.loads(run(
        "ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "frame=pts_time", "-of", "json",
        movie))["frames"]]
    small = raw_frames(movie, 40, 20, "gray")
    check(len(small) == len(frame_times) == written, "every frame decodes")
    flash = [sum(f[y * 40 + x] for y in range(3, 5) for x in range(18, 22)) / 8 > 200 for f in small]
    samples = run("ffmpeg", "-v", "error", "-i", movie, "-map", "0:a:0", "-ac", "1", "-f", "s16le", "-")
    audio_start = float(audio[0]["start_time"]) if audio else 0.0
    clicks, last = [], -10**9
    for i in range(0, len(samples) // 2):
        value = int.from_bytes(samples[2 * i:2 * i + 2], "little", signed=True)
        if abs(value) > 20000:
            if i - last > 4800:
                clicks.append(audio_start + i / 48000)
            last = i
    onsets = [k for k in range(1, len(flash)) if flash[k] and not flash[k - 1]]
    expected = [c for c in clicks if frame_times[0] < c < frame_times[-1] - 0.5]
    longest_gap = max(b - a for a, b in zip(frame_times, frame_times[1:]))
    # A flash lasts half a second: while no gap between written frames is longer, none is lost.
    check(len(onsets) == len(expected) or longest_gap >= 0.5,
          f"a flash for every click inside the picture ({len(onsets)} flashes, {len(expected)} clicks, "
          f"longest gap between frames {longest_gap * 1000:.0f} ms)")
    # A flash's first written frame shows the mark no earlier than the click and no later than
    # the interval since the frame before it.
    sound_gaps = "Ton-Bl\u00f6cke verworfen" in log
    for k in onsets:
        near = [c for c in clicks if frame_times[k - 1] - 0.1 <= c <= frame_times[k] + 0.1]
        if not near:
            check(sound_gaps, f"a click before the flash at {frame_times[k]:.3f} s "
                              f"(missing only where the log reports sound gaps)")
            continue
        offset = frame_times[k] - near[-1]
        gap = frame_times[k] - frame_times[k - 1]
        check(-0.05 <= offset <= gap + 0.05,
              f"flash at {frame_times[k]:.3f} s, click at {near[-1]:.3f} s: picture {offset * 1000:+.0f} ms "
              f"after the sound, within the {gap * 1000:.0f} ms since the last written frame")

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


main()
