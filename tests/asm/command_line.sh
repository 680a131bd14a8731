#!/usr/bin/env bash
# The kalvo3-asm command line: usage, exit status, default output names, and
# no output file when the source has an error.
#
#   command_line.sh KALVO3-ASM DATA-DIR
set -u
asm=$1
data=$2
. "$(dirname "$0")/../scratch_dir.sh"
check() {   # check DESCRIPTION CONDITION...
  local what=$1
  shift
  if ! "$@"; then
    echo "FAILED: $what"
    failed=1
  fi
}

"$asm" --help > help.txt; status=$?
check "--help exits with 0" test $status -eq 0
check "--help prints the usage" grep -q -- "--disassemble" help.txt

"$asm" 2> usage.txt; status=$?
check "no input file exits with 2" test $status -eq 2
check "no input file prints the usage" grep -q "Usage" usage.txt
"$asm" --bogus x.masm 2> /dev/null; status=$?
check "an unknown option exits with 2" test $status -eq 2
"$asm" --fields x.masm 2> usage.txt; status=$?
check "--fields without --listing exits with 2" test $status -eq 2
check "--fields without --listing says why" grep -q "fields needs --listing" usage.txt

# A good microprogram: FILE.cm beside it, exit status 0.
printf 'start:  L=PC ALU=ADD TO=PC MEM=READ EX=ONEIN\n        JUMP start\n' > good.masm
"$asm" good.masm; status=$?
check "a good source exits with 0" test $status -eq 0
check "the CM file is written as FILE.cm" cmp -s good.cm <(printf 'CM\n000  AF1F0F0600\n001  FFFFE01E00\n')

# A source with an error: message with file, line and column; exit status 1;
# no output file, and an old one is left as it was.
printf 'NOP\n        IF ZER JUMP 0x200\n' > bad.masm
"$asm" bad.masm 2> errors.txt; status=$?
check "a bad source exits with 1" test $status -eq 1
check "the error names file, line and column" grep -q "^bad.masm:2:21: error: target 0x200 is outside page" errors.txt
check "no CM file is written for a bad source" test ! -e bad.cm
echo "old" > old.cm
"$asm" -o old.cm bad.masm 2> /dev/null
check "an old output file is left as it was" cmp -s old.cm <(echo old)

# Timing warnings name both lines and do not stop the output; --Werror
# makes them errors.
printf 'L=R1 MEM=READ\nNOP\nL=MEM TO=R2\n' > late.masm
"$asm" late.masm 2> warnings.txt; status=$?
check "a timing warning exits with 0" test $status -eq 0
check "a timing warning names both lines" \
  grep -q "^late.masm:3:1: warning: L=MEM without MEM=READ in the micro-instruction before it (line 2)" warnings.txt
check "a timing warning does not stop the output" test -s late.cm
rm -f late.cm
"$asm" --Werror late.masm 2> warnings.txt; status=$?
check "--Werror exits with 1 on a warning" test $status -eq 1
check "--Werror reports the warning as an error" grep -q "^late.masm:3:1: error: L=MEM without" warnings.txt
check "--Werror writes no output" test ! -e late.cm

# Data sources: FILE.mm.
"$asm" --data "$data/program.mdat" -o prog.mm; status=$?
check "a data source exits with 0" test $status -eq 0
check "the MM file holds the words" cmp -s prog.mm <(printf 'MM\n0010  1012\n0011  F000\n0012  0078\n')
printf '.WORD 70000\n' > bad.mdat
"$asm" --data bad.mdat 2> errors.txt; status=$?
check "a bad data source exits with 1" test $status -eq 1
check "no MM file is written for a bad data source" test ! -e bad.mm

# A million nested parentheses: a message and exit status 1, no crash.
{ printf 'R=#'; head -c 1000000 /dev/zero | tr '\0' '('; printf '1\n'; } > deep.masm
"$asm" deep.masm 2> errors.txt; status=$?
check "a million nested parentheses exit with 1" test $status -eq 1
check "a million nested parentheses say where" grep -q "^deep.masm:1:68: error: the expression nests more than 64 levels" errors.txt

# Disassembly to standard output, and an input that is not a CM file.
"$asm" --disassemble good.cm > good.txt; status=$?
check "disassembly exits with 0" test $status -eq 0
check "disassembly writes source" grep -q "^L_000:  L=PC ALU=ADD TO=PC MEM=READ EX=ONEIN" good.txt
"$asm" --disassemble prog.mm 2> errors.txt; status=$?
check "disassembling an MM file exits with 1" test $status -eq 1
check "disassembling an MM file says why" grep -q "prog.mm:1:1: error: not a CM load file" errors.txt

exit $failed
