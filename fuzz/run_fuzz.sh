#!/usr/bin/env bash
# Runs the fuzz targets one after the other, each for SECONDS.
#
#   fuzz/run_fuzz.sh BUILD_DIR SECONDS [TARGET...]
#
# BUILD_DIR is a build of the fuzz preset; TARGET is fuzz_console or fuzz_load
# (default: both). Seeds are gathered afresh from the transcript tests and the
# examples: their session.in files for fuzz_console, their load files for
# fuzz_load. Each target keeps its growing corpus in BUILD_DIR/corpus/TARGET
# and writes any crashing input as BUILD_DIR/corpus/TARGET-crash-*; the log of
# each run is BUILD_DIR/corpus/TARGET.log. The status is libFuzzer's: 0 when
# no target found anything.
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
seconds=$2
shift 2
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_console fuzz_load)
[ $# -gt 0 ] || targets+=(fuzz_asm)

corpus=$build/corpus
seeds=$corpus/seeds
rm -rf "$seeds"
mkdir -p "$seeds/fuzz_console" "$seeds/fuzz_load"
for dir in "$source"/tests/transcripts/*/ "$source"/examples/*/; do
  name=$(basename "$(dirname "$dir")")_$(basename "$dir")
  [ -f "$dir/session.in" ] && cp "$dir/session.in" "$seeds/fuzz_console/$name"
  for file in "$dir"*.cm "$dir"*.mm; do
    [ -f "$file" ] && cp "$file" "$seeds/fuzz_load/${name}_$(basename "$file")"
  done
done

# fuzz_asm: each source as it stands, and with its includes after 0 bytes
# (a data source after the byte 1).
mkdir -p "$seeds/fuzz_asm"
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
  "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$corpus/$target-" "$corpus/$target" "$seeds/$target" \
    > "$corpus/$target.log" 2>&1 || { tail -n 40 "$corpus/$target.log"; exit 1; }
  # The DONE line gives the corpus in use ("corp: inputs/bytes"); the
  # directory also keeps the inputs that smaller ones have since replaced.
  grep -E '^#[0-9]+[[:space:]]+DONE|^stat::(number_of_executed_units|average_exec_per_sec)' "$corpus/$target.log"
  echo "corpus directory: $(find "$corpus/$target" -type f | wc -l) files"
done
