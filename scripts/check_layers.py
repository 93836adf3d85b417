#!/usr/bin/env python3
"""Checks that the source folders form layers: the graph of which folder
includes which (from the #include lines) has no cycle. Prints the graph;
exits 1 and names the cycle when there is one."""
import collections
import pathlib
import re
import subprocess
import sys

root = pathlib.Path(__file__).resolve().parent.parent
files = subprocess.check_output(['git', 'ls-files', '*.cpp', '*.h'], cwd=root, text=True).split()
uses = collections.defaultdict(set)
for name in files:
    folder = name.split('/')[0]
    if folder == 'tests' or '/' not in name:
        continue
    text = (root / name).read_text(encoding='utf-8')
    for included in re.findall(r'^#include "([^"/]+)/[^"]+"', text, re.M):
        if included != folder:
            uses[folder].add(included)

for folder in sorted(uses):
    print(f'{folder} -> {" ".join(sorted(uses[folder]))}')

state = {}
def visit(folder, path):
    state[folder] = 'open'
    for used in sorted(uses.get(folder, ())):
        if state.get(used) == 'open':
            cycle = path[path.index(used):] + [used]
            sys.exit('folders include each other: ' + ' -> '.join(cycle))
        if used not in state:
            visit(used, path + [used])
    state[folder] = 'done'

for folder in sorted(uses):
    if folder not in state:
        visit(folder, [folder])
print('the folders form layers')
