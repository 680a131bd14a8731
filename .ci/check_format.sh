#!/usr/bin/env bash
# Checks the C++ lines that a change touches against .clang-format, and only
# those: the tree is never reformatted whole, so work in flight on other
# branches merges cleanly. Prints what clang-format would change and fails
# when that is anything.
#
#   .ci/check_format.sh [BASE]
#
# The lines checked are those that differ between BASE and the working tree
# (committed or not; new files count once they are added to git). Without
# BASE:
#   - on a branch ahead of main: its merge base with main, so every line the
#     branch brings is checked;
#   - on main itself (CI runs in a fresh clone of main): HEAD's first parent,
#     so the last landing is checked: for a merge, everything it brought into
#     main; for a plain commit, that commit. Earlier commits of a landing of
#     several plain commits were checked on their branch.
set -euo pipefail
cd "$(dirname "$0")/.."

base=${1:-}
if [ -z "$base" ]; then
  if git rev-parse -q --verify main^{commit} >/dev/null &&
     [ "$(git merge-base HEAD main)" != "$(git rev-parse HEAD)" ]; then
    base=$(git merge-base HEAD main)
  elif git rev-parse -q --verify HEAD^1 >/dev/null; then
    base=HEAD^1
  else
    echo "check_format: a single commit, nothing to compare it with"
    exit 0
  fi
fi

echo "check_format: C++ lines changed since $(git rev-parse --short "$base")"
# git clang-format's exit status does not tell whether it found anything: its
# output does (a diff, or one line saying there was nothing to change).
out=$(git clang-format --binary "${CLANG_FORMAT:-clang-format}" --extensions cpp,hpp,h,cc --diff "$base" 2>&1) || {
  echo "$out"
  echo "check_format: git clang-format failed" >&2
  exit 2
}
echo "$out"
if grep -q '^diff --git' <<< "$out"; then
  echo "check_format: the lines above are not formatted as .clang-format says;" \
       "'git clang-format $base' formats them" >&2
  exit 1
fi
