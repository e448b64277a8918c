#!/usr/bin/env bash
# Generates the sound search corpus: per family and target, one file in which a target sound
# recurs (changed the family's way) among decoys treated the same way, and a line of truth.txt:
#   FILE FAMILY RATE PROTO_START PROTO_COUNT START...    (samples of the file's rate)
# The prototype (the clean target) comes first; START lists where each other copy begins.
# usage: make_corpus.sh OUTDIR [SEED]   (espeak-ng, sox, lame and ffmpeg; SEED orders the files
# and draws the voices, speeds and gaps: 19 unless given)
set -euo pipefail
out=${1:?usage: make_corpus.sh OUTDIR [SEED]}
mkdir -p "$out/tmp"
tmp=$out/tmp
RANDOM=${2:-19}
: > "$out/truth.txt"

decoys=(table river orange pocket candle winter silver garden monkey pencil ladder butter
        doctor rabbit window thunder paper button carpet dinner finger hammer kitten lemon
        market napkin pillow rocket summer tiger)
voices=(en en-us en+f3 en+m3 en-us+f2 en-us+m5 en-gb-scotland en-gb-x-rp+f4)

# say WORD VOICE SPEED PITCH OUT: one word at 22050 Hz mono, silence trimmed from both ends.
say() {
  espeak-ng -v "$2" -s "$3" -p "$4" -w "$tmp/raw.wav" "$1"
  sox "$tmp/raw.wav" "$5" silence 1 0.01 0.3% reverse silence 1 0.01 0.3% reverse
}
rms() { sox "$1" -n stat 2>&1 | awk '/RMS +amplitude/ {print $3}'; }
samples() { soxi -s "$1"; }

# background IN OUT SNR REF FROM: IN with white noise from FROM (samples) to its end, SNR dB below
# the RMS of the sound REF: a steady background behind every sound after the prototype.
background() {
  local r; r=$(soxi -r "$1")
  local d; d=$(( $(soxi -s "$1") - $5 ))
  sox -R -n -r "$r" -c 1 "$tmp/n.wav" synth "${d}s" whitenoise
  local v; v=$(awk -v s="$(rms "$4")" -v n="$(rms "$tmp/n.wav")" -v snr="$3" 'BEGIN {print s / n / 10 ^ (snr / 20)}')
  sox -v "$v" "$tmp/n.wav" "$tmp/nv.wav" pad "${5}s" 0
  sox -m "$1" "$tmp/nv.wav" "$2"
}

# treat FAMILY IN OUT: the family's change of one sound; prints the samples of lead-in it adds.
treat() {
  case $1 in
    level) sox "$2" "$3" gain -12; echo 0 ;;

    reverb) sox "$2" "$3" pad 0 0.6 reverb 60 50 80; echo 0 ;;
    pitch) sox "$2" "$3" pitch $(( RANDOM % 2 ? 30 : -30 )); echo 0 ;;
    phone) sox "$2" -r 8000 "$tmp/ph.wav" sinc 300-3400 && sox "$tmp/ph.wav" -r 22050 "$3"; echo 0 ;;
    tempo) sox "$2" "$3" tempo $(( RANDOM % 2 ? 95 : 105 ))e-2; echo 0 ;;
    fxlevel) sox "$2" "$3" gain -12; echo 0 ;;
    *) cp "$2" "$3"; echo 0 ;;
  esac
}

# A sound effect by name at 22050 Hz mono.
effect() {
  case $1 in
    burst) sox -R -n -r 22050 -c 1 "$2" synth 0.3 whitenoise fade 0.005 0.3 0.02 gain -6 ;;
    pluck) sox -R -n -r 22050 -c 1 "$2" synth 0.8 pluck C3 pluck E3 pluck G3 fade 0 0.8 0.1 gain -3 ;;
    pink) sox -R -n -r 22050 -c 1 "$2" synth 0.3 pinknoise fade 0.005 0.3 0.02 gain -6 ;;
    brown) sox -R -n -r 22050 -c 1 "$2" synth 0.3 brownnoise fade 0.005 0.3 0.02 gain -6 ;;
    beep) sox -R -n -r 22050 -c 1 "$2" synth 0.3 sine 880 fade 0.01 0.3 0.02 gain -9 ;;
    chirp) sox -R -n -r 22050 -c 1 "$2" synth 0.4 sine 300-2000 fade 0.01 0.4 0.02 gain -9 ;;
    minor) sox -R -n -r 22050 -c 1 "$2" synth 0.8 pluck A2 pluck C3 pluck E3 fade 0 0.8 0.1 gain -3 ;;
    high) sox -R -n -r 22050 -c 1 "$2" synth 0.8 pluck C5 pluck E5 pluck G5 fade 0 0.8 0.1 gain -3 ;;
    square) sox -R -n -r 22050 -c 1 "$2" synth 0.3 square 220 fade 0.01 0.3 0.02 gain -12 ;;
    hiss) sox -R -n -r 22050 -c 1 "$2" synth 0.3 whitenoise highpass 5000 fade 0.005 0.3 0.02 gain -3 ;;
  esac
}

# build NAME FAMILY RATE CHANNELS PROTO COPIES... -- DECOYS...: assembles the file.
build() {
  local name=$1 family=$2 rate=$3 channels=$4 proto=$5; shift 5
  local copies=() list=() kinds=()
  while [ "$1" != "--" ]; do copies+=("$1"); shift; done; shift
  local decoyFiles=("$@")
  for c in "${copies[@]}"; do list+=("$c"); kinds+=(copy); done
  for d in "${decoyFiles[@]}"; do list+=("$d"); kinds+=(decoy); done
  # Shuffle the order (Fisher-Yates with the seeded RANDOM).
  local n=${#list[@]} i j t
  for ((i = n - 1; i > 0; i--)); do
    j=$((RANDOM % (i + 1)))
    t=${list[i]}; list[i]=${list[j]}; list[j]=$t
    t=${kinds[i]}; kinds[i]=${kinds[j]}; kinds[j]=$t
  done
  local parts=() pos=0 starts=() k=0
  conv() { sox "$1" -r "$rate" -c 1 "$2"; }
  gap() { sox -n -r "$rate" -c 1 "$1" trim 0 "$2"; }
  gap "$tmp/g0.wav" 0.5; parts+=("$tmp/g0.wav"); pos=$((pos + $(samples "$tmp/g0.wav")))
  conv "$proto" "$tmp/p.wav"; parts+=("$tmp/p.wav")
  local protoStart=$pos protoCount; protoCount=$(samples "$tmp/p.wav"); pos=$((pos + protoCount))
  for ((i = 0; i < n; i++)); do
    gap "$tmp/g$((i + 1)).wav" "0.$((3 + RANDOM % 5))"; parts+=("$tmp/g$((i + 1)).wav")
    pos=$((pos + $(samples "$tmp/g$((i + 1)).wav")))
    local lead; lead=$(cat "${list[i]}.lead")
    conv "${list[i]}" "$tmp/s$i.wav"; parts+=("$tmp/s$i.wav")
    [ "${kinds[i]}" = copy ] && starts+=($((pos + $(awk -v l="$lead" -v r="$rate" 'BEGIN {printf "%d", l * r + 0.5}'))))
    pos=$((pos + $(samples "$tmp/s$i.wav")))
  done
  gap "$tmp/gend.wav" 0.5; parts+=("$tmp/gend.wav")
  local remix=(); [ "$channels" = 2 ] && remix=(remix 1 1v0.9)
  if [ "$family" = noise10 ] || [ "$family" = noise20 ] || [ "$family" = fxnoise ]; then
    sox "${parts[@]}" "$tmp/all.wav"
    local snr=${family#noise}; [ "$family" = fxnoise ] && snr=10
    background "$tmp/all.wav" "$tmp/bg.wav" "$snr" "$proto" $((protoStart + protoCount + rate / 5))
    sox "$tmp/bg.wav" -b 16 "$out/$name.wav" "${remix[@]}"
  else
    sox "${parts[@]}" -b 16 "$out/$name.wav" "${remix[@]}"
  fi
  if [ "$family" = mp3 ]; then
    lame --quiet -b 64 "$out/$name.wav" "$tmp/m.mp3"
    # The decoder's delay is trimmed by ffmpeg (from the LAME header): positions hold.
    ffmpeg -loglevel error -y -i "$tmp/m.mp3" -ar "$rate" "$out/$name.wav"
  fi
  echo "$name.wav $family $rate $protoStart $protoCount ${starts[*]}" >> "$out/truth.txt"
}

# A sound treated the family's way, with its lead-in beside it.
treated() {  # FAMILY IN OUT
  treat "$1" "$2" "$3" > "$3.lead"
}

for target in basket yellow; do
  say "$target" en 175 50 "$tmp/$target.wav"
  for family in exact voices speed level noise10 noise20 reverb pitch phone tempo mp3; do
    copies=() dfiles=()
    for ((c = 0; c < 5; c++)); do
      v=en s=175 p=50
      case $family in
        voices) v=${voices[c + 1]} ;;
        speed) s=$(( c < 3 ? 140 : 215 )) ;;
      esac
      if [ "$family" = exact ] || [ "$family" = mp3 ] || [ "$family" = level ] || [ "$family" = noise10 ] ||
         [ "$family" = noise20 ] || [ "$family" = reverb ] || [ "$family" = pitch ] || [ "$family" = phone ] ||
         [ "$family" = tempo ]; then
        cp "$tmp/$target.wav" "$tmp/w.wav"
      else
        say "$target" "$v" "$s" "$p" "$tmp/w.wav"
      fi
      treated "$family" "$tmp/w.wav" "$tmp/c_${family}_$c.wav"
      copies+=("$tmp/c_${family}_$c.wav")
    done
    for ((d = 0; d < 30; d++)); do
      v=en s=175
      case $family in
        voices) v=${voices[RANDOM % ${#voices[@]}]} ;;
        speed) s=$(( RANDOM % 2 ? 140 : 215 )) ;;
      esac
      say "${decoys[d]}" "$v" "$s" 50 "$tmp/w.wav"
      treated "$family" "$tmp/w.wav" "$tmp/d_${family}_$d.wav"
      dfiles+=("$tmp/d_${family}_$d.wav")
    done
    case $family in
      exact|level) rate=44100 ch=2 ;;
      speed|phone) rate=16000 ch=1 ;;
      noise10|reverb) rate=48000 ch=1 ;;
      *) rate=22050 ch=1 ;;
    esac
    build "${family}_$target" "$family" $rate $ch "$tmp/$target.wav" "${copies[@]}" -- "${dfiles[@]}"
  done
done

# Sound effects: the selected one, copies 12 dB quieter or in noise at 10 dB SNR, among others.
for target in burst pluck; do
  effect "$target" "$tmp/$target.wav"
  for family in fxlevel fxnoise; do
    copies=() dfiles=()
    for ((c = 0; c < 4; c++)); do
      treated "$family" "$tmp/$target.wav" "$tmp/c_${family}_$c.wav"; copies+=("$tmp/c_${family}_$c.wav")
    done
    d=0
    for other in burst pluck pink brown beep chirp minor high square hiss; do
      [ "$other" = "$target" ] && continue
      for rep in 1 2; do
        effect "$other" "$tmp/e.wav"
        treated "$family" "$tmp/e.wav" "$tmp/d_${family}_$d.wav"; dfiles+=("$tmp/d_${family}_$d.wav"); d=$((d + 1))
      done
    done
    build "${family}_$target" "$family" 44100 1 "$tmp/$target.wav" "${copies[@]}" -- "${dfiles[@]}"
  done
done
rm -rf "$tmp"
