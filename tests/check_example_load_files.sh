#!/usr/bin/env bash
# Checks the load files of the bundled examples against their sources.
#
#   check_example_load_files.sh ASSEMBLER EXAMPLES_DIR
#
# Every microprogram source X.masm and data source X.mdat in EXAMPLES_DIR/*/
# is assembled; every load file of the same name (X.cm, X.mm) in any example
# directory must be the result byte for byte, and there must be one at least
# (examples that share a microprogram keep copies of its CM file). Files
# pulled in with .INCLUDE are named *.inc and are no sources of their own.
set -u
asm=$1
examples=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

for src in "$examples"/*/*.masm "$examples"/*/*.mdat; do
  [ -e "$src" ] || continue
  name=$(basename "$src")
  stem=${name%.*}
  case $name in
    *.masm) ext=cm; mode=() ;;
    *.mdat) ext=mm; mode=(--data) ;;
  esac
  if ! "$asm" "${mode[@]}" -o "$work/$stem.$ext" "$src"; then
    echo "$src does not assemble"
    failed=1
    continue
  fi
  found=0
  for load in "$examples"/*/"$stem.$ext"; do
    [ -e "$load" ] || continue
    found=1
    if ! cmp -s "$work/$stem.$ext" "$load"; then
      echo "$load is not what $src assembles to:"
      diff -u "$load" "$work/$stem.$ext" | head -n 20
      failed=1
    fi
  done
  if [ $found = 0 ]; then
    echo "$src has no load file $stem.$ext beside any example"
    failed=1
  fi
done

exit $failed
