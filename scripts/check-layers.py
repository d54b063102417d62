#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer it may not depend on.

Every include of a project header ("folder/file.h") is checked against the
table below; system headers (<...>) are not. Prints each offending file and
include, and exits 1 when there is any.
"""

import pathlib
import re
import sys

# Which folders each folder may include, besides its own. `fe.h`, the seam to
# the user interface, may be included from everywhere.
#
# base and config are the bottom: they include nothing from above. The upper
# core layers call each other where the protocol needs it (the parser hands
# lines to the inbound handlers, which answer through the commands and the
# server's senders, and every layer prints through output/). The front ends
# sit on top: they may include the whole core, the core never includes them.
CORE_UPPER = ["base", "config", "net", "irc", "commands", "output", "servlist",
              "session", "dcc", "plugins", "lists"]
ALLOWED = {
    "base": [],
    "config": ["base"],
    "net": ["base", "config", "irc", "commands", "output", "servlist", "session", "lists"],
    "irc": CORE_UPPER,
    "commands": CORE_UPPER,
    "output": ["base", "config", "net", "irc", "plugins", "session"],
    "servlist": ["base", "config", "net", "output", "session"],
    "session": CORE_UPPER,
    "dcc": CORE_UPPER,
    "plugins": CORE_UPPER,
    "lists": ["base", "config", "net", "irc", "output", "session"],
    "fe-common": CORE_UPPER,
    "fe-gtk": CORE_UPPER + ["fe-common"],
    "fe-text": CORE_UPPER + ["fe-common"],
}

# Folders of the GTK front end with a rule of their own: which of its other
# folders each may include (the core and fe-common always). The input line
# sits under the windows: the editor in dialogs/ and the window in mainwin/
# call into it, never the other way round except through mainwin's header.
# The widget helpers use no other folder; the icons and images only the
# helpers and the palette.
FE_GTK_ALLOWED = {
    "input": ["mainwin", "switcher", "textview", "support", "theme"],
    "support": [],
    "resources": ["support", "theme"],
}

# Where each folder lives; a header is named by its path from its include root.
ROOTS = {name: f"src/common/{name}" for name in CORE_UPPER}
ROOTS.update({name: f"src/{name}" for name in ("fe-common", "fe-gtk", "fe-text")})

SEAM = {"fe.h"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def folder_of_header(include: str):
    """The layer a quoted include names, or None when it is no core header."""
    if include in SEAM:
        return None
    first = include.split("/", 1)[0]
    if "/" in include and first in ROOTS:
        return first
    return None


def check(repo: pathlib.Path) -> int:
    faults = 0
    for layer, root in ROOTS.items():
        base = repo / root
        if not base.is_dir():
            continue
        for path in sorted(base.rglob("*")):
            if path.suffix not in (".h", ".hpp", ".cpp", ".c"):
                continue
            # A front end's own sub-folders are not core layers.
            text = path.read_text(encoding="utf-8", errors="replace")
            for number, line in enumerate(text.splitlines(), 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                target = folder_of_header(m.group(1))
                if target is None or target == layer:
                    continue
                if target not in ALLOWED[layer]:
                    rel = path.relative_to(repo)
                    print(f"{rel}:{number}: {layer}/ may not include {m.group(1)} ({target}/)")
                    faults += 1
    for folder, allowed in FE_GTK_ALLOWED.items():
        base = repo / "src/fe-gtk" / folder
        for path in sorted(base.rglob("*")) if base.is_dir() else []:
            if path.suffix not in (".h", ".cpp"):
                continue
            for number, line in enumerate(path.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
                m = INCLUDE.match(line)
                if not m or "/" not in m.group(1):
                    continue
                first = m.group(1).split("/", 1)[0]
                if first in ROOTS or first == folder or first in allowed:
                    continue
                if (repo / "src/fe-gtk" / first).is_dir():
                    print(f"{path.relative_to(repo)}:{number}: fe-gtk/{folder}/ may not include {m.group(1)}")
                    faults += 1
    # The core never includes a front end, whatever the folder.
    for path in sorted((repo / "src/common").rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        for number, line in enumerate(path.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
            m = INCLUDE.match(line)
            if m and m.group(1).split("/", 1)[0] in ("fe-common", "fe-gtk", "fe-text"):
                print(f"{path.relative_to(repo)}:{number}: the core may not include {m.group(1)}")
                faults += 1
    return faults


def main() -> int:
    repo = pathlib.Path(__file__).resolve().parent.parent
    missing = [name for name in ROOTS if name not in ALLOWED]
    if missing:
        print("check-layers: no row for " + ", ".join(missing))
        return 1
    faults = check(repo)
    if faults:
        print(f"check-layers: {faults} include(s) against the layer order")
        return 1
    print("check-layers: every include follows the layer order")
    return 0


if __name__ == "__main__":
    sys.exit(main())
