#!/usr/bin/env python3
"""Checks that every project include names its header from the tree's root.

    scripts/check_includes.py [SOURCE_DIR [BUILD_DIR]]

A quoted include must name one file: from the source root, from the build root (generated
headers), or from one of the folders that stand for system and SDK headers. A name found only
beside the including file is a bare name; one that means a file beside it and another from a
root, or files under two roots, is ambiguous."""
import os
import pathlib
import re
import subprocess
import sys

source = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else '.').resolve()
build = pathlib.Path(sys.argv[2]).resolve() if len(sys.argv) > 2 else None

# The layer's Windows names, the engine's SDK, cpr's interface and the stand-in engine's own.
SYSTEM_ROOTS = ['platform/include', 'engine/include', 'http/include', 'platform/engine/include']

files = subprocess.run(['git', 'ls-files', '--cached', '--others', '--exclude-standard'],
                       cwd=source, capture_output=True, text=True, check=True).stdout.split()
include = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)

problems = []
count = 0
for name in sorted(set(files)):
    if not re.search(r'\.(cpp|h|hpp|in)$', name) or not (source / name).is_file():
        continue
    here = (source / name).parent
    for target in include.findall((source / name).read_text(errors='replace')):
        count += 1
        means = [root / target for root in [source] + [source / r for r in SYSTEM_ROOTS]
                 if (root / target).is_file()]
        if build is not None and (build / target).is_file():
            means.append(build / target)
        beside = here / target
        if means and beside.is_file() and beside.resolve() != means[0].resolve():
            means.append(beside)
        if len(means) != 1:
            if not means:
                problems.append(f'{name}: "{target}" names no header from the root')
                continue
            found = ', '.join(os.path.relpath(m, source) for m in means)
            problems.append(f'{name}: "{target}" is ambiguous: {found}')

for problem in problems:
    print(problem)
if problems:
    print(f'{len(problems)} of {count} includes do not name one header from the root')
    sys.exit(1)
print(f'{count} includes each name one header from the root')
