#!/bin/sh
# Grading a class with kalvo3-check: 1,000 students' directories, each with
# its own copy of a multiply microprogram (mostly correct, some wrong, some
# that never halt), graded against 12 cases, with -j 1 and -j N; then a
# hostile class (a FIFO, a link to /dev/stdin, an include of /dev/zero,
# 50,000 nested parentheses, an include of a classmate's file, a runaway, a
# printer loop, a correct student). Prints the wall-clock seconds of each.
#
#   bench/grading.sh [CHECKER [STUDENTS [JOBS]]]
#       (default: build/release/kalvo3-check, 1000 students, -j 2)
#
# Meant for an idle machine: other processes change the figures.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
checker=${1:-$root/build/release/kalvo3-check}
students=${2:-1000}
jobs=${3:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

cp "$root/tests/check/class/correct/mul.masm" correct.masm
cp "$root/tests/check/class/wrong/mul.masm" wrong.masm
cp "$root/tests/check/class/runaway/mul.masm" runaway.masm
{
  echo "cm mul.masm"
  echo "limit 5000"
  n=0
  for pair in "5 3" "7 0" "0 9" "1 1" "123 45" "FF FF" "10 100" "2 8" "3E8 3" "FFFF 1" "1 FFFF" "AB CD"; do
    set -- $pair
    n=$((n + 1))
    product=$(printf '%04X' $(( (0x$1 * 0x$2) & 0xFFFF )))
    echo "case $n: $1 times $2"
    echo "  set R1 = $1"
    echo "  set R2 = $2"
    echo "  expect R3 = $product"
  done
} > mul.check
i=0
while [ $i -lt "$students" ]; do
  mkdir -p "class/s$i"
  case $((i % 20)) in
    7) cp wrong.masm "class/s$i/mul.masm" ;;
    13) cp runaway.masm "class/s$i/mul.masm" ;;
    *) cp correct.masm "class/s$i/mul.masm" ;;
  esac
  i=$((i + 1))
done

seconds() {   # seconds COMMAND...: the wall-clock time of one run
  start=$(date +%s.%N)
  "$@" > /dev/null 2>&1 || [ $? -eq 1 ]
  end=$(date +%s.%N)
  echo "$start $end" | awk '{ printf "%.2f", $2 - $1 }'
}
echo "class of $students x 12 cases, -j 1:     $(seconds "$checker" -j 1 --quiet --csv grades1.csv mul.check class/*) s"
echo "class of $students x 12 cases, -j $jobs:     $(seconds "$checker" -j "$jobs" --quiet --csv grades.csv mul.check class/*) s"
cmp -s grades1.csv grades.csv || echo "the sheets of -j 1 and -j $jobs differ"

"$root/tests/check/hostile_class.sh" hostile correct.masm runaway.masm
sed 's/^limit .*/limit 4000000000/' mul.check > endless.check
echo "hostile class (default limits), -j $jobs: $(seconds "$checker" -j "$jobs" --quiet endless.check hostile/* < /dev/null) s"
