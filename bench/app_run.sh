#!/usr/bin/env bash
# Runs the real application under a virtual X display, metering a live stereo microphone of a
# private PulseAudio server, and prints its CPU use, peak memory, the UI's hand-over (hop) delay
# and the frames it painted per second, read from its own log. Two inputs: a steady 997 Hz sine,
# and a minute of changing programme material (speech, music-like passages, pauses) made by
# bench/make_programme.sh (needs espeak-ng and sox) and looped into the microphone.
#
#   bench/app_run.sh [path/to/orvinta] [seconds, default 30] [sine|programme|both] [runs, default 3]
#
# Each run starts afresh; with several runs the median of each figure is printed as well.
# APP_RUN_PERF=file records a call-graph profile of the application (perf record, options in
# APP_RUN_PERF_ARGS, default -g) during a run.
# Goals: CPU < 5 % of one core, peak RSS < 150 MB, UI hop delay average < 5 ms.
set -euo pipefail

APP=${1:-build/release/app/orvinta}
SECONDS_TO_RUN=${2:-30}
MATERIALS=${3:-both}
RUNS=${4:-3}
[ -x "$APP" ] || { echo "no application at $APP (build it first: make build)" >&2; exit 1; }
for tool in Xvfb xdotool pulseaudio pactl paplay; do
    command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done
case "$MATERIALS" in
    both) MATERIALS="sine programme" ;;
    sine | programme) ;;
    *) echo "unknown material $MATERIALS (sine, programme or both)" >&2; exit 1 ;;
esac

WORK=$(mktemp -d /tmp/orvinta-bench.XXXXXX)
chmod 700 "$WORK"
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

if [[ " $MATERIALS " == *" programme "* ]]; then
    "$(dirname "$0")/make_programme.sh" "$WORK/programme.wav"
fi

# One run: prints "cpu% rssMB hopMs fps frameAvgMs frameMaxMs" on stdout.
run_once() {
    local material=$1 run=$2
    local dir="$WORK/$material-$run"
    local pids_before=${#PIDS[@]}
    mkdir -p "$dir/runtime" "$dir/home"
    chmod 700 "$dir/runtime"
    # Speakers as the default sink and a stereo microphone fed through a second null sink.
    cat > "$dir/server.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/runtime/native
load-module module-null-sink sink_name=speakers format=float32le rate=48000 channels=2
load-module module-null-sink sink_name=mic_feed format=s16le rate=48000 channels=2
load-module module-remap-source source_name=mic master=mic_feed.monitor channels=2
set-default-sink speakers
set-default-source mic
PA
    [ "$material" = sine ] && echo "load-module module-sine sink=mic_feed frequency=997" >> "$dir/server.pa"
    XDG_RUNTIME_DIR="$dir/runtime" HOME="$dir/home" pulseaudio -n -F "$dir/server.pa" \
        --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no --realtime=no \
        --high-priority=no --log-target=file:"$dir/pulse.log" &
    PIDS+=($!)
    export PULSE_SERVER="unix:$dir/runtime/native"
    for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
    pactl info >/dev/null
    if [ "$material" = programme ]; then
        (while true; do paplay -d mic_feed "$WORK/programme.wav" 2>/dev/null || exit 0; done) &
        PIDS+=($!)
    fi

    # A virtual display on a free number.
    exec 3> >(cat > "$dir/display")
    Xvfb -displayfd 3 -screen 0 1920x1200x24 -nolisten tcp 2>"$dir/xvfb.log" &
    PIDS+=($!)
    exec 3>&-
    for _ in $(seq 100); do [ -s "$dir/display" ] && break; sleep 0.1; done
    export DISPLAY=":$(head -n1 "$dir/display")"

    XDG_RUNTIME_DIR="$dir/runtime" "$APP" > "$dir/app.log" 2> "$dir/app.err" &
    local app_pid=$!
    PIDS+=($app_pid)
    local window
    window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Orvinta$' | head -n1)
    sleep 2
    xdotool windowfocus --sync "$window"
    xdotool key space
    timeout 10 bash -c "until grep -q 'LoudnessEngine started' '$dir/app.log'; do sleep 0.1; done"
    # Figures from the log count only from here on.
    local from_line
    from_line=$(($(wc -l < "$dir/app.log") + 1))

    local perf_pid=""
    if [ -n "${APP_RUN_PERF:-}" ]; then
        perf record ${APP_RUN_PERF_ARGS:--g} -o "$APP_RUN_PERF" -p "$app_pid" -- sleep "$SECONDS_TO_RUN" \
            >/dev/null 2>&1 &
        perf_pid=$!
    fi
    ticks() { awk '{print $14 + $15}' "/proc/$app_pid/stat"; }
    local hz start_ticks start_ns end_ticks end_ns rss_kb
    hz=$(getconf CLK_TCK)
    start_ticks=$(ticks)
    start_ns=$(date +%s%N)
    sleep "$SECONDS_TO_RUN"
    end_ticks=$(ticks)
    end_ns=$(date +%s%N)
    rss_kb=$(awk '/VmHWM/ {print $2}' "/proc/$app_pid/status")
    [ -n "$perf_pid" ] && wait "$perf_pid" || true
    xdotool key ctrl+q || true
    sleep 0.5
    for pid in "${PIDS[@]:$pids_before}"; do kill "$pid" 2>/dev/null || true; done
    PIDS=("${PIDS[@]:0:$pids_before}")
    wait 2>/dev/null || true

    tail -n +"$from_line" "$dir/app.log" | awk -v ticks=$((end_ticks - start_ticks)) -v hz="$hz" \
        -v ns=$((end_ns - start_ns)) -v rss="$rss_kb" '
    /\[Tessaro\] AppState: mainActor hop delay avg=/ {
        match($0, /avg=[0-9.]+/); avg = substr($0, RSTART + 4, RLENGTH - 4)
        match($0, /\(([0-9]+) snapshots\)/); count = substr($0, RSTART + 1, RLENGTH - 12)
        hop += avg * count; nh += count
    }
    /\[Tessaro\] frames: / {
        match($0, /avg=[0-9.]+/); avg = substr($0, RSTART + 4, RLENGTH - 4)
        match($0, /max=[0-9.]+/); mx = substr($0, RSTART + 4, RLENGTH - 4)
        match($0, /\(([0-9]+) frames/); count = substr($0, RSTART + 1, RLENGTH - 8)
        framesum += avg * count; nf += count; if (mx + 0 > fmax) fmax = mx + 0
    }
    END {
        printf "%.1f %.1f %.2f %.1f %.2f %.2f\n", 100.0 * ticks / hz / (ns / 1e9), rss / 1024,
            nh ? hop / nh : 0, nf / (ns / 1e9), nf ? framesum / nf : 0, fmax
    }'
}

median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

printf "%-10s %4s %8s %8s %9s %8s %14s %14s\n" material run "cpu %" "RSS MB" "hop ms" "fps" \
    "frame avg ms" "frame max ms"
for material in $MATERIALS; do
    : > "$WORK/$material.runs"
    for run in $(seq "$RUNS"); do
        figures=$(run_once "$material" "$run")
        echo "$figures" >> "$WORK/$material.runs"
        read -r cpu rss hop fps favg fmax <<< "$figures"
        printf "%-10s %4s %8s %8s %9s %8s %14s %14s\n" "$material" "$run" "$cpu" "$rss" "$hop" \
            "$fps" "$favg" "$fmax"
    done
    if [ "$RUNS" -gt 1 ]; then
        medians=()
        for column in 1 2 3 4 5 6; do
            medians+=("$(awk -v c=$column '{print $c}' "$WORK/$material.runs" | median)")
        done
        printf "%-10s %4s %8s %8s %9s %8s %14s %14s\n" "$material" median "${medians[@]}"
    fi
done
echo "goals: cpu < 5 % of one core (median), RSS < 150 MB, hop delay < 5 ms"
