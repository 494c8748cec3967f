#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
#
# check-run.sh SOURCE_DIR BUILD_DIR
# The demonstration as a newcomer meets it, on this test's own loopback address: with
# the port taken by a simulator left running, scripts/run says why, exits non-zero and
# never opens the wizard; with the port free its own simulator answers, and stops when
# the wizard closes.
set -euo pipefail
src=$1
bin=$2/bin
fail() { echo "check-run: $*" >&2; exit 1; }
# A loopback address where nothing listens yet: another build may run this test too.
for host in $(shuf -i 10-250 -n 50); do
  addr=127.0.6.$host
  (: <>"/dev/tcp/$addr/47311") 2>/dev/null || break
done
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT
run=(env QT_QPA_PLATFORM=offscreen TOLVANE_NO_BUILD=1 TOLVANE_RUN_ADDRESS=$addr BUILD_DIR=$2
     XDG_STATE_HOME=$work/state XDG_CONFIG_HOME=$work/config bash "$src/scripts/run")
answers() { "$bin/tolvanectl" read --conn "eth:$addr" --timeout 1000 --retries 0 >/dev/null 2>&1; }

exec {other}< <(exec "$bin/tolvane-sim" --listen "$addr")
pids+=($!)
read -r -t 20 -u "$other" line && [ "$line" = ready ] || fail "the other simulator did not start"
status=0
timeout 20 "${run[@]}" >"$work/out" 2>"$work/err" || status=$?
[ "$status" -ne 124 ] || fail "scripts/run opened the wizard with the port taken"
[ "$status" -ne 0 ] || fail "scripts/run succeeded with the port taken"
grep -q "already in use" "$work/err" && grep -q "pkill -x tolvane-sim" "$work/err" ||
  fail "no reason or remedy given: $(cat "$work/err")"
kill "${pids[0]}"
wait "${pids[0]}" 2>/dev/null || true

exec {demo}< <(exec "${run[@]}" 2>&1)
pids+=($!)
grep -m 1 -q "^Controller simulator on $addr" <&"$demo" || fail "no announcement"
answers || fail "the demonstration's simulator does not answer"
for _ in $(seq 1 100); do pkill -x tolvane -P "${pids[1]}" && break; sleep 0.1; done
cat <&"$demo" >/dev/null  # until the script has ended
if answers; then fail "the simulator outlived the wizard"; fi
echo "check-run: passed"
