#!/usr/bin/env python3
"""Checks the layering of the sources (docs/ARCHITECTURE.md).

Over the #include lines of rt/, gfx/ and app/:
  - a directory includes only the directories its layer may use (LAYERS);
  - no two modules depend on each other in a circle. A module is a header
    with its source file; a source file without a header of its own belongs
    to the module of the first header it includes (its own comes first).

With a build directory it checks the calls as well: every symbol an object
file of a layer uses from the runtime library must be defined by that
layer or one below it.

  tools/check_layers.py [BUILD_DIR]
"""
import os
import re
import subprocess
import sys

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

# Directory -> the directories it may include besides itself.
LAYERS = {
    "rt": [],
    "gfx/core": ["rt"],
    "gfx/draw": ["gfx/core", "gfx/text", "rt"],
    "gfx/input": ["gfx/core", "rt"],
    "gfx/image": ["gfx/core", "rt"],
    "gfx/text": ["gfx/core", "rt"],
    "gfx/drivers": ["gfx/core", "gfx/input", "rt"],
    "gfx/open": ["gfx/core", "gfx/draw", "gfx/input", "gfx/text", "gfx/drivers", "rt"],
    "app": ["gfx/core", "gfx/draw", "gfx/image", "gfx/input", "gfx/text", "rt"],
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def sources():
    for top in ("rt", "gfx", "app"):
        for d, _, files in os.walk(os.path.join(ROOT, top)):
            for f in sorted(files):
                if f.endswith((".h", ".cpp")):
                    yield os.path.relpath(os.path.join(d, f), ROOT)


def includes(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        return INCLUDE.findall(f.read())


def layer_of(path):
    d = os.path.dirname(path)
    return d if d in LAYERS else None


def modules(files, incs):
    """File -> module name (its header's path without the extension)."""
    headers = {f for f in files if f.endswith(".h")}
    mod = {}
    for f in files:
        stem = os.path.splitext(f)[0]
        if f.endswith(".h") or stem + ".h" in headers:
            mod[f] = stem
        else:
            own = [i for i in incs[f] if i in headers and os.path.dirname(i) == os.path.dirname(f)]
            mod[f] = os.path.splitext(own[0])[0] if own else stem
    return mod


def cycles(graph):
    """The strongly connected components with more than one node (Tarjan)."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(v)
        for w in sorted(graph.get(v, ())):
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
                found.append(sorted(comp))

    sys.setrecursionlimit(10000)
    for v in sorted(graph):
        if v not in index:
            visit(v)
    return found


def check_includes():
    files = list(sources())
    incs = {f: includes(f) for f in files}
    errors = []
    for f in files:
        layer = layer_of(f)
        if layer is None:
            errors.append(f"{f}: directory has no layer in tools/check_layers.py")
            continue
        for i in incs[f]:
            target = os.path.dirname(i)
            if target in LAYERS and target != layer and target not in LAYERS[layer]:
                errors.append(f"{f}: includes {i} ({layer} may not use {target})")
    mod = modules(files, incs)
    graph = {}
    for f in files:
        for i in incs[f]:
            if i in mod and mod[i] != mod[f]:
                graph.setdefault(mod[f], set()).add(mod[i])
    for comp in cycles(graph):
        errors.append("modules in a circle: " + ", ".join(comp))
    return errors


def symbols(obj):
    out = subprocess.run(["nm", "--defined-only", "-g", "-P", obj], capture_output=True, text=True, check=True)
    defined = {line.split()[0] for line in out.stdout.splitlines() if line.strip()}
    out = subprocess.run(["nm", "--undefined-only", "-g", "-P", obj], capture_output=True, text=True, check=True)
    used = {line.split()[0] for line in out.stdout.splitlines() if line.strip()}
    return defined, used


def check_calls(build):
    objdir = os.path.join(build, "CMakeFiles", "rkgfx_objects.dir")
    if not os.path.isdir(objdir):
        return [f"{build}: no object files of rkgfx_objects (build it first)"]
    objs = {}
    for d, _, files in os.walk(objdir):
        for f in files:
            if f.endswith(".o"):
                src = os.path.relpath(os.path.join(d, f[:-2]), objdir)
                objs[src] = symbols(os.path.join(d, f))
    owner = {}
    for src, (defined, _) in objs.items():
        for s in defined:
            owner[s] = src
    errors = []
    for src, (_, used) in sorted(objs.items()):
        layer = layer_of(src)
        if layer is None:
            continue
        allowed = {layer, *LAYERS[layer]}
        for s in sorted(used):
            if s in owner and layer_of(owner[s]) not in allowed:
                errors.append(f"{src}: uses {s} of {owner[s]}")
    return errors


def main():
    errors = check_includes()
    if len(sys.argv) > 1:
        errors += check_calls(sys.argv[1])
    for e in errors:
        print(e, file=sys.stderr)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
