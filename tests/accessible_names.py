#!/usr/bin/python3
"""What a screen reader hears from the program, read through the AT-SPI accessibility bus.

  accessible_names.py watch
      Prints "ready" once listening, then one line per accessible-name change of any program:
      "<role> <x> <y> <width> <height>|<new name>", in screen pixels.
  accessible_names.py expect <role> <x> <y> <width> <height> <name> <seconds>
      Waits until the object of that role and place reads <name>; fails with what it read last
      once the seconds are up.
"""
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
            visit(child)

    desktop = pyatspi.Registry.getDesktop(0)
    for application in desktop:
        if application is not None:
            # Names are read afresh each time, not from what an earlier look kept.
            application.clear_cache()
            visit(application)
    return found


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
    else:
        sys.exit(expect(*sys.argv[2:]))
