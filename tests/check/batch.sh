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

# The card-reversing assignment (examples/reverse): a case goes on after the
# end of the deck. The student who leaves out the end-of-deck path fails
# every case; points, hidden cases and feedback reach the CSV, the JSON and
# each student's report as in the golden files.
"$checker" --csv "$work/course.csv" --json "$work/course.json" --reports "$work/reports" \
  ../../examples/reverse/reverse.check course/correct course/halts_early course/skips_end course/warned \
  > "$work/course.out" 2> "$work/err"
status=$?
[ $status -eq 1 ] || { echo "the course: exit status $status, expected 1"; failed=1; }
[ -s "$work/err" ] && { echo "the course: standard error:"; cat "$work/err"; failed=1; }
diff -u course/grade_sheet.csv "$work/course.csv" || failed=1
diff -u course/results.json "$work/course.json" || failed=1
for student in correct halts_early skips_end warned; do
  diff -u "course/report_$student.txt" "$work/reports/course_$student.txt" || failed=1
done
# Two directories whose reports would have one name each keep their own.
"$checker" --quiet --reports "$work/twice" ../../examples/reverse/reverse.check course/correct course/correct/ \
  course/skips_end > /dev/null
[ "$(ls "$work/twice" | tr '\n' ' ')" = "course_correct.txt course_correct~2.txt course_skips_end.txt " ] ||
  { echo "reports of one name: $(ls "$work/twice")"; failed=1; }
grep -qxF 'Score: 7 of 7 points' "$work/twice/course_correct~2.txt" || { echo "the second report is not its own"; failed=1; }

# The assembler's warnings counted: the warned student's passed case fails,
# or earns a point fewer; the others keep their rows.
for rule in 'fail|course/warned,0,4,0,7,0,0,0,0,303,.*an empty deck prints nothing \(warnings\)' \
            '-1|course/warned,1,4,0,7,0,0,0,0,303,' '-9|course/correct,4,4,7,7,2,2,1,2,303,,$'; do
  out=$("$checker" --warnings "${rule%%|*}" --quiet --csv - ../../examples/reverse/reverse.check course/correct \
        course/warned)
  grep -qE "^${rule#*|}" <<< "$out" || { echo "--warnings ${rule%%|*}: no row '${rule#*|}' in:"; echo "$out"; failed=1; }
done
for bad in 3 -0 - -x fails; do
  "$checker" --warnings "$bad" ../../examples/reverse/reverse.check > /dev/null 2>&1
  [ $? -eq 2 ] || { echo "--warnings $bad: exit status is not 2"; failed=1; }
done
exit $failed
