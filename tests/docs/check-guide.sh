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
# (127.0.7.x for the guide's 127.0.10.x) and in its own folder: the simulator's "ready"
# lines are awaited where a reader sees them.
mapfile -t cell < <(awk '/^### A cell of controllers/{sec=1} /^```bash$/{on=sec; next} /^```$/{on=0} on' "$guide")
((${#cell[@]} >= 6)) || fail "the cell rehearsal has only ${#cell[@]} lines"
cell_pid=
trap 'kill "$sim_pid" ${cell_pid:+"$cell_pid"} 2>/dev/null || true; rm -rf "$work"' EXIT
last=
for c in "${cell[@]}"; do
  run=${c//127.0.10./127.0.7.}
  run=${run//\~\//$work/}
  echo "\$ $c"
  case $run in
    tolvane-sim*)
      exec {cellout}< <(exec $bin/${run% &} 2>"$work/cell.err")
      cell_pid=$!
      read -r -t 20 -u "$cellout" line && [ "$line" = ready ] || fail "the cell did not start"
      ;;
    'cell=$!') ;;
    'kill -HUP $cell')
      kill -HUP "$cell_pid"
      read -r -t 20 -u "$cellout" line && [ "$line" = ready ] || fail "the cell did not come back after SIGHUP"
      ;;
    *)
      last=$(PATH=$bin:$PATH bash -c "$run") || fail "'$c' failed"
      echo "$last"
      ;;
  esac
done
grep -q '^eth:127\.0\.7\.103 .*TLVSIM-127\.0\.7\.3 ' <<<"$last" || fail "the last scan did not find the moved controller"
! grep -q '^eth:127\.0\.7\.3 ' <<<"$last" || fail "the moved controller is still at its old address"
[ "$(grep -c '^eth:' <<<"$last")" = 8 ] || fail "the last scan did not find eight controllers"
grep -q '127.0.7.1 keeps its address' "$work/cell.err" || fail "the simulator did not say why the others stay"
echo "check-guide: the cell rehearsal found its moved controller"
