#!/usr/bin/env bash
# Records 60 s at 1920 x 1080 through MI-RU.exe under Wine with the virtual headset and reports
# from one run: frames written against Wide frames delivered, the drops by kind, the sound blocks
# dropped, the writer thread's time per frame (composition, row-reversing copy, sample creation,
# WriteSample), the virtual devices' marks (every click present in the sound; at each mark the
# white rectangle in the picture and its offset from the click, which must lie within one
# written-frame interval) and the process's memory every 5 s over the minute (flat after the
# first 10 s). Uses a Wine prefix of its own (build/bench-prefix).
#   MIRU_BUILD_DIR  build root (default: build)    MIRU_BENCH_SECONDS  length (default: 60)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MIRU_BUILD_DIR:-$root/build}
seconds=${MIRU_BENCH_SECONDS:-60}

"$root/scripts/install-deps.sh" test
cmake -S "$root" -B "$build/win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build/win" -j "$(nproc)" --target MI-RU miru_window
exe="$build/win/app/MI-RU.exe"
helper="$build/win/app/miru_window.exe"

source "$root/scripts/wine-prefix.sh"
wine_prefix_use "$build/bench-prefix"
export MIRU_VIRTUAL_DEVICES=default
trap wine_stop EXIT
wine_display_start
wine_prefix_ready

roaming=$(find "$WINEPREFIX/drive_c/users" -mindepth 3 -maxdepth 3 -type d -path '*/AppData/Roaming' \
    ! -path '*/Public/*' | head -1)
out="$build/bench-recordings"
rm -rf "$out" "$roaming/MI-RU"
mkdir -p "$out" "$roaming/MI-RU"
{ printf '\xff\xfe'; printf '%s\r\n' '[MIRU]' didCompleteOnboarding=1 watermarkOn=1 'praxisText=Praxis Dr. Weiss' \
    resolutionHigh=0 "recordingFolder=$(printf 'Z:%s' "$out" | tr '/' '\\')" \
    'micDeviceID={0.0.1.00000000}.{8d2f6a3e-5b1c-4e7a-9f0d-3c6b2a1e4f57}' | iconv -f UTF-8 -t UTF-16LE; } \
    >"$roaming/MI-RU/settings.ini"
log="$roaming/MI-RU/miru-diagnose.log"
wait_for_log() {
    local i=0
    while [ $i -lt $(($2 * 10)) ]; do
        grep -qE "$1" "$log" 2>/dev/null && return 0
        sleep 0.1
        i=$((i + 1))
    done
    echo "no log line matching \"$1\" within $2 s" >&2
    exit 1
}
# Resident memory of the app's process in MB.
app_rss() {
    local pid
    for pid in $(pgrep -f 'MI-RU\.exe'); do
        if [ "$(cat /proc/$pid/comm 2>/dev/null)" = "MI-RU.exe" ]; then
            awk '/VmRSS/ { printf "%.0f", $2 / 1024 }' "/proc/$pid/status"
            return
        fi
    done
    echo "?"
}

"$wine" "$exe" </dev/null >/dev/null 2>&1 &
app=$!
"$wine" "$helper" wait 60 </dev/null >/dev/null
wait_for_log "Kameras live" 60
live="memory (MB resident) live, before recording, every 5 s:"
for t in 1 2 3 4; do
    sleep 5
    live+=" $(app_rss)"
done
echo "Recording $seconds s at 1920 x 1080 (load average before: $(cut -d' ' -f1-3 /proc/loadavg))"
"$wine" "$helper" key R </dev/null
wait_for_log "Aufnahme läuft" 60
memory="memory (MB resident) every 5 s:"
for ((t = 0; t < seconds; t += 5)); do
    memory+=" $(app_rss)"
    sleep 5
done
memory+=" $(app_rss)"
"$wine" "$helper" key R </dev/null
wait_for_log "Aufnahme gespeichert|Aufnahme fehlgeschlagen" 300
"$wine" "$helper" close </dev/null
wait "$app" || true

ended=$(grep -a 'Aufnahme beendet:' "$log" | tail -1 | sed 's/.*EVENT  //')
writer=$(grep -a 'Aufnahme-Writer:' "$log" | tail -1 | sed 's/.*INFO  //')
movie=$(grep -a 'Aufnahme gespeichert:' "$log" | tail -1 | sed 's/.*gespeichert: //' | tr -d '\r')
sound=$(grep -a 'Ton-Bl.*cke verworfen' "$log" | tail -1 | sed -n 's/.*Aufnahme: \([0-9]*\) Ton-Bl.*/\1/p' || true)
echo "$ended"
echo "$writer"
echo "sound blocks dropped: ${sound:-0}"
echo "$live"
echo "$memory"
echo "file: $(ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames,duration -of compact=p=0 "$out/$movie")"
echo "marks (click in the sound, white rectangle in the picture):"
python3 "$root/tests/record/check_recording.py" --marks "$out/$movie" | sed 's/^/  /' || true
python3 - "$ended" "$writer" "$memory" <<'EOF'
import re, sys
ended, writer, memory = sys.argv[1:4]
written, fps, compose_drops, encoder_drops = re.search(
    r"(\d+) Frames, \S+ ([\d.]+) fps, verworfen: (\d+) \(Compositing\), (\d+) \(Encoder\)", ended).groups()
received = int(re.search(r"(\d+) Wide-Frames", writer).group(1))
compose, copy, sample, write = (float(v) for v in re.findall(r"([\d.]+) ms", writer))
added = copy + sample + write
print(f"frames written {written} of {received} Wide frames delivered "
      f"(dropped: {compose_drops} before the encoder, {encoder_drops} by the encoder backlog)")
print(f"writer per frame: composition {compose:.1f} ms; added by the writer {added:.2f} ms "
      f"= {100 * added / compose:.1f} % of the composition (goal under 10 %)")
values = [int(v) for v in memory.split(":")[1].split() if v.isdigit()]
if len(values) > 3:
    settled = values[2:]
    growth = settled[-1] - settled[0]
    # Flat: no more than a few MB apart (allocator noise), and no steady climb.
    flat = max(settled) - min(settled) <= max(16, min(settled) // 20)
    print(f"memory after the first 10 s: {min(settled)} ... {max(settled)} MB "
          f"(growth {growth:+d} MB over {5 * (len(settled) - 1)} s): {'flat' if flat else 'NOT flat'}")
EOF
