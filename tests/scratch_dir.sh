# Sourced by the command-line tests: a fresh scratch directory as the working
# directory, removed at exit, and `failed`, the status the test exits with,
# which `fail MESSAGE` sets.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failed=0
fail() { echo "FAIL: $*"; failed=1; }
