#!/usr/bin/env bash
# Runs one operator session through the simulator and compares what it prints.
#
#   run_transcript.sh SIMULATOR DIR
#
# DIR holds session.in (the operator's input), expected.out (the console
# output) and optionally expected.lpt (the printer file the session must
# leave); every other file in DIR is copied into a fresh temporary working
# directory first, so sessions can load files and read KALV.CRD. The build
# date in the banner is the one thing masked. With UPDATE_GOLDEN=1 the
# expected files are rewritten from what the simulator printed.
set -u
sim=$1
dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for f in "$dir"/* "$dir"/.[!.]*; do
  [ -e "$f" ] || continue
  case $(basename "$f") in
    session.in|expected.out|expected.lpt) ;;
    *) cp -r "$f" "$work"/ ;;
  esac
done

(cd "$work" && "$sim" < "$dir/session.in" > "$work/.stdout")
status=$?
sed -E '1,3s/\[[A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4}\] \*\*\*$/[DATE] ***/' "$work/.stdout" > "$work/.actual"

if [ "${UPDATE_GOLDEN:-0}" = 1 ]; then
  cp "$work/.actual" "$dir/expected.out"
  [ -f "$work/KALV.LPT" ] && [ -f "$dir/expected.lpt" ] && cp "$work/KALV.LPT" "$dir/expected.lpt"
  exit 0
fi

failed=0
# compare WHAT EXPECTED ACTUAL: reports and counts a difference.
compare() {
  if [ ! -f "$3" ]; then
    echo "$1 was not written"
    failed=1
  elif ! cmp -s "$2" "$3"; then
    echo "$1 differs from $(basename "$2"):"
    diff -u "$2" "$3" | head -n 60
    failed=1
  fi
}

if [ $status -ne 0 ]; then
  echo "exit status $status, expected 0"
  failed=1
fi
compare "console output" "$dir/expected.out" "$work/.actual"
[ -f "$dir/expected.lpt" ] && compare KALV.LPT "$dir/expected.lpt" "$work/KALV.LPT"
exit $failed
