#!/usr/bin/env bash
# kalvo3-check from the command line: a broken copy of an example fails with
# the differing values, and bad check files, bad load files and bad command
# lines end with exit status 2 and a message naming the file and line, never
# with a crash or a hang. A program that never halts ends at its step limit.
#
#   command_line.sh CHECKER SOURCE_DIR
set -u
checker=$1
source_dir=$2
. "$(dirname "$0")/../scratch_dir.sh"

# expect STATUS TEXT ARGS...: runs the checker; its exit status must be
# STATUS and its output (standard output and error together) hold TEXT.
expect() {
  local want=$1 text=$2
  shift 2
  timeout 120 "$checker" "$@" > out 2>&1
  local status=$?
  [ $status -eq "$want" ] || fail "kalvo3-check $*: exit status $status, expected $want"
  grep -qF -- "$text" out || { fail "kalvo3-check $*: no '$text' in:"; head -c 2000 out; }
}

# A broken copy of the Fibonacci example: wrong expectations, then a wrong program.
mkdir -p examples
cp -r "$source_dir/examples/k16_fib" "$source_dir/examples/k16" examples/
sed -e 's/expect R0 = B520/expect R0 = B521/' -e 's/0A18 1055/0A18 1056/' \
    examples/k16_fib/fib.check > examples/k16_fib/broken.check
expect 1 "broken.check:14: R0: expected B521, got B520" examples/k16_fib/broken.check
grep -qF "broken.check:11: mm 0053: expected 1056, got 1055" out || fail "the wrong word is not shown"
grep -qF "2 of 3 cases passed" out || fail "the summary line is wrong"
sed -i 's/^000F  000C/000F  000B/' examples/k16_fib/fib.mm    # one pass fewer
expect 1 "fib.check:12: mm 0058: expected B520, got 452F" examples/k16_fib/fib.check
grep -qF "fib.check:17: steps: expected 525, got 484" out || fail "the steps are not compared"

# A program that never halts stops at the default step limit.
printf 'CM\n000  FFFF0F0000\n' > loop.cm
printf 'cm loop.cm\n' > loop.check
expect 1 "loop.check: run: expected halt, got the step limit (10000000 steps), CMAR 000" loop.check

# An error report and a pattern that no printer line matches.
printf 'start: L=MEM TO=R1\n  EX=HALT\n' > error.masm
printf 'cm error.masm\nexpect printer ~ "^x"\n' > error.check
expect 1 "error.check: run: expected halt, got error 18: MEMORY CYCLE IS NOT READY TO READ after 1 step, CMAR 001" error.check
grep -qF 'error.check:2: printer: expected a line matching "^x", got ""' out || fail "the pattern is not reported"

# The assembler's warnings stay with the student whose source has them, as
# kalvo3-asm gives them; a source without warnings shows none.
mkdir -p hasty tidy
printf 'start: L=R1 TO=R2\n  L=MEM TO=R1\n  EX=HALT\n' > hasty/prog.masm
printf 'start: L=R1 TO=R2\n  MEM=READ\n  L=MEM TO=R1\n  EX=HALT\n' > tidy/prog.masm
printf 'cm prog.masm\n' > timing.check
expect 1 "got error 18: MEMORY CYCLE IS NOT READY TO READ after 2 steps" timing.check hasty tidy
awk '/^== /{ dir = $2 } /warning:/{ print dir ": " $0 }' out > warned
[ "$(grep -c '^hasty: ' warned)" = 1 ] && [ "$(wc -l < warned)" = 1 ] || { fail "not the hasty student's warning alone:"; cat out; }
"$(dirname "$checker")/kalvo3-asm" -o /dev/null hasty/prog.masm 2> asm.err
grep -F "warning:" out | sed 's/^ *//' | diff - asm.err || fail "not kalvo3-asm's warnings"

# A symbol file names the parts of a microprogram loaded from a load file.
cp "$source_dir/examples/digits/digits.cm" .
printf '; labels\nstart 0x000\nloop  0x004\ndone  0x00B\n' > digits.sym
printf 'cm digits.cm\nsymbols digits.sym\n' > digits.check
expect 0 "        loop   004              43" --profile digits.check
grep -qF "        004   loop           10" out || fail "the words of the profile are not labelled"
printf 'start 0x000\nloop\n' > digits.sym
expect 2 "digits.sym:2: expected a label and its CM address (NAME 0x1A2)" digits.check

# Check files that are no check files.
expect 2 "none.check: cannot be opened (No such file or directory)" none.check
mkdir dir.check
expect 2 "dir.check: is a directory, not a file" dir.check
printf 'cm loop.cm\n\0\n' > binary.check
expect 2 "binary.check:2: a binary file (it holds a NUL byte), not text" binary.check
expect 2 "/dev/zero:1: a binary file" /dev/zero
printf 'cm loop.cm\nexpect R9 = 1\n' > typo.check
expect 2 "typo.check:2: 'R9' is no register" typo.check

# Values the machine cannot hold and errors it does not have: a slip of the
# check, exit status 2 with the line.
slip() {   # slip LINE MESSAGE
  printf 'cm loop.cm\n%s\n' "$1" > slip.check
  expect 2 "slip.check:2: $2" slip.check
}
slip 'set R5 = 12345' "'12345' does not fit R5 (at most FFFF)"
slip 'expect R5 = 12345' "'12345' does not fit R5 (at most FFFF)"
slip 'set ZER = 2' "'2' does not fit ZER (0 or 1)"
slip 'expect error 99' "the machine has no error 99"
printf 'cm loop.cm\nlimit 10\nset CMAR = 1000\nexpect error 4\n' > cmar.check
expect 0 "PASS  cmar  (error 4, 1 step)" cmar.check

# Load files and sources that are bad: the case does not run.
bad_load() {   # bad_load FILE_CONTENT_PRINTF DIRECTIVE MESSAGE
  printf "$1" > bad.file
  printf '%s bad.file\n' "$2" > bad.check
  expect 2 "$3" bad.check
}
bad_load 'XX\n000  0000000000\n' cm "bad.file:1: not a load file: the first line must begin with CM or MM"
bad_load 'CM\n000  0000000000\n1000  0000000000\n' cm "bad.file:3: ERROR 4: OUT OF CM ADDRESS LIMIT (0-FFF) !"
bad_load 'MM\n0000  0001\n' cm "bad.file:1: a MM load file, named with cm in bad.check:1"
bad_load '' mm "bad.file:1: the file is empty"
bad_load 'CM\n\0' cm "bad.file:2: a binary file (it holds a NUL byte), not text"
head -c 17000000 /dev/zero | tr '\0' '\n' > bad.file
printf 'cm bad.file\n' > bad.check
expect 2 "bad.file:16777217: the file is too large (more than 16777216 bytes)" bad.check
printf 'cm missing.cm\n' > bad.check
expect 2 "bad.check:1: missing.cm: cannot be opened (No such file or directory)" bad.check
mkdir sub.cm
printf 'cm sub.cm\n' > bad.check
expect 2 "bad.check:1: sub.cm: is a directory, not a file" bad.check
printf 'start: L=R9\n' > bad.masm
printf 'cm bad.masm\n' > bad.check
expect 2 "bad.masm:1:" bad.check
printf 'cm loop.cm\nexpect printer file nothing.lpt\n' > bad.check
expect 2 "bad.check:2: nothing.lpt: cannot be opened" bad.check

# In a batch a student's bad file fails that student's cases only, but a bad
# file of the check's own ('@') stops the batch.
mkdir -p class/a class/b
cp loop.cm class/a/prog.cm
printf 'cm prog.cm\nlimit 100\nexpect limit\n' > class.check
expect 1 "0/1      0          class/b/prog.cm: no such file" class.check class/a class/b
printf 'cm @loop.cm\nlimit 100\nexpect limit\n' > class.check
expect 0 "class/b       1/1    100" class.check class/a class/b
printf 'cm prog.cm\nmm @nothing.mm\n' > class.check
expect 2 "class.check:2: nothing.mm: cannot be opened" class.check class/a class/b

# Wrong command lines.
expect 2 "no check file"
expect 2 "unknown option --frob" --frob loop.check
expect 2 "belong to a grade sheet" --csv x.csv loop.check
expect 2 "--labels needs a value" loop.check --labels
expect 2 "-j needs 1 to 256 students at once" -j 0 loop.check class/a
expect 2 "--time-limit needs seconds" --time-limit -1 loop.check class/a
expect 2 "--memory needs a whole number" --memory lots loop.check class/a
expect 2 "belong to a grade sheet" -j2 loop.check
expect 2 "belong to a grade sheet" --reports r loop.check
expect 2 "--json needs a file name" --json '' loop.check
expect 2 "--warnings needs fail, or -N" --warnings 2 loop.check
expect 2 "both want standard output" --csv - --json - class.check class/a
expect 2 "no-such-dir/r.json: cannot be written" --json no-such-dir/r.json loop.check
expect 2 "no-such-dir/r.json: cannot be written" --json no-such-dir/r.json loop.check class/a
touch plain
expect 2 "plain: the reports' directory cannot be made" --reports plain loop.check class/a
# A single check file: its own directory as the one student, the document
# alone on standard output with --json -.
printf 'cm loop.cm\nlimit 100\npoints 4\ncase runs away\nexpect limit\ncase halts\nhidden\nfeedback "stop it"\n' \
  > points.check
expect 1 '{"students": [' --json - points.check
grep -qF '{"student": ".", "score": 4, "max_score": 8, "problem": null, "tests": [' out || fail "--json -: $(cat out)"
grep -qF '"output": "failed\nstop it\n", "visibility": "hidden"}' out || fail "--json -: the hidden case is shown"
grep -q '^PASS\|^1 of 2 cases' out && fail "--json -: the results are printed as well"
exit $failed
