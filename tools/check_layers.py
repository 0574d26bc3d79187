#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer above its own.

The layers, lowest first; a layer may include its own headers and those of layers below it.
The portable application code in src/app/ reaches the Linux side only through interfaces, so
it may not include src/app/linux/ either.
"""
import os
import re
import sys

LAYERS = [
    "text", "base", "xml", "xmpp", "p2p/base", "p2p/client", "relayd", "session", "voice", "session/phone", "platform", "app", "ui",
    "main",
]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(path):
    """The rank of the layer a path under src/ (or an include path) belongs to, or None."""
    best = None
    for rank, prefix in enumerate(LAYERS):
        if path == prefix or path.startswith(prefix + "/"):
            if best is None or len(prefix) > len(LAYERS[best]):
                best = rank
    return best


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
    problems = []
    for folder, _, files in os.walk(root):
        for name in files:
            if not name.endswith((".h", ".cc")):
                continue
            path = os.path.relpath(os.path.join(folder, name), root)
            own = layer_of(path)
            if own is None:
                continue
            with open(os.path.join(folder, name), encoding="utf-8") as source:
                text = source.read()
            for included in INCLUDE.findall(text):
                other = layer_of(included)
                if other is not None and other > own:
                    problems.append(f"src/{path}: includes {included} from a higher layer")
                elif (path.startswith("app/") and not path.startswith("app/linux/")
                      and included.startswith("app/linux/")):
                    problems.append(f"src/{path}: portable code includes {included}")
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} include(s) break the layer order: {' < '.join(LAYERS)}")
        return 1
    print("layer order holds")
    return 0


if __name__ == "__main__":
    sys.exit(main())
