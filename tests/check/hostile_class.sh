#!/usr/bin/env bash
# Makes the hostile class in DIR: one student's directory each for a correct
# program and a runaway (copied from CORRECT and RUNAWAY), a FIFO, a link to
# /dev/stdin, an include of /dev/zero, an include of a classmate's file,
# 50,000 nested parentheses and a printer loop, each as mul.masm. Used by
# tests/check/hostile.sh and bench/grading.sh.
#
#   hostile_class.sh DIR CORRECT RUNAWAY
set -eu
dir=$1
mkdir -p "$dir"/{correct,fifo,stdin,zero,deep,classmate,runaway,printer}
cp "$2" "$dir/correct/mul.masm"
cp "$3" "$dir/runaway/mul.masm"
mkfifo "$dir/fifo/mul.masm"
ln -s /dev/stdin "$dir/stdin/mul.masm"
printf '.INCLUDE "/dev/zero"\n' > "$dir/zero/mul.masm"
printf '.INCLUDE "../correct/mul.masm"\n' > "$dir/classmate/mul.masm"
{ printf 'start: R=#'; head -c 50000 /dev/zero | tr '\0' '('; printf 1; head -c 50000 /dev/zero | tr '\0' ')'
  printf ' TO=R3\n'; } > "$dir/deep/mul.masm"
printf 'start: R=##0xED01 TO=R1\n  L=R1 EX=LOADIR\n  R=#0x78 TO=R2\nloop: L=R2 EX=TOIO\n  EX=STARTIO\n  JUMP loop\n' \
  > "$dir/printer/mul.masm"
