#!/usr/bin/python3
"""What a screen reader hears from the program, read through the AT-SPI accessibility bus.

  accessible_names.py watch
      Prints "ready" once listening, then one line per accessible-name change of any program:
      "<role> <x> <y> <width> <height>|<new name>", in screen pixels.
  accessible_names.py expect <role> <x> <y> <width> <height> <name> <seconds>
      Waits until the object of that role and place reads <name>; fails with what it read last
      once the seconds are up.
  accessible_names.py follow <role> <x> <y> <width> <height> <name> <seconds>
      Prints "ready" once it has found the object of that role and place, then asks it for its
      name every 50 ms, as a screen reader following it does, until it has read <name> for two seconds; prints the
      longest time, in seconds, that one question waited for its answer, or fails once the seconds
      are up.
"""
import os
import sys
import time

import pyatspi


def place(accessible):
    box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return f"{accessible.getRoleName()} {box.x} {box.y} {box.width} {box.height}"


def watch():
    def announced(event):
        try:
            print(f"{place(event.source)}|{event.source.name}", flush=True)
        except Exception as error:  # the object may be gone by now
            print(f"gone|{error}", flush=True)

    pyatspi.Registry.registerEventListener(announced, "object:property-change:accessible-name")
    print("ready", flush=True)
    pyatspi.Registry.start()


def names_at(wanted):
    found = []

    def visit(accessible):
        for child in accessible:
            if child is None:
                continue
            if place(child) == wanted:
                found.append(child.name)
            if child.getRole() not in (pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE, pyatspi.ROLE_TREE_TABLE):
                visit(child)  # a table's cells are many and none is what is looked for

    desktop = pyatspi.Registry.getDesktop(0)
    for application in desktop:
        if application is not None:
            # Names are read afresh each time, not from what an earlier look kept.
            application.clear_cache()
            visit(application)
    return found


def find(wanted):
    def visit(accessible):
        for child in accessible:
            if child is None:
                continue
            if place(child) == wanted:
                return child
            if child.getRole() in (pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE, pyatspi.ROLE_TREE_TABLE):
                continue  # a table's cells are many and none is what is looked for
            found = visit(child)
            if found is not None:
                return found
        return None

    for application in pyatspi.Registry.getDesktop(0):
        if application is not None:
            found = visit(application)
            if found is not None:
                return found
    return None


def follow(role, x, y, width, height, name, seconds):
    wanted = f"{role} {x} {y} {width} {height}"
    target = find(wanted)
    if target is None:
        print(f"nothing reads as {wanted}", file=sys.stderr)
        return 1
    print("ready", flush=True)
    deadline = time.monotonic() + float(seconds)
    longest = 0.0
    matched = None
    while True:
        asked = time.monotonic()
        target.clear_cache()
        read = target.name
        longest = max(longest, time.monotonic() - asked)
        if read == name and matched is None:
            matched = time.monotonic()
        if matched is not None and time.monotonic() - matched > 2:
            print(f"{longest:.3f}", flush=True)
            return 0
        if time.monotonic() > deadline:
            print(f"the {wanted} reads {read!r}, not {name!r}; longest answer {longest:.3f} s", file=sys.stderr)
            return 1
        time.sleep(0.05)


def expect(role, x, y, width, height, name, seconds):
    wanted = f"{role} {x} {y} {width} {height}"
    deadline = time.monotonic() + float(seconds)
    while True:
        found = names_at(wanted)
        if found == [name]:
            return 0
        if time.monotonic() > deadline:
            print(f"the {wanted} reads {found}, not [{name!r}]", file=sys.stderr)
            return 1
        time.sleep(0.1)


if __name__ == "__main__":
    if sys.argv[1:2] == ["watch"]:
        watch()
    elif sys.argv[1:2] == ["follow"]:
        sys.exit(follow(*sys.argv[2:]))
    else:
        sys.exit(expect(*sys.argv[2:]))
