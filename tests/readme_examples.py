#!/usr/bin/env python3
"""Runs every example of the README's command-line section and compares its output.

The examples are the ```console blocks between "<!-- examples -->" and "<!-- /examples -->":
a line "$ command" is run by bash (in one shell, in a fresh scratch folder, with the built
ostmere first on PATH, stderr joined to stdout); the lines up to the next "$ " are its
expected output. Usage: readme_examples.py README BUILD_DIR [--print]
"""
import os
import re
import subprocess
import sys
import tempfile


def examples(readme):
    text = open(readme, encoding="utf-8").read()
    section = re.search(r"<!-- examples -->(.*?)<!-- /examples -->", text, re.S).group(1)
    steps = []
    for block in re.findall(r"```console\n(.*?)```", section, re.S):
        for line in block.splitlines():
            if line.startswith("$ "):
                steps.append([line[2:], []])
            else:
                steps[-1][1].append(line)
    return steps


def run(steps, build):
    marker = "@@ostmere-example@@"
    script = "".join(f"{command}\necho {marker}\n" for command, _ in steps)
    env = dict(os.environ, PATH=build + os.pathsep + os.environ["PATH"], TERM="dumb")
    env.pop("OSTMERE_QUIET", None)
    with tempfile.TemporaryDirectory() as scratch:
        done = subprocess.run(["bash", "-c", f"exec 2>&1\n{script}"], cwd=scratch, env=env,
                              capture_output=True, text=True, timeout=120)
        subprocess.run(["chmod", "-R", "u+w", scratch])
    outputs = done.stdout.split(marker + "\n")
    return [o.splitlines() for o in outputs[: len(steps)]]


def main():
    readme, build = sys.argv[1], os.path.abspath(sys.argv[2])
    steps = examples(readme)
    actual = run(steps, build)
    if "--print" in sys.argv:
        for (command, _), out in zip(steps, actual):
            print("$ " + command)
            print("\n".join(out))
        return 0
    failures = 0
    for (command, expected), out in zip(steps, actual):
        if out != expected:
            failures += 1
            print(f"README example differs: $ {command}\n--- README\n" + "\n".join(expected) +
                  "\n--- program\n" + "\n".join(out) + "\n")
    if len(actual) != len(steps):
        print("the examples stopped early")
        failures += 1
    print(f"{len(steps)} README examples run, {failures} differ")
    return 1 if failures else 0


sys.exit(main())
