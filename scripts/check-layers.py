#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
"""No library includes a header of a library above it.

The arrows are those of the table in docs/structure.md ("| `tolvane_X` (`X/`) ... |
Qt | links |"); a folder may include the headers of its own library and of every
library it reaches along them. Prints each include that breaks the order; exit 1 then.
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else '.')
table = (root / 'docs' / 'structure.md').read_text()
links = {}
for row in re.finditer(r'^\| `tolvane_(\w+)` \(`\w+/`\)[^|]*\|[^|]*\|(.*)\|$', table, re.M):
    links[row.group(1)] = set(re.findall(r'`tolvane_(\w+)`', row.group(2)))
if len(links) < 10:
    sys.exit('check-layers: the table of docs/structure.md names only %d libraries' % len(links))


def reach(lib, seen=None):
    seen = set() if seen is None else seen
    for below in links.get(lib, ()):
        if below not in seen:
            seen.add(below)
            reach(below, seen)
    return seen | {lib}


broken = []
for lib in sorted(links):
    allowed = reach(lib)
    for path in sorted((root / lib).glob('*.[ch]*')):
        for n, line in enumerate(path.read_text(errors='replace').splitlines(), 1):
            m = re.match(r'\s*#\s*include\s+"(\w+)/', line)
            if m and m.group(1) in links and m.group(1) not in allowed:
                broken.append('%s:%d: %s includes a header of %s, above it' % (path.relative_to(root), n, lib,
                                                                            m.group(1)))
print('\n'.join(broken) or 'check-layers: %d libraries, every include goes downward' % len(links))
sys.exit(1 if broken else 0)
