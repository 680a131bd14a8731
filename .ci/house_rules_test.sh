#!/usr/bin/env bash
# Proves that CI's three house-rule gates catch a slip: each case copies what
# the gate reads into a scratch directory, makes (or does not make) a slip
# there, runs the gate exactly as CI does and compares the verdict. Every gate
# is also run once without a slip, so a gate that fails for some other reason
# shows up as a failed case instead of a false pass.
#
#   .ci/house_rules_test.sh            (after `npm ci` in web/)
#
#   warning   the release and asan presets' compilers stop on a new warning
#   format    .ci/check_format.sh stops on a badly formatted changed line,
#             and only on changed lines
#   lint      web's `npm run lint` stops on a lint error in web/src
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
passed=0
failed=0

# verdict NAME EXPECTED ACTUAL LOG: EXPECTED and ACTUAL are "pass" or "fail".
verdict() {
  if [ "$2" = "$3" ]; then
    passed=$((passed + 1))
    echo "ok      $1 ($3)"
  else
    failed=$((failed + 1))
    echo "FAILED  $1: expected the gate to $2, it did $3"
    sed 's/^/        | /' "$4" | tail -20
  fi
}

# outcome COMMAND...: "pass" or "fail" by the command's status.
outcome() { if "$@" > "$scratch/log" 2>&1; then echo pass; else echo fail; fi; }

# A copy of the source tree as it is in the working directory (tracked files).
copy_tree() {
  mkdir -p "$1"
  (cd "$root" && git ls-files -z | xargs -0 cp --parents -t "$1" 2> /dev/null)
}

# ---- warning: one object of each preset, built as CI builds it ----
tree=$scratch/tree
copy_tree "$tree"
object=CMakeFiles/kalvo3_lib.dir/core/hex_text.cpp.o
slips=(
  "unused-variable|int hex_text_slip(int a) { int unused = a; return 0; }"
  "sign-compare|bool hex_text_slip(int a, unsigned b) { return a < b; }"
  "unused-parameter|int hex_text_slip(int a) { return 0; }"
)
for preset in release asan; do
  build=$scratch/build-$preset
  cmake --preset "$preset" -S "$tree" -B "$build" -DKALVO3_TESTS=OFF > "$scratch/log" 2>&1 ||
    { verdict "warning/$preset configure" pass fail "$scratch/log"; continue; }
  verdict "warning/$preset no slip" pass "$(outcome ninja -C "$build" "$object")" "$scratch/log"
  cp "$tree/core/hex_text.cpp" "$scratch/hex_text.cpp"
  for slip in "${slips[@]}"; do
    warning=${slip%%|*}
    printf '\n%s\n' "${slip#*|}" >> "$tree/core/hex_text.cpp"
    result=$(outcome ninja -C "$build" "$object")
    # The build must stop because of the warning, not for anything else.
    if [ "$result" = fail ] && ! grep -q -- "-Werror=$warning" "$scratch/log"; then result="fail for another reason"; fi
    verdict "warning/$preset $warning" fail "$result" "$scratch/log"
    cp "$scratch/hex_text.cpp" "$tree/core/hex_text.cpp"
  done
done

# ---- format: a repository whose main holds the tree, and a branch ----
repo=$scratch/repo
mkdir -p "$repo/.ci" "$repo/core"
cp "$root/.clang-format" "$repo/"
cp "$root/.ci/check_format.sh" "$repo/.ci/"
cp "$root/core/hex_text.cpp" "$root/core/micro_cycle.cpp" "$repo/core/"
git() { command git -C "$repo" -c user.name=ci -c user.email=ci@localhost "$@"; }
git init -q -b main
git add -A && git commit -qm base

# format_case NAME EXPECTED ON FILE TEXT: on branch ON ("branch" or "main")
# commits TEXT appended to FILE and runs the check.
format_case() {
  if [ "$3" = branch ]; then git checkout -q -B work main; else git checkout -q main; fi
  printf '\n%s\n' "$5" >> "$repo/$4"
  git commit -qam "$1"
  verdict "format/$1" "$2" "$(outcome "$repo/.ci/check_format.sh")" "$scratch/log"
}
format_case "branch, formatted line" pass branch core/hex_text.cpp 'int slip(int a) { return a + 1; }'
format_case "branch, badly formatted line" fail branch core/hex_text.cpp 'int  slip( int a ){return a+1;}'
# micro_cycle.cpp keeps tables laid out by hand: an untouched line is never checked.
format_case "branch, change beside hand-made tables" pass branch core/micro_cycle.cpp 'int slip(int a) { return a; }'
format_case "branch, long line" fail branch core/hex_text.cpp \
  "int slip(int a) { return a + a + a + a + a + a + a + a + a + a + a + a + a + a + a + a + a + a + a + a + a + a + a + a; }"
git checkout -q main
format_case "main, badly formatted last commit" fail main core/hex_text.cpp 'int  later( int a ){return a;}'
# On main only the last landing is checked: an earlier slip is not found again.
format_case "main, formatted last commit" pass main core/hex_text.cpp 'int last(int a) { return a; }'
unset -f git

# ---- lint: web/src as npm run lint reads it ----
web=$scratch/web
mkdir -p "$web"
cp -r "$root/web/src" "$root/web/eslint.config.js" "$root/web/package.json" "$web/"
ln -s "$root/web/node_modules" "$web/node_modules"
lint_slips=(
  "no slip|pass|"
  "unused variable|fail|const slip = 1;"
  "undefined name|fail|export function slip() { return missingName + 1; }"
  "loose equality|fail|export function slip(a) { return a == 1; }"
  "var|fail|export var slip = 1;"
  "reassigned const|fail|const slip = 1; slip = 2; export { slip };"
)
page=$(ls "$web"/src/*.mjs | head -1)
cp "$page" "$scratch/page.mjs"
for slip in "${lint_slips[@]}"; do
  IFS='|' read -r name expected text <<< "$slip"
  [ -n "$text" ] && printf '\n%s\n' "$text" >> "$page"
  verdict "lint/$name" "$expected" "$(cd "$web" && outcome npm run --silent lint)" "$scratch/log"
  cp "$scratch/page.mjs" "$page"
done

echo "house rules: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
