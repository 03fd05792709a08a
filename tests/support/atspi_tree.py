"""Reading an application's accessibility tree over AT-SPI, as a screen reader does.

Run under tests/support/atspi-session, which provides the X server and the buses:

    import atspi_tree
    app = atspi_tree.start_app(["build/app/nimbochat"], "NimboChat")
    field = atspi_tree.wait_for(lambda: atspi_tree.find(app.root, role="password text"))[0]
    atspi_tree.click(field); atspi_tree.type_text("secret")
    print(atspi_tree.describe(field), atspi_tree.text_of(field))
"""
import os
import subprocess
import time

import pyatspi
from gi.repository import GLib


def pump():
    """Handles the bus messages that have come in: the library learns of new applications and
    changed trees only from signals, which wait in the main context until someone dispatches them."""
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)


def wait_for(condition, timeout=20.0, what="condition"):
    """Polls `condition` until it returns something truthy, and returns that."""
    deadline = time.monotonic() + timeout
    while True:
        pump()
        try:
            value = condition()
        except Exception:  # a node that went away while being read
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            raise TimeoutError("timed out waiting for " + what)
        time.sleep(0.1)


class App:
    """A started program and its application node on the accessibility bus."""

    def __init__(self, process, root):
        self.process, self.root = process, root

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def application(name):
    desktop = pyatspi.Registry.getDesktop(0)
    return next((a for a in desktop if a is not None and a.name == name), None)


def start_app(argv, name, env=None, timeout=30.0):
    """Starts `argv` and waits until an application called `name` with a window is on the bus."""
    process = subprocess.Popen(argv, env=dict(os.environ, **(env or {})))

    def on_bus():
        if process.poll() is not None:
            raise SystemExit("%s exited with status %d before it showed on the bus" % (argv[0], process.returncode))
        found = application(name)
        return found if found is not None and found.childCount > 0 else None
    try:
        root = wait_for(on_bus, timeout, "application " + name)
    except BaseException:
        process.kill()
        process.wait()
        raise
    return App(process, root)


def walk(node):
    """The node and everything below it, depth first (nodes that vanish are skipped)."""
    stack = [node]
    while stack:
        current = stack.pop()
        if current is None:
            continue
        yield current
        try:
            stack.extend(reversed([current.getChildAtIndex(i) for i in range(current.childCount)]))
        except Exception:
            continue


def showing(node):
    return node.getState().contains(pyatspi.STATE_SHOWING)


def find(root, role=None, name=None, shown=True):
    """Nodes below `root` with this role name (e.g. "push button") and name."""
    return [n for n in walk(root)
            if (role is None or n.getRoleName() == role) and (name is None or n.name == name)
            and (not shown or showing(n))]


def describe(node):
    return "%s '%s'" % (node.getRoleName(), node.name)


def text_of(node):
    """What the node's text interface gives, or None when it has none."""
    try:
        text = node.queryText()
    except NotImplementedError:
        return None
    return text.getText(0, -1)


def centre(node):
    box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x + box.width // 2, box.y + box.height // 2


def click(node):
    """A left click in the middle of the node, through the X server."""
    x, y = centre(node)
    pyatspi.Registry.generateMouseEvent(x, y, pyatspi.MOUSE_B1C)
    time.sleep(0.3)


def type_text(text):
    """Types `text` key by key (letters, digits and punctuation that need no shift)."""
    for ch in text:
        pyatspi.Registry.generateKeyboardEvent(ord(ch), None, pyatspi.KEY_SYM)
        time.sleep(0.05)
    time.sleep(0.3)


KEYS = {"Tab": 0xff09, "Return": 0xff0d, "space": 0x20, "BackSpace": 0xff08, "Escape": 0xff1b}


def press(key):
    """Presses one named key of KEYS, e.g. "Tab" or "Return"."""
    pyatspi.Registry.generateKeyboardEvent(KEYS[key], None, pyatspi.KEY_SYM)
    time.sleep(0.3)


failures = []


def check(condition, message):
    """Notes a failed check and goes on, so that one run lists every fault."""
    if not condition:
        failures.append(message)


def verdict():
    """Prints the failed checks; the exit status for the test (1 when any failed)."""
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0
