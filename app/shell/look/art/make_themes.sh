#!/usr/bin/env bash
# Draws the three theme sets the window can switch to (nine pictures each, at the sizes of the
# built-in pictures) with ImageMagick. Glass is PNG with real alpha; Black and Silver are GIF,
# whose one-bit transparency is enough for the rounded corners.
# Usage: make_themes.sh [output folder]   (default: the data folder beside this script)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/../data/gfx/Themes}
command -v convert >/dev/null || { echo "ImageMagick's convert is needed" >&2; exit 1; }

# theme NAME EXT TOP1 TOP2 BODY1 BODY2 EDGE GLOSS BTN1 BTN2 GLYPH CLOSE1 CLOSE2 ALPHA
theme() {
  local name=$1 ext=$2 top1=$3 top2=$4 body1=$5 body2=$6 edge=$7 gloss=$8
  local btn1=$9 btn2=${10} glyph=${11} close1=${12} close2=${13} alpha=${14}
  local dir="$out/$name" tmp
  tmp=$(mktemp -d)
  mkdir -p "$dir"

  # Title strip: a two-tone gradient with a glossy upper half; the side edges round it off.
  convert -size 785x28 "gradient:$top1-$top2" \
    \( -size 785x13 "gradient:$gloss-none" \) -geometry +0+1 -composite \
    -fill none -stroke "$edge" -draw "line 0,0 784,0" "$tmp/top.png"
  # Side edges: the title strip's colours for the top 28 rows, the body below, rounded outer corners.
  for side in Left Right; do
    local flip=""
    [[ $side == Right ]] && flip="-flop"
    convert -size 8x28 "gradient:$top1-$top2" \
      \( -size 8x580 "gradient:$body1-$body2" \) -append \
      \( -size 8x608 xc:none -fill white -draw "roundrectangle 0,0 20,607 6,6" \) \
      -alpha set -compose DstIn -composite \
      -fill none -stroke "$edge" -draw "line 0,6 0,601" -draw "line 6,0 7,0" $flip "$tmp/$side.png"
  done
  convert -size 785x8 "gradient:$body2-$edge" \
    \( -size 785x8 xc:none -fill white -draw "roundrectangle -20,-20 804,7 5,5" \) \
    -alpha set -compose DstIn -composite "$tmp/bottom.png"

  # Buttons: rounded caps with a glyph; the "On" picture is the lit one.
  button() {  # button FILE W H C1 C2 GLYPHDRAW
    convert -size "$2x$3" "gradient:$4-$5" \
      \( -size "$2x$(( $3 / 2 ))" "gradient:$gloss-none" \) -geometry +0+0 -composite \
      -fill none -stroke "$edge" -draw "roundrectangle 0,0 $(( $2 - 1 )),$(( $3 - 1 )) 3,3" \
      -stroke "$glyph" -strokewidth 2 -draw "$6" \
      \( -size "$2x$3" xc:none -fill white -draw "roundrectangle 0,0 $(( $2 - 1 )),$(( $3 - 1 )) 3,3" \) \
      -alpha set -compose DstIn -composite "$1"
  }
  button "$tmp/minoff.png" 27 15 "$btn1" "$btn2" "line 9,10 17,10"
  button "$tmp/minon.png" 27 15 "$gloss" "$btn1" "line 9,10 17,10"
  button "$tmp/closeoff.png" 42 15 "$close1" "$close2" "line 17,4 24,10 line 17,10 24,4"
  button "$tmp/closeon.png" 42 15 "#ff8a70" "$close1" "line 17,4 24,10 line 17,10 24,4"
  button "$tmp/max.png" 26 17 "$btn2" "$btn2" "rectangle 9,5 16,11"

  local pairs=(top:FrameTop Left:FrameLeft Right:FrameRight bottom:FrameBottom
               minoff:ButtonMinOff minon:ButtonMinOn closeoff:ButtoncloseOff
               closeon:ButtoncloseOn max:ButtonMaxOff)
  for pair in "${pairs[@]}"; do
    local from=${pair%%:*} to=${pair#*:}
    if [[ $ext == png ]]; then
      # Glass: the whole picture lets some of the backdrop through.
      convert "$tmp/$from.png" -channel A -evaluate multiply "$alpha" +channel "$dir/$to.png"
    else
      convert "$tmp/$from.png" -channel A -threshold 50% +channel "$dir/$to.gif"
    fi
  done
  rm -rf "$tmp"
}

#     name          ext  top1    top2    body1   body2   edge    gloss                   btn1    btn2    glyph   close1  close2  alpha
theme "Vista Black"  gif "#4a4d52" "#111214" "#1d1e21" "#0a0a0b" "#000000" "rgba(255,255,255,0.28)" "#3c3f44" "#16171a" "#e8e8e8" "#b8352a" "#6e140e" 1
theme "Vista Silver" gif "#b9bfc7" "#6f767f" "#8d949c" "#5d636b" "#3c4148" "rgba(255,255,255,0.55)" "#d7dbe0" "#8f969e" "#2d3238" "#c9483a" "#822019" 1
theme "Vista Glass"  png "#dcecfb" "#8fb8e0" "#b7d3ee" "#7ea7cf" "#4a6f96" "rgba(255,255,255,0.65)" "#e8f2fc" "#9dbfe2" "#24476c" "#e0604c" "#a5281c" 0.82
echo "Themes written to $out"
