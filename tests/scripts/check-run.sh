#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
#
# check-run.sh SOURCE_DIR BUILD_DIR
# The demonstration as a newcomer meets it, on this test's own loopback address: with
# the port taken by a simulator left running, scripts/run says why, exits non-zero and
# never opens the wizard; with the port free it announces its simulator, which answers,
# and which stops when the wizard closes.
set -euo pipefail
src=$1
build=$2
bin=$build/bin
addr=127.0.6.4
fail() { echo "check-run: $*" >&2; exit 1; }

work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT
run=(env QT_QPA_PLATFORM=offscreen TOLVANE_NO_BUILD=1 TOLVANE_RUN_ADDRESS=$addr BUILD_DIR=$build
     XDG_STATE_HOME=$work/state XDG_CONFIG_HOME=$work/config bash "$src/scripts/run")
read_settings() {
  "$bin/tolvanectl" read --conn "eth:$addr" --timeout 1000 --retries 0
}

# Another simulator holds the port.
exec {other}< <(exec "$bin/tolvane-sim" --listen "$addr" --state "$work/other.state")
pids+=($!)
read -r -t 20 -u "$other" line && [ "$line" = ready ] || fail "the other simulator did not start"
status=0
timeout 20 "${run[@]}" >"$work/out" 2>"$work/err" || status=$?
[ "$status" -ne 124 ] || fail "scripts/run opened the wizard with the port taken"
[ "$status" -ne 0 ] || fail "scripts/run succeeded with the port taken"
grep -q "already in use" "$work/err" || fail "no reason given: $(cat "$work/err")"
grep -q "pkill -x tolvane-sim" "$work/err" || fail "no way to free the port given"
if grep -q "Controller simulator on" "$work/out"; then fail "it announced a simulator it did not start"; fi
kill "${pids[0]}"
wait "${pids[0]}" 2>/dev/null || true

# The port is free: the script's own simulator answers until the wizard closes.
exec {demo}< <(exec "${run[@]}" 2>&1)
script=$!
pids+=("$script")
while read -r -t 30 -u "$demo" line; do
  [[ $line == "Controller simulator on $addr"* ]] && break
done
[[ ${line:-} == "Controller simulator on $addr"* ]] || fail "no announcement"
[ -f "$work/state/tolvane-demo/controller.state" ] || fail "the announced state file is missing"
read_settings >/dev/null || fail "the demonstration's simulator does not answer"
wizard=
for _ in $(seq 1 100); do
  wizard=$(pgrep -x tolvane -P "$script" || true)
  [ -n "$wizard" ] && break
  sleep 0.1
done
[ -n "$wizard" ] || fail "the wizard did not start"
kill "$wizard"
read -r -t 20 -u "$demo" -d '' _ || true  # until the script has ended
if read_settings >/dev/null 2>&1; then fail "the simulator outlived the wizard"; fi
echo "check-run: passed"
