#!/usr/bin/env bash
# Runs two builds of the application side by side, each in its own virtual display and private
# PulseAudio server (bench/app_run.sh), so that whatever else the machine does weighs on both
# alike: on a shared or virtual machine a build's CPU share drifts by a point or more from one
# minute to the next, more than most single changes gain. Prints each round's figures for both
# and the median of each figure.
#
#   bench/app_compare.sh path/to/old/orvinta path/to/new/orvinta [seconds, default 30]
#                        [sine|programme, default programme] [rounds, default 3]
#
# Needs two cores to spare for a fair comparison; each build runs one metering window.
set -euo pipefail

OLD=${1:?old build}
NEW=${2:?new build}
SECONDS_TO_RUN=${3:-30}
MATERIAL=${4:-programme}
ROUNDS=${5:-3}
HERE=$(dirname "$0")
WORK=$(mktemp -d /tmp/orvinta-compare.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

printf "%-6s %5s %8s %8s %9s %8s %14s\n" build round "cpu %" "RSS MB" "hop ms" "fps" "frame avg ms"
for round in $(seq "$ROUNDS"); do
    "$HERE/app_run.sh" "$OLD" "$SECONDS_TO_RUN" "$MATERIAL" 1 > "$WORK/old.$round" 2>&1 &
    old_pid=$!
    "$HERE/app_run.sh" "$NEW" "$SECONDS_TO_RUN" "$MATERIAL" 1 > "$WORK/new.$round" 2>&1 &
    new_pid=$!
    wait "$old_pid" "$new_pid"
    for build in old new; do
        # The run's row: material, run, then the figures.
        read -r _ _ cpu rss hop fps favg _ < <(sed -n 2p "$WORK/$build.$round")
        echo "$cpu $rss $hop $fps $favg" >> "$WORK/$build.figures"
        printf "%-6s %5s %8s %8s %9s %8s %14s\n" "$build" "$round" "$cpu" "$rss" "$hop" "$fps" "$favg"
    done
done
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
for build in old new; do
    medians=()
    for column in 1 2 3 4 5; do
        medians+=("$(awk -v c="$column" '{print $c}' "$WORK/$build.figures" | median)")
    done
    printf "%-6s %5s %8s %8s %9s %8s %14s\n" "$build" median "${medians[@]}"
done
