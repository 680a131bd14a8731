#!/usr/bin/env bash
# Hostile input for kalvo3-asm and kalvo3-check: directories, endless
# streams, NUL bytes, huge lines and patterns that the regular-expression
# library cannot take. Each must end within its time limit with the exit
# status and the message given, and no tool may crash.
#
#   tools.sh KALVO3-ASM KALVO3-CHECK
set -u
asm=$1
checker=$2
. "$(dirname "$0")/../scratch_dir.sh"
bound=$((16 * 1024 * 1024))
repeat() { head -c "$1" /dev/zero | tr '\0' "$2"; }   # repeat N CHARACTER

# A good microprogram, and a source that includes FILE.
good='start:  L=PC ALU=ADD TO=PC MEM=READ EX=ONEIN\n        JUMP start\n'
printf "$good" > good.masm
including() { printf '; includes %s\n        .INCLUDE "%s"\n' "$1" "$1"; }

mkdir dir.masm deck.cm
including dir.masm > inc_dir.masm
including /dev/zero > inc_zero.masm
printf 'NOP\nNOP ; \000 in a comment\n' > nul_comment.masm
printf 'NOP\n    L=R1\000 TO=R2\n' > nul_statement.masm
{ printf 'NOP\n'; repeat "$bound" '\n'; } > huge.masm
{ printf 'CM\n000  '; repeat "$bound" ' '; } > endless_line.cm
printf 'CM\n000  AF1F0F0600\n' > one.cm

# A check file whose one line is a pattern; a pattern nested N groups deep.
pattern_check() { printf 'cm one.cm\nexpect printer ~ "%s"\n' "$1" > "$2"; }
nested() { echo "$(repeat "$1" '(')a$(repeat "$1" ')')"; }
pattern_check "$(nested 20000)" deep.check
pattern_check "$(nested 33)" deep33.check
pattern_check "(a{100}){100}" wide.check
pattern_check "$(repeat 1001 a)" long.check
pattern_check "^$(repeat 1000 a)*$" starred.check

# name % status % message on standard error (grep -E; empty: none) % command
cases=(
  "directory assembled%1%^dir.masm: error: is a directory, not a file$%$asm dir.masm"
  "directory disassembled%1%^deck.cm: error: is a directory, not a file$%$asm --disassemble deck.cm"
  "directory included%1%^inc_dir.masm:2:18: error: 'dir.masm' is a directory%$asm inc_dir.masm"
  "endless include%1%^inc_zero.masm:2:18: error: '/dev/zero' goes past 16 MiB%$asm inc_zero.masm"
  "source past the bound%1%^huge.masm: error: 'huge.masm' goes past 16 MiB%$asm huge.masm"
  "NUL in a comment%1%^nul_comment.masm:2:7: error: a NUL byte%$asm nul_comment.masm"
  "NUL in a statement%1%^nul_statement.masm:2:9: error: a NUL byte%$asm nul_statement.masm"
  "endless CM line disassembled%1%^endless_line.cm:2:1: error: the line does not end within 16 MiB%$asm --disassemble endless_line.cm"
  "endless symbol file%1%^/dev/zero: error: the file goes past 16 MiB%$asm --disassemble --symbols=/dev/zero one.cm"
  "source from a pipe%0%%cat good.masm | $asm -o piped.cm /dev/stdin"
  "pattern 20000 groups deep%2%^deep.check:2: the pattern \"\\(\\(\\(.*is nested more than 32 groups deep$%$checker deep.check"
  "pattern 33 groups deep%2%^deep33.check:2: .* is nested more than 32 groups deep$%$checker deep33.check"
  "pattern 10000 copies%2%^wide.check:2: .* is larger than 1000 characters with its counted repetitions%$checker wide.check"
  "pattern 1001 characters%2%^long.check:2: .* is larger than 1000 characters%$checker long.check"
  "pattern 1003 characters%2%^starred.check:2: .* is 1003 characters long \(at most 1000\)$%$checker starred.check"
)

for entry in "${cases[@]}"; do
  IFS='%' read -r name want message command <<< "$entry"
  timeout 60 bash -c "$command" > out.txt 2> err.txt
  status=$?
  if [ "$status" != "$want" ]; then
    fail "$name: exit status $status, not $want: $(head -c 400 err.txt)"
  elif { [ -z "$message" ] && [ -s err.txt ]; } || { [ -n "$message" ] && ! grep -qE -- "$message" err.txt; }; then
    fail "$name: standard error: $(head -c 400 err.txt)"
  fi
done

# What was refused left no output; what was piped assembled as the file does.
for file in dir.cm inc_dir.cm inc_zero.cm huge.cm nul_comment.cm nul_statement.cm; do
  [ -f "$file" ] && fail "$file was written"
done
"$asm" good.masm && cmp -s good.cm piped.cm || fail "the piped source assembled differently"
exit $failed
