#!/usr/bin/env bash
# One hostile environment for the simulator: a load file or device file that
# is no ordinary file, a load file of binary junk, of one huge line or an
# endless stream, standard output closed or on a full device, and loads that
# fill whole memories; a console reader that goes away, a run that is ended by
# a signal, a printer file past the file-size limit, and a non-blocking
# console.
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

# The greeting printed over and over (its halt made a jump back to the start).
greeting_forever() {
  sed 's/^007  FFFFF01A07.*/007  FFFFF01E02/' "$source_dir/examples/greeting/greeting.cm" > print.cm
  cp "$source_dir/examples/greeting/greeting.mm" print.mm
}

# 100 letters without a line end, then an endless loop (the halt made a jump
# to itself).
partial_line_then_loop() {
  sed 's/^007  FFFFF01A07.*/007  FFFFF01E07/' "$source_dir/examples/greeting/greeting.cm" > print.cm
  awk 'BEGIN { print "MM"; for (i = 0; i < 100; i++) printf "%04X  %04X\n", 256 + i, 65 + i % 26
               printf "%04X  0000\n", 356 }' > print.mm
  awk 'BEGIN { for (i = 0; i < 100; i++) printf "%c", 65 + i % 26 }' > letters
}

# wait_for FILE TEXT: waits up to 20 s until FILE holds TEXT.
wait_for() {
  local i
  for ((i = 0; i < 200; i++)); do
    grep -qF -- "$2" "$1" 2> /dev/null && return 0
    sleep 0.1
  done
  return 1
}

# with_nonblocking in|out COMMAND...: runs COMMAND with standard input or
# output set non-blocking, as some programs that drive a console leave it.
with_nonblocking() {
  perl -MFcntl -e 'my $fh = shift eq "in" ? \*STDIN : \*STDOUT;
    fcntl($fh, F_SETFL, fcntl($fh, F_GETFL, 0) | O_NONBLOCK) or die "fcntl: $!";
    exec @ARGV or die "exec: $!"' "$@"
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

console_reader_gone)
  # The console's reader stops after 100 bytes: writes to the console fail
  # from then on, silently; the session still runs to its end (a trace run,
  # then a second run) and KALV.LPT holds every byte that the same session
  # prints with a console that reads everything.
  greeting_forever
  printf 'L\nprint.cm\nL\nprint.mm\nT\nG\n0\n43000\n.\nR\nCNT\n4300\nE\n' > session
  run_session session
  mv KALV.LPT expected.lpt
  timeout 120 "$sim" < session 2> .err | head -c 100 > .head
  status=${PIPESTATUS[0]}
  [ "$status" -eq 0 ] || fail "exit status $status"
  [ -s .err ] && fail "standard error: $(head -c 2000 .err)"
  [ "$(wc -c < expected.lpt)" -gt 10000 ] || fail "the session printed only $(wc -c < expected.lpt) bytes"
  cmp -s KALV.LPT expected.lpt || fail "KALV.LPT holds $(cat KALV.LPT 2> /dev/null | wc -c) of $(wc -c < expected.lpt) bytes"
  ;;

dialogue_shows_during_run)
  # Console output to a file, and a run that never ends (all-zero control
  # memory loops at 000): the dialogue is in the file while the run goes on,
  # for a run and for a trace run that displays nothing (its one trace point
  # is never reached).
  for kind in run trace; do
    if [ $kind = run ]; then
      printf 'R\n0\n\n' > session
      last=' Running'
    else
      printf 'T\nA\nS\n5\n.\n.\nG\n0\n\n' > session
      last='   MAX STEP IS NOT USED'
    fi
    "$sim" < session > .raw 2> .err &
    pid=$!
    wait_for .raw "$last" || fail "$kind: \"$last\" not in the console output after 20 s"
    kill $pid
    wait $pid
    [ -s .err ] && fail "$kind: standard error: $(head -c 2000 .err)"
    tail -n +4 .raw > .out
    if [ $kind = run ]; then
      expect_output <<'OUT'
>> RUN
 CMAR=? MAX STEP=?   MAX STEP IS NOT USED
 Running
OUT
    else
      expect_output <<'OUT'
>> TRACE
  T?   TA?    ADRS ?    ADRS ?   TA?  T? CMAR=? MAX STEP=?   MAX STEP IS NOT USED
OUT
    fi
  done
  ;;

killed_run_keeps_printer_line)
  # A run that prints 100 letters without a line end and then loops, ended
  # by a signal once the letters are printed: KALV.LPT holds them all.
  partial_line_then_loop
  printf 'L\nprint.cm\nL\nprint.mm\nR\n0\n\n' > session
  for signal in TERM INT HUP; do
    rm -f KALV.LPT
    # A shell starts background commands with SIGINT ignored: undo that.
    perl -e '$SIG{$_} = "DEFAULT" for qw(TERM INT HUP); exec @ARGV or die' "$sim" \
      < session > .raw 2> .err &
    pid=$!
    for ((i = 0; i < 100; i++)); do
      [ "$(wc -c < KALV.LPT 2> /dev/null)" = 100 ] && break
      sleep 0.1
    done
    kill -$signal $pid
    wait $pid
    status=$?
    [ $status -gt 128 ] || fail "SIG$signal: exit status $status, not the signal's"
    [ -s .err ] && fail "SIG$signal: standard error: $(head -c 2000 .err)"
    cmp -s KALV.LPT letters || fail "SIG$signal: KALV.LPT holds '$(head -c 200 KALV.LPT 2> /dev/null)'"
  done
  ;;

printer_file_size_limit)
  # KALV.LPT may grow to 1024 bytes (ulimit -f 1): the write past the limit
  # fails instead of killing the simulator; it reports ERROR 17 once, the run
  # ends, and the file holds exactly the first 1024 bytes printed. A second
  # run tries the refused byte again: one more report, still no hole.
  greeting_forever
  printf 'L\nprint.cm\nL\nprint.mm\nR\n0\n\nR\nCNT\n\nE\n' > session
  (ulimit -f 1 && exec timeout 120 "$sim" < session 2> .err) > .raw
  status=$?
  [ $status -eq 0 ] || fail "exit status $status"
  [ -s .err ] && fail "standard error: $(head -c 2000 .err)"
  yes 'HELLO, KALVO-3!' | head -c 1024 > expected.lpt
  cmp -s KALV.LPT expected.lpt || fail "KALV.LPT holds $(cat KALV.LPT 2> /dev/null | wc -c) bytes: $(tail -c 40 KALV.LPT 2> /dev/null)"
  tail -n +4 .raw > .out
  expect_output <<'OUT'
>> LOAD
  FILE NAME=?  LOADING 'print.cm'
 LOADED TO CM
>> LOAD
  FILE NAME=?  LOADING 'print.mm'
 LOADED TO MM
>> RUN
 CMAR=? MAX STEP=?   MAX STEP IS NOT USED
 Running

ERROR 17
 I/O ERROR !
 CPU HALTED !
  4424 STEPS USED
>> RUN
 CMAR=? MAX STEP=?   MAX STEP IS NOT USED
 Running

ERROR 17
 I/O ERROR !
 CPU HALTED !
   4 STEPS USED
>> >>   KALVO-3 TERMINATED 
OUT
  ;;

console_nonblocking)
  # Standard input non-blocking, its first line a second late: the session
  # waits for it and runs whole.
  copy_greeting
  { sleep 1; cat "$source_dir/examples/greeting/session.in"; } |
    with_nonblocking in "$sim" > .raw 2> .err
  [ -s .err ] && fail "standard error: $(head -c 2000 .err)"
  tail -n +4 .raw > .out
  greeting_output | expect_output
  cmp -s KALV.LPT "$source_dir/examples/greeting/expected.lpt" || fail "KALV.LPT: $(head -c 400 KALV.LPT)"
  # Standard output non-blocking, on a pipe whose reader starts a second
  # late: a trace run's megabyte of console output arrives whole.
  greeting_forever
  printf 'L\nprint.cm\nL\nprint.mm\nT\nD\nS\n*\nB*\n.\n.\nG\n0\n5000\n.\nE\n' > session
  "$sim" < session > expected.out
  with_nonblocking out "$sim" < session 2> .err | { sleep 1; cat; } > .raw
  [ -s .err ] && fail "standard error: $(head -c 2000 .err)"
  [ "$(wc -c < expected.out)" -gt 500000 ] || fail "the session printed only $(wc -c < expected.out) bytes"
  cmp -s .raw expected.out || fail "console output: $(wc -c < .raw) of $(wc -c < expected.out) bytes"
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

load_endless_lines)
  # A load file that is an endless stream: its header is read as 511
  # characters at most, and /dev/zero has none that say CM or MM. A data
  # line (or a header's rest) that has not ended after 16 MiB ends the load
  # with the format error; the words stored before it stay stored, the
  # session goes on.
  bound=$((16 * 1024 * 1024))
  { printf 'CM\n010  0000000ABC\n011  0000000DEF'; head -c "$bound" /dev/zero | tr '\0' ' '
    printf '\n012  0000000123\n'; } > endless.cm
  { printf 'MM header'; head -c "$bound" /dev/zero; printf '\n0100  1234\n'; } > endless.mm
  printf 'L\n/dev/zero\nL\nendless.cm\nL\nendless.mm\nD\nC\n10\n12\nM\n100\n100\n.\nE\n' > session
  run_session session
  expect_output <<'OUT'
>> LOAD
  FILE NAME=?  LOADING '/dev/zero'

ERROR 5
 INVALID LOAD FILE FOMAT !
>> LOAD
  FILE NAME=?  LOADING 'endless.cm'

ERROR 5
 INVALID LOAD FILE FOMAT !
>> LOAD
  FILE NAME=?  LOADING 'endless.mm'

ERROR 5
 INVALID LOAD FILE FOMAT !
>> DUMP
  D?    START ADRS ?    END   ADRS ?010:0000000ABC
011:0000000DEF
012:0000000000
  D?    START ADRS ?    END   ADRS ?0100:0000
  D?>> >>   KALVO-3 TERMINATED 
OUT
  ;;

*)
  echo "unknown case $case"
  exit 2
  ;;
esac
exit $failed
