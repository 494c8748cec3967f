#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
#
# check-package.sh BUILD_DIR SCRATCH
# Builds the Debian package with CPack, checks it with lintian (no errors, hardened
# binaries) and its desktop entry with desktop-file-validate, installs it into a scratch
# root with dpkg, starts the installed tolvane-sim and tolvanectl against each other, and
# removes the package again: nothing may be left behind.
set -euo pipefail
build=$1
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch/out"

fail() { echo "check-package: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) \
  || { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$scratch"/out/tolvane_*.deb)
echo "package: $(basename "$deb")"

# Dependencies come from the linked libraries, not from a hand-written list.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libqt6core6 libqt6widgets6 libqt6network6 libqt6serialport6 libqt6svg6 zlib1g libnettle8 libc6; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib"
done

# lintian: errors fail the test, and so does any hardening tag (those are only
# informational, so they are asked for); the rest is shown.
lintian --fail-on error --display-info --tag-display-limit 0 "$deb" >"$scratch/lintian.log" 2>&1 \
  || { cat "$scratch/lintian.log" >&2; fail "lintian reports errors"; }
cat "$scratch/lintian.log"
if grep -q 'hardening-' "$scratch/lintian.log"; then
  fail "the binaries are not hardened: $(grep 'hardening-' "$scratch/lintian.log" | tr '\n' ' ')"
fi

# A scratch root with an empty dpkg database; the package's libraries come from the
# host, so dependencies are not checked there.
root=$scratch/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --force-depends --force-script-chrootless -i "$deb" >/dev/null \
  || fail "dpkg -i into the scratch root failed"

for f in usr/bin/tolvane usr/bin/tolvanectl usr/bin/tolvane-sim \
         usr/share/applications/tolvane.desktop \
         usr/share/icons/hicolor/scalable/apps/tolvane.svg \
         usr/share/icons/hicolor/48x48/apps/tolvane.png \
         usr/share/icons/hicolor/256x256/apps/tolvane.png \
         usr/share/man/man1/tolvanectl.1.gz usr/share/man/man1/tolvane-sim.1.gz \
         usr/share/doc/tolvane/copyright \
         usr/share/ansible/collections/ansible_collections/tolvane/controller/MANIFEST.json \
         usr/share/ansible/collections/ansible_collections/tolvane/controller/plugins/modules/comm_settings.py; do
  [ -e "$root/$f" ] || fail "$f is not installed"
done
desktop-file-validate "$root/usr/share/applications/tolvane.desktop" || fail "desktop entry invalid"
for size in 48 256; do
  identify -format '%wx%h' "$root/usr/share/icons/hicolor/${size}x${size}/apps/tolvane.png" \
    | grep -qx "${size}x${size}" || fail "the ${size} px icon has another size"
done
if ldd "$root/usr/bin/tolvane" "$root/usr/bin/tolvanectl" "$root/usr/bin/tolvane-sim" | grep -q 'not found'; then
  fail "an installed program misses a library"
fi

# The installed programs talk to each other on a loopback address of this test's own.
addr=127.0.6.1
exec {simout}< <(exec "$root/usr/bin/tolvane-sim" --listen "$addr" 2>&1)
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true' EXIT
read -r -t 20 -u "$simout" line || fail "the installed tolvane-sim did not start"
[ "$line" = ready ] || fail "the installed tolvane-sim said '$line'"
json=$("$root/usr/bin/tolvanectl" read --conn "eth:$addr" --timeout 2000 --retries 1) \
  || fail "the installed tolvanectl could not read the installed simulator"
grep -q '"ip":"192.168.0.1"' <<<"$json" || fail "unexpected settings: $json"
echo "installed tolvanectl read the installed tolvane-sim: $json"

# The collection lies where Debian's Ansible looks by default, and works from there.
if command -v ansible >/dev/null; then
  env -u ANSIBLE_COLLECTIONS_PATH ANSIBLE_CONFIG=$scratch/none.cfg ansible-config dump | grep '^COLLECTIONS_PATHS' \
    | grep -q "/usr/share/ansible/collections" || fail "Ansible does not look in /usr/share/ansible/collections"
  info=$(ANSIBLE_COLLECTIONS_PATH=$root/usr/share/ansible/collections ANSIBLE_CONFIG=$scratch/none.cfg \
         ansible localhost -c local -m tolvane.controller.comm_settings_info \
         -a "conn=eth:$addr tolvanectl=$root/usr/bin/tolvanectl timeout=2000" 2>&1) \
    || fail "the installed collection could not read the installed simulator: $info"
  grep -q '"id": "TLVSIM-0001"' <<<"$info" || fail "unexpected answer of the installed collection: $info"
  echo "the installed collection read the installed tolvane-sim"
fi
kill "$sim_pid"
wait "$sim_pid" 2>/dev/null || true
trap - EXIT

dpkg --root="$root" --force-depends --force-script-chrootless -r tolvane >/dev/null \
  || fail "dpkg -r failed"
left=$(find "$root" -path "$root/var/lib/dpkg" -prune -o \( -type f -o -type l \) -print)
[ -z "$left" ] || fail "files left after removal: $left"
echo "installed, started and removed cleanly"
