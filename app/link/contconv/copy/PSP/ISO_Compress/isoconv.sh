#!/bin/sh
# isoconv.sh TOOLFOLDER cso|dax|iso|chd FILE...
# Converts each UMD image beside itself with Kivo's converters (ciso, dax), and writes the disc
# image of a PS1 EBOOT.PBP beside it with rastle. An existing output is never overwritten.
set -u
if [ $# -lt 2 ]; then
  echo "usage: isoconv.sh TOOLFOLDER cso|dax|iso|chd FILE..." >&2
  exit 2
fi
tools=$1
want=$2
shift 2
level=9
failed=0

tool() {
  if [ -x "$tools/$1" ]; then printf '%s' "$tools/$1"; else printf '%s' "$tools/$1.exe"; fi
}

# File managers start us without a terminal: say what went wrong on the desktop as well.
report() {
  printf 'isoconv: %s\n' "$*" >&2
  if command -v notify-send >/dev/null 2>&1; then notify-send "UMD image conversion" "$*" 2>/dev/null; fi
  failed=1
}

# Two-step conversions go through an ISO in a temporary file beside the input.
through_iso() {
  mid=$(mktemp "$(dirname -- "$2")/.isoconv.XXXXXX") || return 1
  "$(tool "$1")" "$3" "$2" "$mid" && "$(tool "$4")" "$5" "$mid" "$6"
  status=$?
  rm -f -- "$mid"
  return $status
}

convert() {  # from to in out
  case $1-$2 in
  iso-cso) "$(tool ciso)" "$level" "$3" "$4" ;;
  iso-dax) "$(tool dax)" "-l$level" "$3" "$4" ;;
  cso-iso) "$(tool ciso)" 0 "$3" "$4" ;;
  dax-iso) "$(tool dax)" -d "$3" "$4" ;;
  cso-dax) through_iso ciso "$3" 0 dax "-l$level" "$4" ;;
  dax-cso) through_iso dax "$3" -d ciso "$level" "$4" ;;
  # ciso reads a CHD as it reads the other containers: no intermediate image.
  iso-chd | cso-chd | dax-chd) "$(tool ciso)" -f chd "$level" "$3" "$4" ;;
  chd-iso) "$(tool ciso)" 0 "$3" "$4" ;;
  chd-cso) "$(tool ciso)" "$level" "$3" "$4" ;;
  chd-dax) "$(tool dax)" "-l$level" "$3" "$4" ;;
  # rastle writes in place: a failed run's partial image (a new file, checked above) goes.
  pbp-iso) "$(tool rastle)" -o "$4" "$3" >&2 || { rm -f -- "$4"; return 1; } ;;
  *) return 1 ;;
  esac
}

case $want in
cso | dax | iso | chd) ;;
*)
  report "unknown target format '$want'"
  exit 2
  ;;
esac

for file in "$@"; do
  case $file in
  *.[iI][sS][oO]) from=iso ;;
  *.[cC][sS][oO]) from=cso ;;
  *.[dD][aA][xX]) from=dax ;;
  *.[cC][hH][dD]) from=chd ;;
  *.[pP][bB][pP]) from=pbp ;;
  *)
    report "$file is not an ISO, CSO, DAX or CHD image or an EBOOT.PBP"
    continue
    ;;
  esac
  if [ "$from" = "$want" ]; then
    report "$file is a $want image already"
    continue
  fi
  out="${file%.*}.$want"
  if [ -e "$out" ]; then
    report "$out exists already; $file was not converted"
    continue
  fi
  if ! convert "$from" "$want" "$file" "$out" || [ ! -f "$out" ]; then
    report "$file could not be converted"
  fi
done
exit $failed
