#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
#
# check-fuzz.sh SOURCE_DIR
# scripts/fuzz fails when a fuzz target fails, and names the input that reproduces it.
# The targets here are stand-ins that answer as libFuzzer does: one finds nothing, one
# saves a crashing input and exits 1, one dies of a sanitizer report without saving one.
set -euo pipefail
src=$1
fail() { echo "check-fuzz: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/fuzz"
target() { # NAME BODY: a stand-in fuzzer; $prefix is its -artifact_prefix
  printf '#!/usr/bin/env bash\nfor a; do case $a in -artifact_prefix=*) prefix=${a#*=};; esac; done\n%s\n' \
    "$2" >"$work/fuzz/$1"
  chmod +x "$work/fuzz/$1"
}
target fuzz_clean 'echo "#1000 DONE cov: 10"; exit 0'
target fuzz_crash 'printf x >"${prefix}crash-0001"
echo "==1==ERROR: AddressSanitizer: heap-buffer-overflow"
echo "artifact_prefix=${prefix}; Test unit written to ${prefix}crash-0001"; exit 1'
target fuzz_abort 'echo "runtime error: signed integer overflow" >&2; exit 77'
fuzz() { FUZZ_BUILD_DIR=$work FUZZ_ARTIFACTS=$work/artifacts bash "$src/scripts/fuzz" 1 "$@" >"$work/out" 2>"$work/err"; }

fuzz fuzz_clean || fail "a clean target failed: $(cat "$work/err")"
status=0
fuzz fuzz_crash fuzz_clean || status=$?
[ "$status" -ne 0 ] || fail "a crashing target passed"
grep -q "reproduce with: $work/fuzz/fuzz_crash $work/artifacts/fuzz_crash-crash-0001" "$work/err" ||
  fail "the reproducing input is not named: $(cat "$work/err")"
grep -q "fuzz: fuzz_clean" "$work/out" && fail "went on after a fault"
status=0
fuzz fuzz_clean fuzz_abort || status=$?
[ "$status" -ne 0 ] || fail "a target that exited 77 passed"
grep -q "fuzz_abort failed (exit 77)" "$work/err" || fail "the failure is not reported: $(cat "$work/err")"
echo "check-fuzz: ok"
