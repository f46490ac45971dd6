#!/usr/bin/env python3
"""Checks that every include in the tree follows the floors.

The map of components and the components each may use is the one CMake
writes from the qn_component() declarations (build/components.txt). A file
belongs to the component of its folder: src/<c>/..., include/qn/<c>/... and
include/qn/<c>.h; include/qn/value.h and the generated export.h are core's.

A file may include:
  - headers of its own component, and public or internal headers of the
    components its component declares;
  - from a public header: public headers only;
  - from tools/, bench/, fuzz/ and examples/: public headers only (and files
    of its own folder).
The declared map itself must be free of circles. Standard and third-party
headers are not the check's business. Tests are white-box and exempt.

Exit status 0 when everything holds, 1 with one line per fault otherwise.
"""

import argparse
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
SOURCE_SUFFIXES = (".h", ".hh", ".hpp", ".cc", ".cpp", ".cxx", ".inc")
TOP_FOLDERS = ("tools", "bench", "fuzz", "examples")
CORE_PUBLIC = {"value.h", "export.h"}


def read_map(path):
    uses = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            name, _, rest = line.partition(":")
            uses[name.strip()] = rest.split()
    return uses


def find_circle(uses):
    """A list of components forming a circle, or None."""
    state = {}

    def visit(node, trail):
        state[node] = "open"
        for dep in uses.get(node, []):
            if state.get(dep) == "open":
                return trail[trail.index(dep):] + [dep] if dep in trail else [node, dep]
            if dep not in state:
                found = visit(dep, trail + [dep])
                if found:
                    return found
        state[node] = "done"
        return None

    for node in uses:
        if node not in state:
            found = visit(node, [node])
            if found:
                return found
    return None


def public_component(target):
    """The component of a <qn/...> include, or None when it is not the library's."""
    if not target.startswith("qn/"):
        return None
    rest = target[3:]
    if rest in CORE_PUBLIC:
        return "core"
    if "/" in rest:
        return rest.split("/", 1)[0]
    return rest[:-2] if rest.endswith(".h") else rest


def owner(relpath):
    """(kind, component) of a file: kind is 'src', 'public', 'top' or None."""
    parts = relpath.split("/")
    if parts[0] == "src" and len(parts) >= 3:
        return "src", parts[1]
    if parts[0] == "include" and len(parts) >= 3 and parts[1] == "qn":
        if len(parts) == 3:
            return "public", public_component("qn/" + parts[2])
        return "public", parts[2]
    if parts[0] in TOP_FOLDERS:
        return "top", parts[0]
    return None, None


def check(root, uses):
    faults = []
    circle = find_circle(uses)
    if circle:
        faults.append("the component map has a circle: " + " -> ".join(circle))
    components = set(uses)
    for top in ("src", "include") + TOP_FOLDERS:
        for folder, _, files in os.walk(os.path.join(root, top)):
            for name in sorted(files):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(folder, name)
                rel = os.path.relpath(path, root).replace(os.sep, "/")
                faults += check_file(root, rel, path, uses, components)
    return faults


def check_file(root, rel, path, uses, components):
    kind, comp = owner(rel)
    if kind is None:
        return []
    if kind in ("src", "public") and comp not in components:
        return [f"{rel}: belongs to '{comp}', which no qn_component() declares"]
    faults = []
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            quote, target = m.groups()
            where = f"{rel}:{number}: #include {quote}{target}{'>' if quote == '<' else quote}"
            if quote == "<":
                used = public_component(target)
                if used is None:
                    continue  # standard or third-party
                internal = False
            else:
                first = target.split("/", 1)[0]
                local = os.path.exists(os.path.join(os.path.dirname(path), target))
                if "/" not in target or first not in components or local and kind == "top":
                    if local:
                        continue  # a file of the same folder
                    faults.append(f"{where}: not a file of this folder or a component")
                    continue
                used, internal = first, True
            if used not in components:
                faults.append(f"{where}: no component '{used}' is declared")
            elif kind == "top":
                if internal:
                    faults.append(f"{where}: {comp}/ may include public headers only")
            elif kind == "public" and internal:
                faults.append(f"{where}: a public header may not include an internal one")
            elif used != comp and used not in uses[comp]:
                faults.append(f"{where}: '{comp}' does not declare '{used}' "
                              f"(it uses: {' '.join(uses[comp]) or 'nothing'})")
    return faults


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True, help="the source tree")
    parser.add_argument("--map", required=True, help="the component map CMake wrote")
    args = parser.parse_args()
    faults = check(args.root, read_map(args.map))
    for fault in faults:
        print(fault)
    if faults:
        print(f"floors: {len(faults)} include(s) break the floors")
        return 1
    print("floors: every include follows the component map")
    return 0


if __name__ == "__main__":
    sys.exit(main())
