#!/usr/bin/env bash
# Every operator session of the transcript tests and the examples, cut off
# early: after one of its lines, or in the middle of one. Wherever the input
# ends, the simulator must end with status 0, write nothing to standard error
# (a sanitizer report would), and end its output with the end message.
#
#   truncation.sh SIMULATOR SOURCE_DIR [MAX_CUTS]
#
# Sessions with more cut points than MAX_CUTS (default 24) are sampled at
# evenly spaced cut points, the same ones on every run.
set -u
sim=$1
source_dir=$2
max_cuts=${3:-24}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '  KALVO-3 TERMINATED \n' > "$work/end"

failed=0
runs=0
for dir in "$source_dir"/tests/transcripts/*/ "$source_dir"/examples/*/; do
  session=${dir}session.in
  [ -f "$session" ] || continue
  size=$(wc -c < "$session")
  # Cut points (byte counts): after each line, and after the first half of
  # each line of two characters or more; the whole input is the transcript
  # test's own. Every byte but the newline becomes x first, so that NUL bytes
  # in a session cannot upset awk.
  mapfile -t cuts < <(LC_ALL=C tr -c '\n' 'x' < "$session" | awk -v size="$size" '
    { if (length($0) >= 2) print start + int(length($0) / 2)
      start += length($0) + 1
      if (start < size) print start }')
  count=${#cuts[@]}
  step=1
  [ "$count" -gt "$max_cuts" ] && step=$(( (count + max_cuts - 1) / max_cuts ))
  for ((i = 0; i < count; i += step)); do
    cut=${cuts[$i]}
    run=$work/run
    rm -rf "$run"
    mkdir "$run"
    for f in "$dir"*; do
      case $(basename "$f") in
        session.in|expected.out|expected.lpt) ;;
        *) cp -r "$f" "$run"/ ;;
      esac
    done
    head -c "$cut" "$session" > "$work/input"
    (cd "$run" && timeout 60 "$sim" < "$work/input" > "$work/out" 2> "$work/err")
    status=$?
    runs=$((runs + 1))
    where="FAIL: $session cut after $cut of $size bytes:"
    if [ $status -ne 0 ]; then echo "$where exit status $status"; failed=1; fi
    if [ -s "$work/err" ]; then echo "$where standard error: $(head -c 1000 "$work/err")"; failed=1; fi
    if ! tail -c 22 "$work/out" | cmp -s - "$work/end"; then
      echo "$where output ends without the end message: $(tail -c 80 "$work/out")"
      failed=1
    fi
  done
done
echo "$runs truncated sessions run"
exit $failed
