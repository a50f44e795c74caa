#!/usr/bin/env bash
# Writes tiny seed movies for the fuzz targets into $1: 32x32, a fraction of
# a second, in each container the application opens, with and without audio.
set -euo pipefail
out=$1
mkdir -p "$out"
v=(-f lavfi -i testsrc2=size=32x32:rate=10:duration=0.3)
a=(-f lavfi -i sine=frequency=440:sample_rate=8000:duration=0.3)
seed() { # seed NAME FFMPEG-ARGS...
  local name=$1; shift
  [ -s "$out/$name" ] && return 0
  ffmpeg -nostdin -hide_banner -loglevel error -y "$@" "$out/$name"
}
h264=(-c:v libx264 -preset ultrafast -pix_fmt yuv420p -g 2 -bf 1)
seed av.mp4 "${v[@]}" "${a[@]}" "${h264[@]}" -c:a aac -b:a 16k -ac 1
seed v.mp4 "${v[@]}" "${h264[@]}"
seed av.mkv "${v[@]}" "${a[@]}" "${h264[@]}" -c:a libopus -b:a 8k -ac 1
seed v.mkv "${v[@]}" "${h264[@]}"
seed av.webm "${v[@]}" "${a[@]}" -c:v libvpx -b:v 20k -g 2 -c:a libvorbis -ac 1
seed v.webm "${v[@]}" -c:v libvpx-vp9 -b:v 20k -g 2
seed av.mov "${v[@]}" "${a[@]}" -c:v mjpeg -q:v 20 -c:a pcm_s16le -ac 1
seed v.mov "${v[@]}" -c:v mpeg4 -q:v 20 -g 2
seed a.m4a "${a[@]}" -c:a aac -b:a 16k -ac 1
seed a.mp3 "${a[@]}" -c:a libmp3lame -b:a 32k -ac 2
