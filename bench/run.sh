#!/bin/sh
# The simulator's benchmark: builds the release preset and measures eight
# workloads, printing one line each.
#
#   bench/run.sh [RUNS [WORKLOAD...]]   (RUNS timed runs per workload,
#                                        default 5; all workloads by default)
#
#   1 zero CM     a fresh machine, all-zero control memory (loops at 000),
#                 "R" from 0 for 50,000,000 steps
#   2 k16         the K16 microprogram running bench/compute.mdat for
#                 50,000,000 steps
#   3 k16 breaks  workload 2 with 32 break points the program never reaches
#   4 trace       a trace run of workload 2's program, 200,000 steps, every
#                 column shown ("*" and "B*"), console output to a file
#   5 load CM/MM  a CM file of all 4096 words, an MM file of all 65536 words
#   6 print_loop  the greeting example made to start over instead of halting:
#                 "HELLO, KALVO-3!" and a line end to KALV.LPT again and again,
#                 a byte every 4 steps, 2,000,000 steps
#   7 paired      workloads 1 and 2 on bench/naive.cpp (a naive one-file
#                 simulator, -O2) and on the simulator, run alternately RUNS
#                 times each: the median of the pairs' time ratios; with
#                 BEFORE=path/to/an/older/kalvo3, the same against it
#   8 lockstep    the unit test that runs the fast loop and the micro-cycle
#                 side by side, on LOCKSTEP_IMAGES (default 3000) random
#                 control-memory images; 0 skips it
#
# Wall-clock figures are the median of RUNS runs. Where valgrind is
# installed, callgrind counts host instructions: for workloads 1 to 3 per
# micro-cycle, from a 2,000,000-step run less a zero-step run of the same
# session (so start-up, loading and the dialogue do not count); for workload
# 4 per displayed step, from 20,000 steps less zero; for workload 6 per step,
# from 200,000 steps less zero (instructions in the simulator only: the time
# the system spends writing KALV.LPT shows in the wall clock alone); for
# workload 5 the whole session less one that loads nothing.
#
# Environment: BUILD_DIR (default build/bench), BEFORE (an older kalvo3
# executable for workload 7), KEEP_CALLGRIND=1 keeps the
# callgrind output files (run with --dump-instr=yes) in the work directory
# and prints its name, for callgrind_annotate.
set -eu

runs=${1:-5}
[ $# -gt 0 ] && shift
only=" $* "
wanted() { [ "$only" = "  " ] || case $only in *" $1 "*) return 0 ;; *) return 1 ;; esac; }
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/bench}

cmake --preset release -B "$build" >/dev/null
cmake --build "$build" -j2 --target kalvo3 kalvo3-asm >/dev/null
sim=$build/kalvo3
lockstep_images=${LOCKSTEP_IMAGES:-3000}

if [ -n "${BEFORE:-}" ]; then BEFORE=$(cd "$(dirname "$BEFORE")" && pwd)/$(basename "$BEFORE"); fi

work=$(mktemp -d)
if [ "${KEEP_CALLGRIND:-0}" != 1 ]; then trap 'rm -rf "$work"' EXIT; fi
cd "$work"

"$build/kalvo3-asm" -o k16.cm "$root/examples/k16/k16.masm"
"$build/kalvo3-asm" --data -o compute.mm "$root/bench/compute.mdat"
${CXX:-c++} -O2 -std=c++20 -o naive "$root/bench/naive.cpp"

# Workload 5's files: every address, a value that differs from word to word.
awk 'BEGIN { print "CM"; for (a = 0; a < 4096; a++) printf "%03X  %02X%08X\n", a, a % 256, (a * 2654435761) % 2147483648 }' >full.cm
awk 'BEGIN { print "MM"; for (a = 0; a < 65536; a++) printf "%04X  %04X\n", a, (a * 40503) % 65536 }' >full.mm
# Workload 6's program: the greeting, its halt at 007 made a jump back to 002.
sed 's/^007  FFFFF01A07.*/007  FFFFF01E02/' "$root/examples/greeting/greeting.cm" >print.cm
cp "$root/examples/greeting/greeting.mm" print.mm

# Sessions. $1 is the step limit where a session runs.
zero_cm() { printf 'R\n0\n%s\nE\n' "$1"; }
k16() { printf 'L\nk16.cm\nL\ncompute.mm\nR\n0\n%s\nE\n' "$1"; }
k16_breaks() {
    printf 'L\nk16.cm\nL\ncompute.mm\nB\nS\n'
    a=256
    while [ $a -lt 288 ]; do printf '%X\n' $a; a=$((a + 1)); done
    printf '.\n.\nR\n0\n%s\nE\n' "$1"
}
trace() { printf 'L\nk16.cm\nL\ncompute.mm\nT\nD\nS\n*\nB*\n.\n.\nG\n0\n%s\n.\nE\n' "$1"; }
print_loop() { printf 'L\nprint.cm\nL\nprint.mm\nR\n0\n%s\nE\n' "$1"; }
load_cm() { printf 'L\nfull.cm\nE\n'; }
load_mm() { printf 'L\nfull.mm\nE\n'; }
nothing() { printf 'E\n'; }

now_ns() { date +%s%N; }

# Median wall-clock seconds of `runs` runs of session "$@", output to a file.
median_seconds() {
    "$@" >session.in
    i=0
    while [ $i -lt "$runs" ]; do
        start=$(now_ns)
        "$sim" <session.in >out.txt
        end=$(now_ns)
        echo $((end - start))
        i=$((i + 1))
    done | sort -n | awk '{ t[NR] = $1 } END { m = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2; printf "%.4f\n", m / 1e9 }'
}

# Host instructions of one run of session "$@" under callgrind.
instructions() {
    "$@" >session.in
    out=callgrind.$(echo "$*" | tr ' ' '.')
    valgrind --tool=callgrind --dump-instr=yes --callgrind-out-file="$out" \
        "$sim" <session.in >/dev/null 2>&1
    awk '/^summary:/ { print $2 }' "$out"
}

have_valgrind=0
if command -v valgrind >/dev/null 2>&1; then have_valgrind=1; fi

per_step() {   # per_step STEPS SESSION: instructions per step, STEPS less 0
    steps=$1
    shift
    if [ $have_valgrind = 0 ]; then echo "-"; return; fi
    long=$(instructions "$@" "$steps")
    zero=$(instructions "$@" 0)
    awk -v a="$long" -v b="$zero" -v s="$steps" 'BEGIN { printf "%.1f", (a - b) / s }'
}

rate() {   # rate STEPS SESSION: million steps per second
    steps=$1
    shift
    t=$(median_seconds "$@" "$steps")
    awk -v s="$steps" -v t="$t" 'BEGIN { printf "%.1f", s / t / 1e6 }'
}

echo "kalvo3 benchmark: $runs runs each; $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-14s %22s %26s\n' workload "million steps/s" "host instructions/step"
for w in zero_cm k16 k16_breaks; do
    wanted $w || continue
    printf '%-14s %22s %26s\n' "$w" "$(rate 50000000 $w)" "$(per_step 2000000 $w)"
done
wanted trace && printf '%-14s %22s %26s\n' trace "$(rate 200000 trace)" "$(per_step 20000 trace)"
wanted print_loop && printf '%-14s %22s %26s\n' print_loop "$(rate 2000000 print_loop)" "$(per_step 200000 print_loop)"

for w in load_cm load_mm; do
    wanted $w || continue
    ms=$(awk -v t="$(median_seconds $w)" 'BEGIN { printf "%.1f", t * 1000 }')
    if [ $have_valgrind = 1 ]; then
        extra=$(awk -v a="$(instructions $w)" -v b="$(instructions nothing)" 'BEGIN { printf "%d", a - b }')
    else
        extra="-"
    fi
    printf '%-14s %19s ms %26s\n' "$w" "$ms" "$extra (whole load)"
done

# Workload 7: a baseline and the simulator alternately, the same steps;
# prints the median of baseline time / simulator time.
paired() {   # paired SESSION BASELINE-COMMAND...
    steps=50000000
    session=$1
    shift
    "$session" $steps >session.in
    i=0
    while [ $i -lt "$runs" ]; do
        start=$(now_ns); "$@" <session.in >/dev/null; middle=$(now_ns)
        "$sim" <session.in >out.txt; end=$(now_ns)
        echo "$((middle - start)) $((end - middle))"
        i=$((i + 1))
    done | awk '{ print $1 / $2 }' | sort -g | awk '{ r[NR] = $1 } END { printf "x%.2f (pairs from x%.2f to x%.2f)", r[int((NR + 1) / 2)], r[1], r[NR] }'
}
if wanted paired; then
    printf '%-14s %s\n' "paired zero" "$(paired zero_cm ./naive - - 50000000)"
    printf '%-14s %s\n' "paired k16" "$(paired k16 ./naive k16.cm compute.mm 50000000)"
    if [ -n "${BEFORE:-}" ]; then
        printf '%-14s %s\n' "before zero" "$(paired zero_cm "$BEFORE")"
        printf '%-14s %s\n' "before k16" "$(paired k16 "$BEFORE")"
    fi
fi

if [ "$lockstep_images" != 0 ] && wanted lockstep; then
    cmake --build "$build" -j2 --target kalvo3_unit >/dev/null
    if KALVO3_LOCKSTEP_IMAGES=$lockstep_images "$build/tests/kalvo3_unit" --gtest_brief=1 \
        --gtest_filter='FastLoopTest.*' --gtest_output="xml:$work/lockstep.xml" >lockstep.txt 2>&1; then
        cycles=$(grep -o 'cycles="[0-9]*"\|name="cycles" value="[0-9]*"' "$work/lockstep.xml" | grep -o '[0-9][0-9]*' | head -1)
        printf '%-14s %s\n' lockstep "$lockstep_images images, $cycles cycles compared: equal"
    else
        printf '%-14s %s\n' lockstep "FAILED:"
        cat lockstep.txt
        exit 1
    fi
fi
if [ "${KEEP_CALLGRIND:-0}" = 1 ]; then echo "callgrind files in $work"; fi
