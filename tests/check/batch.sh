#!/usr/bin/env bash
# One batch over the sample students' directories: a correct program, a wrong
# one, one that never halts and one that does not assemble. The output (each
# case's result and the grade sheet) and the CSV grade sheet must be the
# golden ones, and the exit status 1 (some case failed).
#
#   batch.sh CHECKER TESTS_CHECK_DIR
set -u
checker=$1
cd "$2" || exit 1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

"$checker" --labels loop,done --csv "$work/grades.csv" mul.check \
  class/correct class/wrong class/runaway class/broken class/missing > "$work/out" 2> "$work/err"
status=$?
[ $status -eq 1 ] || { echo "exit status $status, expected 1"; failed=1; }
[ -s "$work/err" ] && { echo "standard error:"; cat "$work/err"; failed=1; }
diff -u grade_sheet.txt "$work/out" || failed=1
diff -u grade_sheet.csv "$work/grades.csv" || failed=1

# The CSV alone on standard output, the same sheet.
"$checker" --labels loop,done --csv - mul.check \
  class/correct class/wrong class/runaway class/broken class/missing > "$work/stdout.csv"
diff -u grade_sheet.csv "$work/stdout.csv" || failed=1

# A class that passes everything exits with 0.
"$checker" --quiet mul.check class/correct > /dev/null
status=$?
[ $status -eq 0 ] || { echo "a correct class: exit status $status, expected 0"; failed=1; }
exit $failed
