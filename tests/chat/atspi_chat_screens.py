"""The chat screen and the Chats screen as a screen reader meets them on the desktop accessibility bus.

Starts the stand-in service on the app's own bases (127.0.0.1:8780 and :8781; skipped when
either is taken), signs in through the bus, sends a message with Markdown in it (the stand-in
quotes it back as a block quote), and reads what a screen reader reads: the bubbles, the code
block and its Copy button, the links, the navigation bar, the composer, the Chats screen; then kills the app with
SIGKILL, starts it again, and reopens and continues the kept chat from the Chats screen; last,
"Send again" under the notice of a send that failed because the service went away.

    PYTHONPATH=tests/support tests/support/atspi-session /usr/bin/python3 \
        tests/chat/atspi_chat_screens.py build/app/nimbochat build/service/nimbo-service
"""
import shutil
import socket
import subprocess
import sys
import tempfile
import urllib.request

import pyatspi
from gi.repository import Atspi

import atspi_tree as at  # tests/support, on PYTHONPATH

PORTS = (8780, 8781)
MESSAGE = ("Look at **this**:\n```python\nprint(1 < 2)\n```\n"
           "See [docs](https://docs.example/x) or [x](javascript:alert(1))")
MARKUP = ("**", "`", "](", "\n>", "javascript", "&lt;", "<b>", "<a ")
# Containers a screen reader passes through without reading them; everything else needs a name.
UNNAMED = {"layered pane", "tool bar", "scroll bar"}
check = at.check


def ports_free():
    """Whether nothing answers on either port (the service binds with SO_REUSEPORT, so a bind would not tell)."""
    for port in PORTS:
        with socket.socket() as probe:
            if probe.connect_ex(("127.0.0.1", port)) == 0:
                return False
    return True


def start_stand_in(service, data):
    instances = [subprocess.Popen([service, "--listen", "127.0.0.1:%d" % port, "--data", data, "--demo"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) for port in PORTS]
    direct = urllib.request.build_opener(urllib.request.ProxyHandler({}))  # loopback only, never a proxy
    try:
        for port in PORTS:
            at.wait_for(lambda: direct.open("http://127.0.0.1:%d/api/health" % port, timeout=1), 20,
                        "the stand-in on port %d" % port)
    except BaseException:
        stop(instances)
        raise
    return instances


def stop(instances):
    for instance in instances:
        instance.kill()
        instance.wait()


def shown(app, role=None, name=None):
    return at.find(app.root, role=role, name=name)


def one(app, role, name, timeout=15):
    return at.wait_for(lambda: shown(app, role, name), timeout, "%s '%s'" % (role, name))[0]


def all_named(app, screen):
    for node in at.walk(app.root):
        if at.showing(node) and not node.name and node.getRoleName() not in UNNAMED:
            check(False, "%s: a %s without a name" % (screen, node.getRoleName()))


def paste(field, text):
    """Puts `text` (several lines: the field takes no Return) on the clipboard and pastes it."""
    subprocess.run(["xclip", "-selection", "clipboard"], input=text.encode(), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    at.click(field)
    Atspi.generate_keyboard_event(4, None, Atspi.KeySynthType.LOCKMODIFIERS)  # Control
    pyatspi.Registry.generateKeyboardEvent(ord("v"), None, pyatspi.KEY_SYM)
    Atspi.generate_keyboard_event(4, None, Atspi.KeySynthType.UNLOCKMODIFIERS)
    at.wait_for(lambda: at.text_of(field) == text, 5, "the pasted message")


def sign_in(app):
    at.click(one(app, "text", "Email"))
    at.type_text("demo@nimbo.test")
    at.click(one(app, "password text", "Password"))
    at.type_text("demo-password-1")
    at.click(one(app, "push button", "Sign In"))


def formatted_reply(app):
    reply = at.wait_for(lambda: [n for n in shown(app, "panel") if n.name.startswith("Nimbo: You said:")], 15,
                        "the formatted reply")[0]
    reading = reply.name
    check(all(mark not in reading for mark in MARKUP) and "Look at this:" in reading and "1 < 2" in reading,
          "the reply reads %r" % reading)
    inside = [(n.getRoleName(), n.name) for n in at.walk(reply) if n is not reply]
    check(("push button", "Copy code") in inside and ("label", "python code: print(1 < 2)") in inside,
          "the code block reads %s" % inside)
    check([name for role, name in inside if role == "link"] == ["docs"], "the reply's links: %s" % inside)


def chat_screen(app):
    bar = [(n.getRoleName(), n.name) for n in at.walk(shown(app, "tool bar")[0]) if n.name and at.showing(n)]
    check(bar == [("push button", "Chats"), ("push button", "Text size"), ("push button", "Menu")],
          "the navigation bar reads %s" % bar)
    check(shown(app, "label", "You: " + MESSAGE), "no bubble reads 'You: ' and the message as typed")
    try:  # built a moment after its reply
        at.wait_for(lambda: len(shown(app, "push button", "Copy reply")) == 2, 5, "")
    except TimeoutError:
        check(False, "not one 'Copy reply' per reply")
    check(shown(app, "push button", "Send"), "no 'Send' button")
    all_named(app, "chat")


def chats_screen(app):
    at.click(one(app, "push button", "Chats"))
    new_chat = one(app, None, "New chat")
    check(new_chat.getRoleName() == "push button", "'New chat' is a %s" % new_chat.getRoleName())
    check(shown(app, "text", "Search chats"), "no text field 'Search chats'")
    check([n for n in shown(app, "list item") if n.name.startswith("Look at **this**:")],
          "no conversation row: %s" % [n.name for n in shown(app, "list item")])
    keep = [n for n in shown(app, name="Keep chats on this device") if n.getRoleName() != "label"]
    check(len(keep) == 1 and keep[0].getRoleName() in ("check box", "toggle button")
          and keep[0].getState().contains(pyatspi.STATE_CHECKED),
          "the keep switch reads %s" % [(at.describe(n), n.getState().getStates()) for n in keep])
    check(shown(app, "push button", "Delete all chats"), "no 'Delete all chats' button")
    all_named(app, "Chats")
    at.click(one(app, "push button", "Back"))


def reopened_and_continued(app):
    """After a SIGKILL and a new start: the chat is on the Chats screen and continues."""
    sign_in(app)
    at.click(one(app, "push button", "Chats", 20))
    at.click(at.wait_for(lambda: [n for n in shown(app, "list item") if n.name.startswith("Look at **this**:")],
                         15, "the kept chat")[0])
    check(shown(app, "label", "You: " + MESSAGE), "the reopened chat lacks the message")
    at.click(one(app, "text", "Message Nimbo\u2026"))
    at.type_text("again")
    at.click(one(app, "push button", "Send"))
    # The stand-in saw the greeting, the message and its reply as history, in the same conversation.
    at.wait_for(lambda: [n for n in shown(app, "panel") if "I saw 3 earlier turns" in n.name], 15,
                "the continued chat's reply")


def main():
    app_path, service = sys.argv[1:3]
    if not ports_free() or shutil.which("xclip") is None:
        print("skipped: port 8780 or 8781 is taken, or xclip is missing")
        return 77
    home = tempfile.mkdtemp()
    stand_in = start_stand_in(service, home + "/service")
    app = None
    try:
        def start():
            return at.start_app([app_path], "NimboChat",
                                env={"XDG_CONFIG_HOME": home + "/config", "XDG_DATA_HOME": home + "/data"})
        app = start()
        sign_in(app)
        field = one(app, "text", "Message Nimbo\u2026", 20)
        paste(field, MESSAGE)
        at.click(one(app, "push button", "Send"))
        formatted_reply(app)
        chat_screen(app)
        chats_screen(app)
        app.process.kill()  # SIGKILL, mid-session
        app.process.wait()
        app = start()
        reopened_and_continued(app)
        for instance in stand_in:
            instance.terminate()
            instance.wait()
        at.click(one(app, "text", "Message Nimbo\u2026"))
        at.type_text("hello")
        at.click(one(app, "push button", "Send"))
        one(app, "push button", "Send again")
    finally:
        if app:
            app.stop()
        stop(stand_in)
    return at.verdict()


if __name__ == "__main__":
    sys.exit(main())
