#!/bin/sh
# make run: the demo full screen with sound. At the desktop's own resolution where the GL
# renderer is a GPU's; at 640 x 480 where it rasterises in software, which could not keep up
# with a large screen. SIZE (WxH or desktop) decides instead when given.
set -u
cd "$(dirname "$0")/../../build"
size=${SIZE:-}
if [ -n "$size" ]; then
  echo "make run: SIZE=$size"
else
  renderer=$(glxinfo -B 2>/dev/null | sed -n 's/^OpenGL renderer string: //p')
  case "$renderer" in
    *llvmpipe* | *softpipe* | *swrast* | "")
      size=640x480
      echo "make run: software rasteriser (${renderer:-renderer unknown}): 640 x 480, SIZE=WxH for another"
      ;;
    *)
      size=desktop
      echo "make run: $renderer: full screen at the desktop's resolution"
      ;;
  esac
fi
QUIET_MOSS_SIZE=$size exec ./quiet_moss
