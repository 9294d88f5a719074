#!/usr/bin/env bash
# Writes a minute of changing programme material for bench/app_run.sh: speech (espeak-ng),
# music-like passages (sox: chords with tremolo, a plucked melody, pink-noise drums) and pauses,
# as one 48 kHz stereo 16-bit WAV. Needs espeak-ng and sox.
#
#   bench/make_programme.sh output.wav
set -euo pipefail
OUT=${1:?usage: make_programme.sh output.wav}
for tool in espeak-ng sox; do
    command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install $tool)" >&2; exit 1; }
done
DIR=$(mktemp -d /tmp/orvinta-programme.XXXXXX)
trap 'rm -rf "$DIR"' EXIT
FORMAT=(-r 48000 -c 2 -b 16)

speech() {  # speech NAME VOICE TEXT
    espeak-ng -v "$2" -s 160 -w "$DIR/$1.raw.wav" "$3"
    sox "$DIR/$1.raw.wav" "${FORMAT[@]}" "$DIR/$1.wav" gain -n -3
}
pause() { sox -n "${FORMAT[@]}" "$DIR/$1.wav" trim 0 "$2"; }

speech s1 en "Good evening. Here is the news. Loudness is measured over four hundred milliseconds, three seconds, and the whole programme."
pause p1 1.5
# Chords with tremolo and a slow swell.
sox -n "${FORMAT[@]}" "$DIR/m1.wav" synth 8 sine 220 sine 277 sine 330 \
    remix 1,2,3 1,2,3 tremolo 5 40 fade q 1 8 2 gain -n -12
speech s2 en+f3 "And now, some music. The radar draws one wedge every tenth of a second."
pause p2 0.8
# A plucked melody over a bass line.
for note in 0 3 7 12 7 3 5 10; do
    sox -n "${FORMAT[@]}" "$DIR/n$note.wav" synth 0.45 pluck %$note synth 0.45 sine mix %-12 \
        gain -n -8
done
sox "$DIR"/n0.wav "$DIR"/n3.wav "$DIR"/n7.wav "$DIR"/n12.wav "$DIR"/n7.wav "$DIR"/n3.wav \
    "$DIR"/n5.wav "$DIR"/n10.wav "$DIR/m2.wav" repeat 1
# Drums: short bursts of pink noise, loud then quiet.
sox -n "${FORMAT[@]}" "$DIR/hit.wav" synth 0.08 pinknoise fade q 0 0.08 0.07 pad 0 0.17
sox "$DIR/hit.wav" "$DIR/m3.wav" repeat 23 gain -n -6
pause p3 2
speech s3 en-us "Quiet passages follow loud ones. The short-term loudness falls, and the sparkline follows it."
sox "$DIR/m1.wav" "$DIR/m3.wav" -m "$DIR/m4.wav" gain -n -4

sox "$DIR"/s1.wav "$DIR"/p1.wav "$DIR"/m1.wav "$DIR"/s2.wav "$DIR"/p2.wav "$DIR"/m2.wav \
    "$DIR"/m3.wav "$DIR"/p3.wav "$DIR"/s3.wav "$DIR"/m4.wav "$DIR"/p1.wav "$OUT"
