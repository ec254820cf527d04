#!/usr/bin/env python3
"""Checks the include graph of the product sources against the libraries CMake declares.

Usage: include_layers.py SOURCE_DIR LAYERS_FILE

LAYERS_FILE is written by CMake: one library a line, "name|folder,folder|dep,dep" (an interface
library has no folder and stands for the libraries it names). Fails (exit 1), naming each fault,
when
  - a file includes a header of another library that its own library does not declare,
  - a header and its source (one unit) take part in an include cycle with other units,
  - the libraries' folders include one another in a cycle.
"""
import collections
import os
import re
import sys

PRODUCT_FOLDERS = ('platform', 'storage', 'engines', 'scanlog', 'cli', 'app')
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def read_layers(path):
    folders, deps = {}, {}
    with open(path, encoding='utf-8') as f:
        for line in f:
            line = line.strip()
            if not line:
                continue
            name, dirs, uses = (line.split('|') + ['', ''])[:3]
            folders[name] = [d for d in dirs.split(',') if d]
            deps[name] = [d for d in uses.split(',') if d]
    return folders, deps


def allowed_libraries(name, folders, deps):
    """The library itself, what it declares, and what the interface libraries it declares
    stand for."""
    allowed, todo = {name}, list(deps.get(name, []))
    while todo:
        dep = todo.pop()
        if dep in allowed or dep not in deps:
            continue
        allowed.add(dep)
        if not folders[dep]:
            todo.extend(deps[dep])
    return allowed


def include_edges(top):
    edges = collections.defaultdict(set)
    for root in PRODUCT_FOLDERS:
        for folder, _, files in os.walk(os.path.join(top, root)):
            for name in files:
                if not name.endswith(('.h', '.cpp')):
                    continue
                path = os.path.relpath(os.path.join(folder, name), top)
                with open(os.path.join(top, path), encoding='utf-8', errors='replace') as f:
                    for target in INCLUDE.findall(f.read()):
                        if os.path.exists(os.path.join(top, target)):
                            edges[path].add(target)
    return edges


def cycles(nodes, adjacent):
    """Strongly connected components of more than one node (iterative Tarjan)."""
    index, low, on_stack, stack, found = {}, {}, set(), [], []
    counter = 0
    for start in nodes:
        if start in index:
            continue
        work = [(start, iter(sorted(adjacent.get(start, ()))))]
        index[start] = low[start] = counter
        counter += 1
        stack.append(start)
        on_stack.add(start)
        while work:
            node, children = work[-1]
            advanced = False
            for child in children:
                if child not in index:
                    index[child] = low[child] = counter
                    counter += 1
                    stack.append(child)
                    on_stack.add(child)
                    work.append((child, iter(sorted(adjacent.get(child, ())))))
                    advanced = True
                    break
                if child in on_stack:
                    low[node] = min(low[node], index[child])
            if advanced:
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[node])
            if low[node] == index[node]:
                component = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    component.append(member)
                    if member == node:
                        break
                if len(component) > 1:
                    found.append(sorted(component))
    return found


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    top, layers_file = argv[1], argv[2]
    folders, deps = read_layers(layers_file)
    owner = {folder: name for name, dirs in folders.items() for folder in dirs}
    edges = include_edges(top)
    faults = []

    for source, targets in sorted(edges.items()):
        mine = owner.get(os.path.dirname(source))
        if mine is None:
            continue
        allowed = allowed_libraries(mine, folders, deps)
        for target in sorted(targets):
            theirs = owner.get(os.path.dirname(target))
            if theirs is not None and theirs not in allowed:
                faults.append(f'{source} includes {target}: {mine} does not declare {theirs}')

    def unit(path):
        return os.path.splitext(path)[0]

    units = collections.defaultdict(set)
    for source, targets in edges.items():
        for target in targets:
            if unit(source) != unit(target):
                units[unit(source)].add(unit(target))
    all_units = sorted({unit(p) for p in edges} | {unit(t) for ts in edges.values() for t in ts})
    for cycle in cycles(all_units, units):
        faults.append('files that include one another: ' + ', '.join(cycle))

    folder_edges = collections.defaultdict(set)
    for source, targets in units.items():
        for target in targets:
            if os.path.dirname(source) != os.path.dirname(target):
                folder_edges[os.path.dirname(source)].add(os.path.dirname(target))
    for cycle in cycles(sorted(folder_edges), folder_edges):
        faults.append('folders that include one another: ' + ', '.join(cycle))

    for fault in faults:
        print(fault)
    print(f'{len(edges)} files checked against {len(folders)} libraries: '
          f'{len(faults)} fault(s)')
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
