#!/usr/bin/env bash
# Runs the fuzz targets one after the other, each for SECONDS.
#
#   fuzz/run_fuzz.sh BUILD_DIR SECONDS [TARGET...]
#
# BUILD_DIR is a build of the fuzz preset; TARGET is fuzz_console, fuzz_load,
# fuzz_check, fuzz_api or fuzz_asm (default: all). Seeds are gathered afresh
# from the transcript tests and the examples: their session.in files for
# fuzz_console, their load files for fuzz_load, the check files (and
# tests/check's) for fuzz_check, for fuzz_api call programs that load or
# assemble each example's files and then run, step, step back and write them
# out, and for fuzz_asm the sources (and tests/asm/data's) with their
# includes. A target with a dictionary (fuzz/TARGET.dict) gets it;
# fuzz/regressions/TARGET/ holds inputs that once failed, run first every
# time. Each target keeps its growing corpus in BUILD_DIR/corpus/TARGET
# and writes any crashing input as BUILD_DIR/corpus/TARGET-crash-*; the log of
# each run is BUILD_DIR/corpus/TARGET.log. The status is libFuzzer's: 0 when
# no target found anything.
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
seconds=$2
shift 2
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_console fuzz_load fuzz_check fuzz_api fuzz_asm)

corpus=$build/corpus
seeds=$corpus/seeds
rm -rf "$seeds"
mkdir -p "$seeds/fuzz_console" "$seeds/fuzz_load" "$seeds/fuzz_check" "$seeds/fuzz_api" "$seeds/fuzz_asm"
for dir in "$source"/tests/transcripts/*/ "$source"/examples/*/; do
  name=$(basename "$(dirname "$dir")")_$(basename "$dir")
  [ -f "$dir/session.in" ] && cp "$dir/session.in" "$seeds/fuzz_console/$name"
  for file in "$dir"*.cm "$dir"*.mm; do
    [ -f "$file" ] && cp "$file" "$seeds/fuzz_load/${name}_$(basename "$file")"
  done
done
for file in "$source"/examples/*/*.check "$source"/tests/check/*.check; do
  [ -f "$file" ] && cp "$file" "$seeds/fuzz_check/$(basename "$(dirname "$file")")_$(basename "$file")"
done
# fuzz_api call programs (fuzz/fuzz_api.cpp): one file loaded (0) or
# assembled and loaded (1, 2 for data), its text ended by a NUL byte; then a
# card deck (13), a break point at 3 (10), a profiled run of 1000 steps (6),
# the break point cleared (11), two steps and a step back (7 7 8), everything
# read back (17), the two round trips (18 19) and a run of 16 steps.
then_run='\x0dXY\x0a\x00\x0a\x03\x00\x06\xe8\x03\x01\x0b\x03\x00\x07\x07\x08\x11\x00\x00\x12\x13\x06\x10\x00'
for file in "$source"/examples/*/*.cm "$source"/examples/*/*.mm "$source"/examples/*/*.masm "$source"/examples/*/*.mdat; do
  [ -f "$file" ] || continue
  case $file in *.cm|*.mm) call='\x00' ;; *.masm) call='\x01' ;; *) call='\x02' ;; esac
  { printf "$call"; cat "$file"; printf "\\x00$then_run"; } > "$seeds/fuzz_api/$(basename "$(dirname "$file")")_$(basename "$file")"
done

# fuzz_asm: each source as it stands, and with its includes after 0 bytes
# (a data source after the byte 1).
for file in "$source"/examples/*/*.masm "$source"/examples/*/*.mdat "$source"/tests/asm/data/*.masm "$source"/tests/asm/data/*.mdat; do
  [ -f "$file" ] || continue
  dir=$(dirname "$file")
  { [[ $file == *.mdat ]] && printf '\001'; cat "$file"
    grep -o '\.INCLUDE *"[^"]*"' "$file" | sed 's/.*"\(.*\)"/\1/' | while read -r name; do
      [ -f "$dir/$name" ] && { printf '\000%s\n' "$name"; cat "$dir/$name"; }
    done || true; } > "$seeds/fuzz_asm/$(basename "$dir")_$(basename "$file")"
done

for target in "${targets[@]}"; do
  mkdir -p "$corpus/$target"
  echo "fuzzing $target for $seconds s (log: $corpus/$target.log)"
  options=()
  [ -f "$source/fuzz/$target.dict" ] && options+=(-dict="$source/fuzz/$target.dict")
  regressions=()
  [ -d "$source/fuzz/regressions/$target" ] && regressions=("$source/fuzz/regressions/$target")
  "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 "${options[@]}" \
    -artifact_prefix="$corpus/$target-" "$corpus/$target" "$seeds/$target" "${regressions[@]}" \
    > "$corpus/$target.log" 2>&1 || { tail -n 40 "$corpus/$target.log"; exit 1; }
  # The DONE line gives the corpus in use ("corp: inputs/bytes"); the
  # directory also keeps the inputs that smaller ones have since replaced.
  grep -E '^#[0-9]+[[:space:]]+DONE|^stat::(number_of_executed_units|average_exec_per_sec)' "$corpus/$target.log"
  echo "corpus directory: $(find "$corpus/$target" -type f | wc -l) files"
done
