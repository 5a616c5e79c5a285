#!/bin/sh
# Kivo starts the top-menu builder by the name doit.cmd, which it runs with /bin/sh on Linux:
# hand over to the doit program beside this script.
exec "$(dirname "$0")/doit" "$@"
