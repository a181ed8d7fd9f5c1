#!/usr/bin/env python3
"""Checks that includes point only downward through the layers and that no
files include each other in a circle.

Layers, lowest first: util, core, sound, windows, app, tools. A file's layer
is the library its folder's sources.cmake builds it into (narrabel_core: util
for src/util, core elsewhere; narrabel_sound: sound; narrabel_gui: windows);
everything in src/app is app and everything in tools/ is tools. A .cpp and
the .h of the same name count as one unit for the circles.

    layering_check.py SOURCE_DIR [--report]

Exits 1 on a violation; --report also prints the figures of the structure.
"""

import re
import sys
from pathlib import Path

LAYERS = ["util", "core", "sound", "windows", "app", "tools"]
LIBRARY_LAYER = {
    "narrabel_core": "core",
    "narrabel_sound": "sound",
    "narrabel_mpris": "app",
    "narrabel_gui": "windows",
}
# Libraries that do not link QtWidgets.
WIDGET_FREE = {"narrabel_core", "narrabel_sound", "narrabel_mpris"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
SOURCES = re.compile(r"target_sources\(\s*(\w+)\s+PRIVATE(.*?)\)", re.S)


def layer_map(root):
    layers, targets = {}, {}
    for cmake in sorted((root / "src").rglob("sources.cmake")):
        for target, files in SOURCES.findall(cmake.read_text()):
            for f in files.split():
                if f.startswith("#"):
                    continue
                layer = LIBRARY_LAYER.get(target)
                if layer == "core" and f.startswith("src/util/"):
                    layer = "util"
                layers[f] = layer
                targets[f] = target
    return layers, targets


def layer_of(path, layers):
    if path.startswith("src/app/"):
        return "app"
    if path.startswith("tools/"):
        return "tools"
    return layers.get(path)


def unit_of(path):
    return path[: path.rfind(".")] if path.endswith((".cpp", ".h")) else path


def strongly_connected(graph):
    index, low, stack, on, out = {}, {}, [], set(), []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on.add(v)
        for w in graph.get(v, ()):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            comp = []
            while True:
                w = stack.pop()
                on.discard(w)
                comp.append(w)
                if w == v:
                    break
            out.append(comp)

    sys.setrecursionlimit(10000)
    for v in sorted(graph):
        if v not in index:
            visit(v)
    return out


def lines_of(path):
    return sum(1 for line in path.read_text(errors="replace").splitlines() if line.strip())


def main():
    root = Path(sys.argv[1]).resolve()
    report = "--report" in sys.argv[2:]
    layers, targets = layer_map(root)
    files = sorted(
        str(p.relative_to(root))
        for d in ("src", "tools")
        for p in (root / d).rglob("*")
        if p.suffix in (".cpp", ".h")
    )
    problems = []
    graph = {}
    for f in files:
        layer = layer_of(f, layers)
        if layer is None:
            problems.append(f"{f}: in no library's sources.cmake, so in no layer")
            continue
        for inc in INCLUDE.findall((root / f).read_text(errors="replace")):
            target = "src/" + inc
            if not (root / target).exists():
                continue  # a header of the tests or of another program
            to = layer_of(target, layers)
            if to is None:
                continue  # reported once for that file
            if LAYERS.index(to) > LAYERS.index(layer):
                problems.append(f"{f} ({layer}) includes {target} ({to}): an arrow up")
            if unit_of(f) != unit_of(target):
                graph.setdefault(unit_of(f), set()).add(unit_of(target))
    circles = [sorted(c) for c in strongly_connected(graph) if len(c) > 1]
    for c in circles:
        problems.append(f"include circle of {len(c)} files: " + " <-> ".join(c))

    if report:
        src_files = [f for f in files if f.startswith("src/")]
        total = sum(lines_of(root / f) for f in src_files)
        quiet = sum(lines_of(root / f) for f in src_files if targets.get(f) in WIDGET_FREE)
        by_layer = {}
        for f in src_files:
            by_layer[layer_of(f, layers)] = by_layer.get(layer_of(f, layers), 0) + lines_of(root / f)
        print("non-blank source lines by layer: " +
              ", ".join(f"{l} {by_layer.get(l, 0)}" for l in LAYERS if l != "tools"))
        print(f"compiled without QtWidgets: {quiet} of {total} lines ({100 * quiet / total:.0f} %)")
        print(f"include circles: {len(circles)}")
    for p in problems:
        print(p)
    if problems:
        print(f"{len(problems)} layering problem(s)")
        return 1
    print("includes point only downward; no include circles")
    return 0


if __name__ == "__main__":
    sys.exit(main())
