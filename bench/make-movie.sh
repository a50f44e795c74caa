#!/usr/bin/env bash
# Writes a benchmark movie to $1 unless it is already there. Kinds ($2):
# boxes (the default): 10 minutes of 1920x1080 25 fps H.264 (B-frames,
#   keyframe every 10 s) with AAC audio, black for the first second of every
#   minute and white for 0.8 s from second 30;
# plain: the same 10 minutes without any black or white frame;
# steady: the plain movie with a keyframe exactly every 10 s (no scene-cut
#   keyframes), for exact cuts;
# 2h: the boxes movie ($3) twelve times over, the picture copied, not encoded,
#   the sound silent for 30 s from 4:00 of every ten minutes.
set -euo pipefail
out=$1
kind=${2:-boxes}
[ -s "$out" ] && exit 0
mkdir -p "$(dirname "$out")"
tmp="$out.tmp.$$.mp4"
trap 'rm -f "$tmp"' EXIT
if [ "$kind" = 2h ]; then
  ffmpeg -nostdin -hide_banner -loglevel error -y -stream_loop 11 -i "$3" -c:v copy \
    -af "volume=0:enable='between(mod(t,600),240,270)'" -c:a aac -b:a 128k "$tmp"
  mv "$tmp" "$out"
  exit 0
fi
filter=null
if [ "$kind" = boxes ]; then
  filter="drawbox=x=0:y=0:w=iw:h=ih:color=black:t=fill:enable='lt(mod(t,60),1)',drawbox=x=0:y=0:w=iw:h=ih:color=white:t=fill:enable='between(mod(t,60),30,30.79)'"
fi
keys=(-g 250)
[ "$kind" = steady ] && keys=(-g 250 -keyint_min 250 -sc_threshold 0)
ffmpeg -nostdin -hide_banner -loglevel error -y \
  -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=600 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=600 \
  -vf "$filter" \
  -c:v libx264 -preset veryfast "${keys[@]}" -bf 3 -pix_fmt yuv420p \
  -c:a aac -b:a 128k -t 600 "$tmp"
mv "$tmp" "$out"
