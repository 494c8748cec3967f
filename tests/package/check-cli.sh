#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
#
# check-cli.sh SOURCE_DIR BIN_DIR
# The programs' command lines as a packager and a user meet them: one version in
# CMakeLists.txt, the collection, the package's changelog, the manual pages and each
# program's --version; every option a program's help names is in its manual page; an
# unknown option is named as such.
set -euo pipefail
src=$1
bin=$2
fail() { echo "check-cli: $*" >&2; exit 1; }

version=$(sed -n 's/^project(Tolvane VERSION \([0-9.]*\) .*/\1/p' "$src/CMakeLists.txt")
[ -n "$version" ] || fail "no project version in CMakeLists.txt"
[ "$(sed -n 's/^version: //p' "$src/ansible/galaxy.yml")" = "$version" ] || fail "ansible/galaxy.yml is not $version"
head -1 "$src/cmake/deb/changelog" | grep -qF "tolvane ($version)" || fail "the changelog's last entry is not $version"
for program in tolvane tolvanectl tolvane-sim; do
  grep -qF "\"Tolvane $version\"" "$src/docs/man/$program.1" || fail "$program.1 is not of $version"
  said=$(QT_QPA_PLATFORM=offscreen "$bin/$program" --version)
  [ "$said" = "$program $version" ] || fail "$program --version says '$said'"
done

# Every long option of each help is in the program's manual page ("\-\-name" in roff).
options() { grep -o -- '--[a-z][a-z-]*' | sort -u; }
check_man() {
  local program=$1; shift
  while read -r option; do
    grep -qF -- "${option//-/\\-}" "$src/docs/man/$program.1" || fail "$program.1 does not list $option"
  done < <(options)
}
QT_QPA_PLATFORM=offscreen "$bin/tolvane" --help | check_man tolvane
"$bin/tolvane-sim" --help | check_man tolvane-sim
for command in read write backup restore scan; do "$bin/tolvanectl" help "$command"; done | check_man tolvanectl

# An unknown option is bad usage that says so, before anything starts.
for program in tolvane tolvanectl tolvane-sim; do
  set +e
  said=$(QT_QPA_PLATFORM=offscreen "$bin/$program" --bogus 2>&1 >/dev/null)
  code=$?
  set -e
  [ "$code" = 2 ] || fail "$program --bogus ended with $code"
  grep -q -- "--bogus" <<<"$said" || fail "$program --bogus says: $said"
done
echo "check-cli: version $version agrees; every option is in its manual page"
