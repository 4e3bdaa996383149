#!/usr/bin/env python3
"""Checks the engine's layering: a source file includes headers only from its own stage folder
or a stage below it, and no header reaches itself through its includes."""
import re
import sys
from pathlib import Path

STAGES = ["core", "snapshot", "compare", "xml", "patch", "apply"]
ENGINE = Path(__file__).resolve().parent.parent / "OstmereEngine"
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def stage_of(rel):
    top = rel.split("/")[0]
    return STAGES.index(top) if top in STAGES else None


def includes(path):
    return INCLUDE.findall(path.read_text(encoding="utf-8"))


def main():
    problems = []
    graph = {}
    for path in sorted(ENGINE.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        rel = path.relative_to(ENGINE).as_posix()
        own = stage_of(rel)
        graph[rel] = []
        for inc in includes(path):
            if (ENGINE / inc).exists():
                graph[rel].append(inc)
            elif not (ENGINE / "include" / inc).exists() and not inc.endswith("ostmere_version.h"):
                problems.append(f"{rel}: includes {inc}, which is not an engine header")
            theirs = stage_of(inc)
            if own is not None and theirs is not None and theirs > own:
                problems.append(f"{rel}: {STAGES[own]}/ reaches up to {inc}")

    state = {}

    def visit(node, trail):
        if state.get(node) == "done":
            return
        if state.get(node) == "open":
            problems.append("include cycle: " + " -> ".join(trail[trail.index(node):] + [node]))
            return
        state[node] = "open"
        for nxt in graph.get(node, []):
            visit(nxt, trail + [node])
        state[node] = "done"

    for node in graph:
        visit(node, [])
    for p in problems:
        print(p)
    print(f"{len(graph)} engine files checked, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
