#!/usr/bin/env bash
# One hostile environment for the simulator: a load file or device file that
# is no ordinary file, a load file of binary junk or of one huge line, standard
# output closed or on a full device, and loads that fill whole memories.
#
#   hostile.sh SIMULATOR SOURCE_DIR CASE
#
# Every session must end with status 0 within its time limit, write nothing to
# standard error (a sanitizer report would), and print what the machine's
# rules give for it. File modes do not stop root: as root, the cases that rely
# on them run the simulator as the user nobody, and are skipped (exit status
# 77) where that cannot be done.
set -u
sim=$1
source_dir=$2
case=$3
work=$(mktemp -d)
trap 'chmod -R u+rwx "$work"; rm -rf "$work"' EXIT
cd "$work"

failed=0
fail() { echo "FAIL: $*"; failed=1; }

# The simulator runs as "${as_user[@]}" "$sim": as the caller, unless
# run_unprivileged has chosen the user nobody.
as_user=()

# run_session INPUT_FILE [REDIRECTION]: runs the simulator in the current
# directory; its console output without the three banner lines is in $work/.out.
run_session() {
  local input=$1 redirect=${2:-}
  case $redirect in
    closed) timeout 120 "${as_user[@]}" "$sim" < "$input" >&- 2> "$work/.err" ;;
    full)   timeout 120 "${as_user[@]}" "$sim" < "$input" > /dev/full 2> "$work/.err" ;;
    *)      timeout 120 "${as_user[@]}" "$sim" < "$input" > "$work/.raw" 2> "$work/.err" ;;
  esac
  local status=$?
  [ $status -eq 0 ] || fail "exit status $status"
  [ -s "$work/.err" ] && fail "standard error: $(head -c 2000 "$work/.err")"
  [ -f "$work/.raw" ] && tail -n +4 "$work/.raw" > "$work/.out"
  return 0
}

# expect_output: the console output after the banner must equal stdin.
expect_output() {
  if ! diff -u - "$work/.out" > "$work/.diff"; then
    fail "console output differs:"
    head -n 60 "$work/.diff"
  fi
}

# The greeting example loads a CM and an MM file and prints one line.
copy_greeting() { cp "$source_dir"/examples/greeting/*.cm "$source_dir"/examples/greeting/*.mm .; }
greeting_output() { tail -n +4 "$source_dir/examples/greeting/expected.out"; }

# A card-reader session: IR holds the input instruction EC00, CM word 0 starts
# the input (EXF 7) and goes on at 1, word 1 halts (EXF 13) after the byte has
# arrived on IOBUS; the bus dump shows it.
card_session() {
  printf 'C\nIR\nEC00\nCM\n0\n0000000E01\n0000001A00\n.\n.\nR\n0\n\nD\nB\n.\nE\n' > session
}
card_output_no_data() {
  cat <<'OUT'
>> CHANGE
  DEVICE ?    IR:0000->  DEVICE ?    FROM ADRS ?     000:0000000000->     001:0000000000->     002:0000000000->  DEVICE ?>> RUN
 CMAR=? MAX STEP=?   MAX STEP IS NOT USED
 Running

ERROR 12
 NO DATA ON I/O DEVICE !
 CPU HALTED !
   2 STEPS USED
>> DUMP
  D?LBUS RBUS ABUS SBUS IOBUS
0000 0000 0000 0000 FFFF
  D?>> >>   KALVO-3 TERMINATED 
OUT
}

# For the cases that need file modes to stop the simulator: as root, run it as
# the user nobody (who may enter the work directory), or skip the case.
run_unprivileged() {
  [ "$(id -u)" = 0 ] || return 0
  local nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  chmod 755 "$work"
  if command -v setpriv > /dev/null && "${nobody[@]}" test -x "$sim" 2> /dev/null; then
    as_user=("${nobody[@]}")
  else
    echo "skipped: running as root, whom file modes do not stop, and cannot run as nobody ($1)"
    exit 77
  fi
}

case $case in

load_directory)
  # Opens (a directory can be opened for reading) but yields no line: nothing
  # loads, nothing is reported, the dialogue goes on.
  mkdir prog.cm
  printf 'L\nprog.cm\nD\nC\n0\n0\n.\nE\n' > session
  run_session session
  expect_output <<'OUT'
>> LOAD
  FILE NAME=?  LOADING 'prog.cm'
>> DUMP
  D?    START ADRS ?    END   ADRS ?000:0000000000
  D?>> >>   KALVO-3 TERMINATED 
OUT
  ;;

load_binary)
  # Lines full of NULs: the header "CM" and NULs; a data line for word 123
  # and NULs after it; a NUL and then a data line for word 7FF, which the NUL
  # hides: no value column, so it stores nothing. A second file of junk bytes
  # has no header: error 5.
  { printf 'CM'; head -c 509 /dev/zero
    printf '\n123  00000ABCDE'; head -c 496 /dev/zero
    printf '\n\0007FF  FFFFFFFFFF'; } > nul.cm
  printf '\377\376\000MM\001\002\000\000\200' > junk.mm
  printf 'L\nnul.cm\nL\njunk.mm\nD\nC\n0\n0\nC\n123\n123\nC\n7FF\n7FF\n.\nE\n' > session
  run_session session
  expect_output <<'OUT'
>> LOAD
  FILE NAME=?  LOADING 'nul.cm'
 LOADED TO CM
>> LOAD
  FILE NAME=?  LOADING 'junk.mm'

ERROR 5
 INVALID LOAD FILE FOMAT !
>> DUMP
  D?    START ADRS ?    END   ADRS ?000:0000000000
  D?    START ADRS ?    END   ADRS ?123:00000ABCDE
  D?    START ADRS ?    END   ADRS ?7FF:0000000000
  D?>> >>   KALVO-3 TERMINATED 
OUT
  ;;

load_long_line)
  # A CM file whose header and first data line each go on for 10 MiB of the
  # digit 1: what follows the first 511 characters of a line is skipped, so
  # neither stores a word at an address its overflow would spell, and the
  # next line loads as usual.
  size=$((10 * 1024 * 1024))
  { printf 'CM'; head -c "$size" /dev/zero | tr '\0' '1'
    printf '\n010  0000000ABC '; head -c "$size" /dev/zero | tr '\0' '1'
    printf '\n011  0000000DEF\n'; } > long.cm
  printf 'L\nlong.cm\nD\nC\n0\n11\n.\nE\n' > session
  run_session session
  sed -E '/^0(0[1-9A-F]|1[02-9A-F]):0{10}$/d' .out > .kept; mv .kept .out
  expect_output <<'OUT'
>> LOAD
  FILE NAME=?  LOADING 'long.cm'
 LOADED TO CM
>> DUMP
  D?    START ADRS ?    END   ADRS ?000:0000000000
010:0000000ABC
011:0000000DEF
  D?>> >>   KALVO-3 TERMINATED 
OUT
  # The same line typed at the prompt: every piece is a command line of its
  # own beginning with 1, each answered by the command hint.
  { head -c "$size" /dev/zero | tr '\0' '1'; printf '\n'; } > session
  run_session session
  hints=$(grep -c '^>>  Please key in$' .out)
  [ "$hints" = $(( (size + 1 + 510) / 511 )) ] || fail "$hints command hints"
  tail -n 1 .out > .last; mv .last .out
  expect_output <<'OUT'
>>   KALVO-3 TERMINATED 
OUT
  ;;

card_reader_directory)
  # KALV.CRD opens but yields no byte: the input ends as at the end of the cards.
  mkdir KALV.CRD
  card_session
  run_session session
  card_output_no_data | expect_output
  ;;

card_reader_unreadable)
  run_unprivileged "KALV.CRD with mode 000"
  # The open fails: the input completion takes the end-of-data path.
  printf 'A' > KALV.CRD
  chmod 000 KALV.CRD
  card_session
  run_session session
  card_output_no_data | expect_output
  ;;

printer_directory)
  # KALV.LPT cannot be opened for writing: the run goes on exactly as usual,
  # nothing is reported, the output bytes are dropped.
  copy_greeting
  mkdir KALV.LPT
  run_session "$source_dir/examples/greeting/session.in"
  greeting_output | expect_output
  [ -d KALV.LPT ] && [ -z "$(ls -A KALV.LPT)" ] || fail "KALV.LPT changed"
  ;;

printer_read_only_directory)
  run_unprivileged "a directory with mode 555"
  mkdir read-only
  cd read-only
  copy_greeting
  chmod 555 .
  run_session "$source_dir/examples/greeting/session.in"
  greeting_output | expect_output
  [ -e KALV.LPT ] && fail "KALV.LPT was created"
  ;;

stdout_closed)
  # With no console to print on, the session still does its work: the
  # printer file holds exactly the program's output, and no console text.
  copy_greeting
  run_session "$source_dir/examples/greeting/session.in" closed
  cmp -s KALV.LPT "$source_dir/examples/greeting/expected.lpt" || fail "KALV.LPT: $(head -c 400 KALV.LPT)"
  ;;

stdout_full)
  copy_greeting
  run_session "$source_dir/examples/greeting/session.in" full
  cmp -s KALV.LPT "$source_dir/examples/greeting/expected.lpt" || fail "KALV.LPT: $(head -c 400 KALV.LPT)"
  ;;

load_whole_memories)
  # Every CM word and every MM word in one load each, then both memories
  # listed whole: the listing must show each word as the file gives it.
  { echo CM; for ((a = 0; a < 4096; a++)); do
      printf '%03X  %010X\n' $a $(( (a * 0x9E3779B1 + 0x5A5A5) & 0xFFFFFFFFFF )); done; } > all.cm
  { echo MM; for ((a = 0; a < 65536; a++)); do
      printf '%04X  %04X\n' $a $(( (a * 0x9E37 + 0x1234) & 0xFFFF )); done; } > all.mm
  printf 'L\nall.cm\nL\nall.mm\nD\nC\n0\nFFF\nM\n0\nFFFF\n.\nE\n' > session
  run_session session
  sed 's/^.*?//' .out > listing   # the first word follows the address questions
  grep -E '^[0-9A-F]{3}:[0-9A-F]{10}$' listing | tr ':' ' ' > cm.listed
  tail -n +2 all.cm | tr -s ' ' > cm.loaded
  cmp -s cm.listed cm.loaded || fail "CM listing differs from the loaded file"
  grep -E '^[0-9A-F]{4}:[0-9A-F]{4}$' listing | tr ':' ' ' > mm.listed
  tail -n +2 all.mm | tr -s ' ' > mm.loaded
  cmp -s mm.listed mm.loaded || fail "MM listing differs from the loaded file"
  grep -q ' LOADED TO CM$' .out && grep -q ' LOADED TO MM$' .out || fail "load messages"
  grep -q '^ERROR' .out && fail "an error was reported"
  ;;

*)
  echo "unknown case $case"
  exit 2
  ;;
esac
exit $failed
