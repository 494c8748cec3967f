#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
#
# check-guide.sh SOURCE_DIR BIN_DIR
# The user guide as a reader follows it: every picture it shows exists, every link to
# another document resolves, and its tolvanectl commands, run in order as they stand,
# succeed against the simulator (on this test's own loopback address in place of the
# guide's 127.0.0.1).
set -euo pipefail
src=$1
bin=$2
guide=$src/docs/guide.md
fail() { echo "check-guide: $*" >&2; exit 1; }

grep -q '(docs/guide.md)' "$src/README.md" || fail "the README does not link the guide"
while read -r target; do
  [ -e "$src/docs/${target%%#*}" ] || fail "the guide links $target, which does not exist"
done < <(grep -o '](\([^)#:]*\)\(#[^)]*\)\?)' "$guide" | sed 's/^](\(.*\))$/\1/' | grep -v '^#' | sort -u)
for lang in en ja; do
  for shot in connection permission ethernet rs232c token progress; do
    grep -q "screenshots/wizard-$shot-$lang.png" "$guide" || fail "the guide lacks wizard-$shot-$lang.png"
  done
done

# The commands of the guide's sh blocks that call tolvanectl, in their order.
mapfile -t commands < <(awk '/^```sh$/{on=1; next} /^```$/{on=0} on && /^tolvanectl /' "$guide")
((${#commands[@]} >= 6)) || fail "only ${#commands[@]} tolvanectl commands found"

work=$(mktemp -d)
addr=127.0.6.3
exec {simout}< <(exec "$bin/tolvane-sim" --listen "$addr" --state "$work/training.state" 2>&1)
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
read -r -t 20 -u "$simout" line || fail "the simulator did not start"
[ "$line" = ready ] || fail "the simulator said '$line'"

cd "$work"
for c in "${commands[@]}"; do
  run=${c//127.0.0.1/$addr}
  echo "\$ $c"
  PATH=$bin:$PATH bash -c "$run --timeout 2000 --retries 1" || fail "'$c' failed ($?)"
done

# The cell rehearsal, line by line as it stands, on this test's own addresses
# (127.0.7.x for the guide's 127.0.10.x) and in its own folder. The simulator's "ready"
# lines are awaited where a reader sees them: at its start and after the reboot.
mapfile -t cell < <(awk '/^### A cell of controllers/{sec=1} /^```bash$/{on=sec; next} /^```$/{on=0} on' "$guide")
trap 'kill "$sim_pid" ${cell_pid:-} 2>/dev/null || true; rm -rf "$work"' EXIT
for c in "${cell[@]}"; do
  run=${c//127.0.10./127.0.7.}
  run=${run//\~\//$work/}
  echo "\$ $c"
  case $run in
    tolvane-sim*) exec {cellout}< <(exec $bin/${run% &}) && cell_pid=$! ;;
    'cell=$!') continue ;;
    'kill -HUP $cell') kill -HUP "$cell_pid" ;;
    *) last=$(PATH=$bin:$PATH bash -c "$run") || fail "'$c' failed"; echo "$last"; continue ;;
  esac
  read -r -t 20 -u "$cellout" line && [ "$line" = ready ] || fail "the cell is not ready after '$c'"
done
# Eight controllers, the third at its new address with its old id.
[ "$(grep -c '^eth:' <<<"${last:-}")" = 8 ] && grep -q '^eth:127\.0\.7\.103 .*TLVSIM-127\.0\.7\.3 ' <<<"$last" ||
  fail "the last scan did not find the eight controllers with the moved one at .103"
echo "check-guide: the cell rehearsal found its moved controller"
