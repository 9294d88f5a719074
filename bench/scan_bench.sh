#!/usr/bin/env bash
# orvinta-scan against ffmpeg's ebur128 filter (peak=true) and libebur128 in one run, on the
# same files and machine: 30 minutes of 48 kHz stereo WAV and of 44.1 kHz stereo FLAC. Prints
# the speed as multiples of real time (one job pinned to core 0, then all cores over several
# files) and the readings side by side.
#
# Needs at run time: sox (to make the programme), ffmpeg and taskset. Build first:
#   cmake --build build/release --target orvinta-scan scan_reference
# Usage: bench/scan_bench.sh [build-dir]        SCAN_BENCH_MINUTES=5 for a quicker run
set -euo pipefail

build=${1:-build/release}
scan=$build/app/scan/orvinta-scan
reference=$build/bench/scan_reference
for tool in sox ffmpeg taskset; do
    command -v "$tool" >/dev/null || { echo "scan_bench: $tool is needed" >&2; exit 1; }
done
for program in "$scan" "$reference"; do
    [ -x "$program" ] || { echo "scan_bench: build $program first" >&2; exit 1; }
done

minutes=${SCAN_BENCH_MINUTES:-30}
seconds=$((minutes * 60))
cores=$(nproc)
files=$((2 * cores))
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# Pink noise band-limited to 18 kHz like most masters, its level swinging slowly (a loudness
# range of some LU), then the same programme resampled to 44.1 kHz FLAC.
echo "Making ${minutes} min of programme in $work ..." >&2
sox -n -r 48000 -c 2 -b 24 "$work/programme.wav" synth "$seconds" pinknoise \
    sinc -18k tremolo 0.05 50 vol 0.5 2>/dev/null
sox "$work/programme.wav" -r 44100 "$work/programme.flac" 2>/dev/null

ffmpeg_meter() {  # ffmpeg_meter FILE: ebur128 with true peak, one thread
    ffmpeg -nostdin -hide_banner -nostats -threads 1 -i "$1" \
        -af ebur128=peak=true:framelog=verbose -f null - 2>&1
}
export -f ffmpeg_meter

# timed COMMAND...: runs it with its output in $work/out; prints "wall-seconds cpu-seconds".
TIMEFORMAT='%R %U %S'
timed() {
    local t
    t=$({ time "$@" >"$work/out" 2>&1; } 2>&1)
    awk '{ printf "%.2f %.2f", $1, $2 + $3 }' <<<"$t"
}

rows=()
row() {  # row TOOL INPUT JOBS FILES "WALL CPU"
    local wall cpu
    read -r wall cpu <<<"$5"
    rows+=("$(awk -v t="$1" -v i="$2" -v j="$3" -v n="$4" -v w="$wall" -v c="$cpu" -v s="$seconds" \
        'BEGIN { printf "%-22s %-10s %4s %5s %8.2f %10.0f %10.0f", t, i, j, n, w, n*s/w, n*s/c }')")
}

for input in wav flac; do
    file=$work/programme.$input
    row orvinta-scan "$input" 1 1 "$(timed taskset -c 0 "$scan" --jobs 1 --json "$file")"
    cp "$work/out" "$work/scan.$input"
    row "ffmpeg ebur128" "$input" 1 1 "$(timed taskset -c 0 bash -c 'ffmpeg_meter "$0"' "$file")"
    cp "$work/out" "$work/ffmpeg.$input"
    row "libebur128 (same PCM)" "$input" 1 1 "$(timed taskset -c 0 "$reference" "$file")"
    cp "$work/out" "$work/reference.$input"

    copies=()
    for k in $(seq "$files"); do
        ln -s "$file" "$work/copy$k.$input"
        copies+=("$work/copy$k.$input")
    done
    row orvinta-scan "$input" 1 "$files" "$(timed "$scan" --jobs 1 --json "${copies[@]}")"
    row orvinta-scan "$input" "$cores" "$files" "$(timed "$scan" --jobs "$cores" --json "${copies[@]}")"
    row "ffmpeg ebur128" "$input" "$cores" "$files" \
        "$(timed bash -c 'printf "%s\n" "$@" | xargs -P "$0" -I{} bash -c "ffmpeg_meter {}"' \
            "$cores" "${copies[@]}")"
done

echo
echo "$(uname -m), $cores cores ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')),"
echo "${minutes} min of programme per file; × real time = audio seconds / seconds (wall or CPU)"
echo "load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-22s %-10s %4s %5s %8s %10s %10s\n' tool input jobs files wall-s "×RT wall" "×RT CPU"
printf '%s\n' "${rows[@]}"

value() { grep -o "\"$2\": [-0-9.]*" "$1" | head -1 | awk '{ print $2 }'; }
echo
printf '%-6s %-24s %12s %12s %12s %12s\n' input reading orvinta-scan libebur128 difference ffmpeg
for input in wav flac; do
    i_scan=$(value "$work/scan.$input" integratedLUFS)
    i_ref=$(value "$work/reference.$input" integratedLUFS)
    tp_scan=$(value "$work/scan.$input" truePeakDBTP)
    tp_ref=$(value "$work/reference.$input" truePeakDBTP)
    lra_scan=$(value "$work/scan.$input" loudnessRangeLU)
    lra_ref=$(value "$work/reference.$input" loudnessRangeLU)
    i_ff=$(awk '/^ *I:/ { v = $2 } END { print v }' "$work/ffmpeg.$input")
    lra_ff=$(awk '/^ *LRA:/ { v = $2 } END { print v }' "$work/ffmpeg.$input")
    tp_ff=$(awk '/^ *Peak:/ { v = $2 } END { print v }' "$work/ffmpeg.$input")
    awk -v inp="$input" -v a="$i_scan" -v b="$i_ref" -v f="$i_ff" -v c="$tp_scan" -v d="$tp_ref" \
        -v g="$tp_ff" -v e="$lra_scan" -v h="$lra_ref" -v k="$lra_ff" 'BEGIN {
        printf "%-6s %-24s %12.2f %12.3f %12.3f %12s\n", inp, "integrated LUFS", a, b, a - b, f
        printf "%-6s %-24s %12.2f %12.3f %12.3f %12s\n", inp, "loudness range LU", e, h, e - h, k
        printf "%-6s %-24s %12.2f %12.3f %12.3f %12s\n", inp, "max true peak dBTP", c, d, c - d, g
        if ((a - b) ^ 2 > 0.05 ^ 2 || (c - d) ^ 2 > 0.2 ^ 2) { bad = 1 }
        exit bad }' || echo "readings of $input differ from libebur128 by more than 0.05 LU / 0.2 dB"
done
