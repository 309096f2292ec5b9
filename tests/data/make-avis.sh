#!/bin/sh
# Makes the AVIs of the reader tests with an independent writer (ffmpeg).
# The files are kept in the repository; this records how they were made.
set -eu
cd "$(dirname "$0")"
src="testsrc=size=32x24:rate=5:duration=0.8"
tone="sine=frequency=440:sample_rate=8000:duration=0.8"
ff() { ffmpeg -loglevel error -y "$@"; }
ff -f lavfi -i "$src" -c:v rawvideo -pix_fmt bgr24 ff-bgr24.avi
ff -f lavfi -i "$src" -f lavfi -i "$tone" -c:v rawvideo -pix_fmt bgr24 -c:a pcm_u8 ff-bgr24-audio.avi
ff -f lavfi -i "$src" -c:v rawvideo -pix_fmt rgb555le ff-rgb555.avi
ff -f lavfi -i "$src" -c:v rawvideo -pix_fmt pal8 ff-pal8.avi
ff -f lavfi -i "$src" -c:v mjpeg -q:v 5 ff-mjpeg.avi
ff -f lavfi -i "$src" -f lavfi -i "$tone" -c:v mjpeg -q:v 5 -c:a pcm_u8 ff-mjpeg-audio.avi
# The pictures as ffmpeg decodes them, 24-bit bottom-up like Spoolshift's.
for f in ff-bgr24 ff-rgb555 ff-pal8; do
    ff -i "$f.avi" -f rawvideo -pix_fmt bgr24 -vf vflip "$f.rgb"
done
