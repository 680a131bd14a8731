#!/usr/bin/env bash
# Starts the simulator with an example's operator session already typed in,
# then hands it the keyboard: each line typed goes on to the simulator, and
# the script ends as soon as the simulator does (after "E", say), without
# waiting for one more line.
#
#   demo.sh [SESSION]      (default session.in, in the current directory)
#
# The simulator is build/release/kalvo3 of this checkout; it runs in the
# current directory, where it finds the load files and writes KALV.LPT.
set -u
sim=$(cd "$(dirname "$0")/.." && pwd)/build/release/kalvo3
session=${1:-session.in}
[ -x "$sim" ] || { echo "no $sim: build it first (cmake --workflow --preset build)" >&2; exit 1; }
[ -r "$session" ] || { echo "no session $session here" >&2; exit 1; }

pipe=$(mktemp -u)
mkfifo "$pipe" || exit 1
"$sim" < "$pipe" &
simulator=$!
exec 3> "$pipe"
rm -f "$pipe"
cat "$session" >&3

# Lines from the keyboard while the simulator lives; a line still being
# typed when a wait times out is kept and completed by the next read.
typed=
while kill -0 "$simulator" 2> /dev/null; do
  if IFS= read -r -t 0.2 more; then
    printf '%s%s\n' "$typed" "$more" >&3 2> /dev/null || break
    typed=
  elif [ $? -gt 128 ]; then
    typed+=$more
  else
    printf '%s%s' "$typed" "$more" >&3 2> /dev/null   # the keyboard's input ended
    break
  fi
done
exec 3>&-
wait "$simulator"
