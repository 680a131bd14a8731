#!/usr/bin/env bash
# Disassembles a CM load file and assembles the result. The words must be the
# ones the simulator's Load reads from the original (the disassembly lists each
# address and word, so equal disassemblies mean equal words), and the load
# file the assembler writes must come back byte for byte through a second
# round trip.
#
#   round_trip.sh KALVO3-ASM FILE.cm
set -u
asm=$1
original=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

round_trip() {   # round_trip IN.cm SOURCE.masm OUT.cm
  "$asm" --disassemble -o "$2" "$1" || { echo "disassembling $1 failed"; exit 1; }
  "$asm" -o "$3" "$2" 2> "$work/messages" || { echo "assembling the disassembly failed:"; cat "$work/messages"; exit 1; }
}

round_trip "$original" "$work/first.masm" "$work/first.cm"
round_trip "$work/first.cm" "$work/second.masm" "$work/second.cm"
if ! cmp -s "$work/first.masm" "$work/second.masm"; then
  echo "the round trip changed the words:"
  diff "$work/first.masm" "$work/second.masm"
  exit 1
fi
if ! cmp -s "$work/first.cm" "$work/second.cm"; then
  echo "the round trip changed the load file:"
  diff "$work/first.cm" "$work/second.cm"
  exit 1
fi
