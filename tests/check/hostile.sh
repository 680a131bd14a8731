#!/usr/bin/env bash
# A hostile class: submissions that hang a reader (a FIFO, a link to
# /dev/stdin), read without end (/dev/zero), crash an assembler (50,000
# nested parentheses), copy a classmate, run away or print without end,
# beside a correct one. The batch completes, each student's reason is on the
# sheet, -j 1 and -j 3 give the same bytes, and a report that cannot be
# written is exit status 2.
#
#   hostile.sh CHECKER TESTS_CHECK_DIR
set -u
checker=$(realpath "$1")
tests=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failed=0
fail() { echo "FAIL: $*"; failed=1; }

"$tests/hostile_class.sh" class "$tests/class/correct/mul.masm" "$tests/class/runaway/mul.masm"
mkdir -p class/{hostname,empty,directory,upper}
printf '.INCLUDE "/etc/hostname"\n' > class/hostname/mul.masm
mkdir class/directory/mul.masm
cp "$tests/class/correct/mul.masm" class/upper/MUL.masm
# The class's check, with a step limit no runaway reaches in its time.
sed 's/^limit .*/limit 4000000000/' "$tests/mul.check" > mul.check

for jobs in 1 3; do
  timeout 120 "$checker" -j $jobs --time-limit 2 --csv "grades$jobs.csv" --json "grades$jobs.json" \
    --reports "reports$jobs" mul.check class/* \
    < /dev/null > "out$jobs" 2> "err$jobs"
  status=$?
  [ $status -eq 1 ] || fail "-j $jobs: exit status $status, expected 1"
  [ -s "err$jobs" ] && { fail "-j $jobs: standard error:"; cat "err$jobs"; }
done
cmp -s out1 out3 || { fail "the results of -j 1 and -j 3 differ"; diff out1 out3 | head -20; }
cmp -s grades1.csv grades3.csv || { fail "the CSV of -j 1 and -j 3 differ"; diff grades1.csv grades3.csv; }
cmp -s grades1.json grades3.json || { fail "the JSON of -j 1 and -j 3 differ"; diff grades1.json grades3.json | head; }
diff -r reports1 reports3 > /dev/null || fail "the reports of -j 1 and -j 3 differ"

# The JSON for a course's site holds to its schema (the validator first
# shows that it refuses what the schema forbids), with every student.
schema="$tests/../../check/results.schema.json"
node "$tests/validate_json.mjs" --self-test "$schema" || fail "the JSON validator accepts what it must refuse"
node "$tests/validate_json.mjs" "$schema" grades1.json || fail "the hostile class's JSON does not hold to the schema"
[ "$(grep -c '"student": ' grades1.json)" -eq 12 ] || fail "the JSON does not have a student for each directory"
grep -qF '{"student": "class/fifo", "score": 0, "max_score": 3, "problem": "class/fifo/mul.masm: not a regular file (a FIFO)"' \
  grades1.json || fail "the FIFO student's JSON says no problem"
grep -qF '{"student": "class/correct", "score": 3, "max_score": 3, "problem": null' grades1.json ||
  fail "the correct student's JSON is not full marks"
# A report for each student, named after the directory, with the score.
[ "$(ls reports1 | wc -l)" -eq 12 ] || fail "not one report per student: $(ls reports1)"
grep -qxF 'Score: 3 of 3 points' reports1/class_correct.txt || fail "the correct student's report has no full score"
grep -qxF 'Problem: timed out (2 s) in case 5 times 3' reports1/class_runaway.txt || fail "the runaway's report has no problem"

# row DIR PATTERN: the student's CSV row (passed,cases,steps,failed,problem) matches.
row() {
  grep -qE "^class/$1,$2\$" grades1.csv || fail "class/$1: the row is '$(grep "^class/$1," grades1.csv)', not '$2'"
}
row correct '3,3,300,,'
row fifo '0,3,0,,class/fifo/mul.masm: not a regular file \(a FIFO\)'
row stdin '0,3,0,,class/stdin/mul.masm: outside the directory \(a link leads out\)'
row zero "0,3,0,,did not assemble \(class/zero/mul.masm:1:10: error: '/dev/zero': outside the directory\)"
row hostname "0,3,0,,did not assemble \(class/hostname/mul.masm:1:10: error: '/etc/hostname': outside the directory\)"
row classmate "0,3,0,,did not assemble \(class/classmate/mul.masm:1:10: error: 'class/classmate/../correct/mul.masm': outside the directory\)"
# Until the assembler bounds its nesting it crashes; either way it is said.
row deep '0,3,0,,(crashed \(signal 11\) in case 5 times 3|did not assemble \(class/deep/mul.masm:1:.*\))'
row runaway '0,3,0,,timed out \(2 s\) in case 5 times 3'
row printer '0,3,0,,(timed out \(2 s\)|out of memory) in case 5 times 3'
row empty '0,3,0,,class/empty/mul.masm: no such file'
row directory '0,3,0,,class/directory/mul.masm: not a regular file \(a directory\)'
row upper '0,3,0,,class/upper/mul.masm: no such file \(there is MUL.masm\)'
[ "$(wc -l < grades1.csv)" -eq 13 ] || fail "not every student has a row"
grep -q '^Grade sheet: mul.check, 3 cases, 12 directories$' out1 || fail "no grade sheet"
grep -qF '      timed out (2 s) in case 5 times 3' out1 || fail "the time-out is not in the results"
# The reason is written once: no student's row repeats it per case.
grep -q '(not run)' grades1.csv && fail "a row lists cases not run"

# A student stopped in the middle: the cases before count, the rest are
# listed as not run, the reason names the case.
printf 'cm mul.masm\nlimit 4000000000\ncase none\nset R2 = 0\nexpect R3 = 0\n' > part.check
printf 'case many\nset R2 = 2\ncase after\nset R2 = 2\n' >> part.check
timeout 60 "$checker" --time-limit 1 --csv - part.check class/runaway > part.csv 2>&1
grep -qxF 'class/runaway,1,3,4,many (not run); after (not run),timed out (1 s) in case many' part.csv ||
  { fail "a student stopped in the middle:"; cat part.csv; }

# A report that cannot be written: a full disk, a closed pipe.
timeout 60 "$checker" --csv /dev/full mul.check class/correct > /dev/null 2> err
status=$?
[ $status -eq 2 ] || fail "--csv /dev/full: exit status $status, expected 2"
grep -qF "kalvo3-check: /dev/full: writing failed" err || fail "--csv /dev/full: no message"
timeout 60 "$checker" mul.check class/correct > /dev/full 2> err
status=$?
[ $status -eq 2 ] || fail "> /dev/full: exit status $status, expected 2"
grep -qF "kalvo3-check: standard output: writing failed" err || fail "> /dev/full: no message"
timeout 60 "$checker" "$tests/mul.check" > /dev/full 2> err
[ $? -eq 2 ] || fail "a single run > /dev/full: exit status is not 2"
if command -v python3 > /dev/null; then
  python3 - "$checker" > err 2>&1 <<'PY'
import os, subprocess, sys
read, write = os.pipe()
os.close(read)                      # nobody will ever read
status = subprocess.run([sys.argv[1], "--quiet", "mul.check", "class/correct"], stdout=write).returncode
sys.exit(0 if status == 2 else 1)
PY
  [ $? -eq 0 ] || { fail "a closed pipe: exit status is not 2"; cat err; }
  grep -qF "standard output: writing failed" err || fail "a closed pipe: no message"
fi
exit $failed
