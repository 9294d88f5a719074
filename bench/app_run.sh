#!/usr/bin/env bash
# Runs the real application under a virtual X display for 30 s, metering a live stereo input of a
# private PulseAudio server, and prints its CPU use, peak memory and the engine's and the UI's
# own timing figures from its log.
#
#   bench/app_run.sh [path/to/orvinta] [seconds]
#
# Goals: CPU < 5 % of one core, peak RSS < 150 MB, UI hand-over (hop) delay average < 5 ms.
set -euo pipefail

APP=${1:-build/release/app/orvinta}
SECONDS_TO_RUN=${2:-30}
[ -x "$APP" ] || { echo "no application at $APP (build it first: make build)" >&2; exit 1; }
for tool in Xvfb xdotool pulseaudio pactl; do
    command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

WORK=$(mktemp -d /tmp/orvinta-bench.XXXXXX)
chmod 700 "$WORK"
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

# A private sound server: speakers as the default sink and a stereo microphone fed with a sine.
mkdir -p "$WORK/runtime" "$WORK/home"
chmod 700 "$WORK/runtime"
cat > "$WORK/server.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$WORK/runtime/native
load-module module-null-sink sink_name=speakers format=float32le rate=48000 channels=2
load-module module-null-sink sink_name=mic_feed format=s16le rate=48000 channels=2
load-module module-remap-source source_name=mic master=mic_feed.monitor channels=2
set-default-sink speakers
set-default-source mic
load-module module-sine sink=mic_feed frequency=997
PA
XDG_RUNTIME_DIR="$WORK/runtime" HOME="$WORK/home" pulseaudio -n -F "$WORK/server.pa" \
    --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no --realtime=no \
    --high-priority=no --log-target=file:"$WORK/pulse.log" &
PIDS+=($!)
export PULSE_SERVER="unix:$WORK/runtime/native"
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl info >/dev/null

# A virtual display on a free number.
exec 3> >(cat > "$WORK/display")
Xvfb -displayfd 3 -screen 0 1920x1200x24 -nolisten tcp 2>"$WORK/xvfb.log" &
PIDS+=($!)
exec 3>&-
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$WORK/display")"

XDG_RUNTIME_DIR="$WORK/runtime" "$APP" > "$WORK/app.log" 2> "$WORK/app.err" &
APP_PID=$!
PIDS+=($APP_PID)
WINDOW=$(timeout 30 xdotool search --sync --onlyvisible --name '^Orvinta$' | head -n1)
sleep 2
xdotool windowfocus --sync "$WINDOW"
xdotool key space
timeout 10 bash -c "until grep -q 'LoudnessEngine started' '$WORK/app.log'; do sleep 0.1; done"

ticks() { awk '{print $14 + $15}' "/proc/$APP_PID/stat"; }
HZ=$(getconf CLK_TCK)
start_ticks=$(ticks)
start_ns=$(date +%s%N)
sleep "$SECONDS_TO_RUN"
end_ticks=$(ticks)
end_ns=$(date +%s%N)
rss_kb=$(awk '/VmHWM/ {print $2}' "/proc/$APP_PID/status")
xdotool key ctrl+q || true
sleep 0.5

awk -v ticks=$((end_ticks - start_ticks)) -v hz="$HZ" -v ns=$((end_ns - start_ns)) -v rss="$rss_kb" '
/\[Tessaro\] throughput: / {
    for (i = 1; i <= NF; i++) {
        if ($i ~ /^avg=/ && $(i - 1) == "queueDelay") { v = $i; sub("avg=", "", v); sub("ms", "", v); queue += v; nq++ }
        if ($i ~ /^avg=/ && $(i - 1) == "process") { v = $i; sub("avg=", "", v); sub("ms", "", v); proc += v; np++ }
    }
}
/\[Tessaro\] AppState: mainActor hop delay avg=/ {
    match($0, /avg=[0-9.]+/); avg = substr($0, RSTART + 4, RLENGTH - 4)
    match($0, /\(([0-9]+) snapshots\)/); count = substr($0, RSTART + 1, RLENGTH - 12)
    hop += avg * count; nh += count
}
END {
    cpu = 100.0 * ticks / hz / (ns / 1e9)
    printf "cpu            %.1f %% of one core over %.0f s   (goal < 5 %%)\n", cpu, ns / 1e9
    printf "peak RSS       %.1f MB                  (goal < 150 MB)\n", rss / 1024
    printf "queue delay    %.2f ms average of %d throughput lines\n", nq ? queue / nq : 0, nq
    printf "process time   %.3f ms average per buffer\n", np ? proc / np : 0
    printf "UI hop delay   %.2f ms average over %d snapshots (goal < 5 ms)\n", nh ? hop / nh : 0, nh
}' "$WORK/app.log"
