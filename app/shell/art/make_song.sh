#!/usr/bin/env bash
# Writes the About song (about 75 s): a plucked arpeggio over a soft bass and pad, C-Am-F-G,
# made with sox and encoded with lame. Usage: make_song.sh OUTPUT.mp3
set -euo pipefail
out=${1:?usage: make_song.sh OUTPUT.mp3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

rate=44100
eighth=0.3125            # 96 beats a minute
bar=2.5
# Chord tones per bar (bass, then the arpeggio's eight notes).
declare -A bass=([C]=C2 [Am]=A1 [F]=F1 [G]=G1 [Em]=E2 [Dm]=D2)
declare -A arp=(
  [C]="C4 G4 E5 G4 C5 G4 E5 G4"
  [Am]="A3 E4 C5 E4 A4 E4 C5 E4"
  [F]="F3 C4 A4 C4 F4 C4 A4 C4"
  [G]="G3 D4 B4 D4 G4 D4 B4 D4"
  [Em]="E3 B3 G4 B3 E4 B3 G4 B3"
  [Dm]="D3 A3 F4 A3 D4 A3 F4 A3"
)
declare -A pad=([C]="C4 E4 G4" [Am]="A3 C4 E4" [F]="F3 A3 C4" [G]="G3 B3 D4" [Em]="E3 G3 B3" [Dm]="D3 F3 A3")
# A tune that turns twice before it comes home: 30 bars.
song=(C Am F G  C Am F G  Am Em F C  Dm G C C  F G Em Am  Dm G C Am  F G C Am  F G)

n=0
for chord in "${song[@]}"; do
  notes=()
  i=0
  for note in ${arp[$chord]}; do
    f="$work/n$n-$i.wav"
    sox -q -n -r $rate -c 1 "$f" synth $eighth pluck "$note" fade 0 $eighth 0.05 gain -6
    notes+=("$f")
    i=$((i + 1))
  done
  sox -q "${notes[@]}" "$work/arp$n.wav"
  sox -q -n -r $rate -c 1 "$work/bass$n.wav" synth $bar pluck "${bass[$chord]}" fade 0 $bar 0.4 gain -4
  set -- ${pad[$chord]}
  sox -q -n -r $rate -c 1 "$work/pad$n.wav" synth $bar sine "$1" sine "$2" sine "$3" remix - \
    fade 0.6 $bar 0.8 gain -22
  sox -q -m "$work/arp$n.wav" "$work/bass$n.wav" "$work/pad$n.wav" "$work/bar$n.wav"
  n=$((n + 1))
done
bars=()
for ((i = 0; i < n; i++)); do bars+=("$work/bar$i.wav"); done
# A last chord that rings out.
sox -q -n -r $rate -c 1 "$work/end.wav" synth 4 pluck C2 pluck C4 pluck E4 pluck G4 pluck C5 remix - \
  fade 0 4 3 gain -8
sox -q "${bars[@]}" "$work/end.wav" "$work/dry.wav"
sox -q "$work/dry.wav" -c 2 "$work/wet.wav" reverb 35 50 70 100 0 0 norm -3
# -t: no Info frame; the decoder here warns about its empty frame.
lame --silent -t -b 64 -m j --tt "Kivo Theme" --ta "Kivo Workbench" "$work/wet.wav" "$out"
