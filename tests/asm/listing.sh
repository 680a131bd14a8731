#!/usr/bin/env bash
# Listings of an example microprogram, an example data source and a source
# with errors, compared with golden files; and the symbol file's round trip: the disassembler names
# the words by it, and assembling its output gives the same words and the
# same labels.
#
#   listing.sh KALVO3-ASM EXAMPLES-DIR DATA-DIR
set -u
asm=$1
examples=$2
data=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
same() {   # same DESCRIPTION EXPECTED ACTUAL
  if ! diff -u "$2" "$3"; then
    echo "FAILED: $1"
    failed=1
  fi
}

(cd "$examples/digits" && "$asm" --listing="$work/digits.lst" --symbols="$work/digits.sym" -o "$work/digits.cm" digits.masm) ||
  { echo "FAILED: assembling digits.masm"; exit 1; }
same "the listing of digits.masm" "$data/digits.lst" "$work/digits.lst"
(cd "$examples/k16_hello" && "$asm" --data --listing="$work/hello.lst" -o "$work/hello.mm" hello.mdat) ||
  { echo "FAILED: assembling hello.mdat"; exit 1; }
same "the listing of hello.mdat" "$data/hello.lst" "$work/hello.lst"

# A source with an error still gets its listing (and no load file): each
# word split into its fields, every message under its line.
(cd "$data" && "$asm" --listing="$work/faults.lst" --fields -o "$work/faults.cm" faults.masm 2> /dev/null)
status=$?
if [ $status -ne 1 ] || [ -e "$work/faults.cm" ]; then
  echo "FAILED: a source with an error exits with 1 and writes no load file (status $status)"
  failed=1
fi
same "the listing of faults.masm" "$data/faults.lst" "$work/faults.lst"

# Round trip: labels by the symbol file, the same words and labels again.
"$asm" --disassemble --symbols="$work/digits.sym" -o "$work/again.masm" "$work/digits.cm" ||
  { echo "FAILED: disassembling with symbols"; exit 1; }
if ! grep -q '^loop: .*EX=TOIO' "$work/again.masm" || ! grep -q 'IF NOT CZERO JUMP loop' "$work/again.masm"; then
  echo "FAILED: the disassembly names the words by the symbol file"
  cat "$work/again.masm"
  failed=1
fi
"$asm" --symbols -o "$work/again.cm" "$work/again.masm" || { echo "FAILED: assembling the disassembly"; exit 1; }
same "the round trip keeps the words" "$work/digits.cm" "$work/again.cm"
same "the round trip keeps the labels" <(tail -n +2 "$work/digits.sym") <(tail -n +2 "$work/again.sym")

exit $failed
