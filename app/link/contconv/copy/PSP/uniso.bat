#!/bin/sh
# Removes what the installation copied into PSP/ of the home folder: the converter scripts
# in ISO_Compress, that folder once it is empty, and this script. Anything else stays.
set -u
here=$(cd "$(dirname -- "$0")" && pwd) || exit 1
for name in do.reg isoconv.sh; do
  rm -f -- "$here/ISO_Compress/$name"
done
rmdir -- "$here/ISO_Compress" 2>/dev/null
rm -f -- "$here/uniso.bat"
# PSP/ may hold the user's own files (ISO/, GAME/): it goes only when nothing is left in it.
rmdir -- "$here" 2>/dev/null
exit 0
