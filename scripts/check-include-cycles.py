#!/usr/bin/env python3
"""Fails when the GUI-free files under src/ include each other in a cycle of folders.

A folder is a node; a GUI-free file in folder A that includes a header in
folder B is an edge A -> B. GUI files (named *_dialog.*, *_window.*, *_view.*,
or under src/app/ and src/app/ui/) sit on top of everything and are left out.
Prints every cycle found (as a path of folders with one include that makes
each edge) and exits 1; exits 0 when the folders form a one-way graph.
"""
import os
import re
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
GUI_NAME = re.compile(r"_(dialog|window|view)\.(h|cpp)$")


def is_gui(rel):
    folder = os.path.dirname(rel)
    return folder in ("app", "app/ui") or bool(GUI_NAME.search(os.path.basename(rel)))


def main():
    root = os.path.normpath(sys.argv[1]) if len(sys.argv) > 1 else os.path.normpath(ROOT)
    edges = {}  # folder -> {folder: example "file includes header"}
    for dirpath, _, names in os.walk(root):
        for name in names:
            if not name.endswith((".h", ".cpp")):
                continue
            rel = os.path.relpath(os.path.join(dirpath, name), root)
            if is_gui(rel):
                continue
            src = os.path.dirname(rel) or "."
            with open(os.path.join(dirpath, name), encoding="utf-8") as f:
                text = f.read()
            for inc in INCLUDE.findall(text):
                if not os.path.exists(os.path.join(root, inc)):
                    continue  # a system or third-party header
                dst = os.path.dirname(inc) or "."
                if dst != src:
                    edges.setdefault(src, {}).setdefault(dst, f"{rel} includes {inc}")

    # Tarjan's strongly connected components: every component of more than
    # one folder is a cycle.
    index, low, stack, on_stack, comps = {}, {}, [], set(), []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(v)
        for w in edges.get(v, {}):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            comp = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                comp.append(w)
                if w == v:
                    break
            if len(comp) > 1:
                comps.append(sorted(comp))

    sys.setrecursionlimit(10000)
    for v in sorted(set(edges) | {w for d in edges.values() for w in d}):
        if v not in index:
            visit(v)

    if not comps:
        print("no include cycle between folders")
        return 0
    for comp in comps:
        print("include cycle between folders: " + ", ".join(comp))
        members = set(comp)
        for v in comp:
            for w, why in sorted(edges.get(v, {}).items()):
                if w in members:
                    print(f"  {v} -> {w}: {why}")
    return 1


if __name__ == "__main__":
    sys.exit(main())
