"""The account screens as a screen reader meets them on the desktop accessibility bus.

Runs the built app under tests/support/atspi-session: every control on the sign-in,
sign-up and password-reset screens has the role and name it should, the password
fields are announced as password fields by name, and what is typed into them never
comes back through the bus (their text is the mask or nothing).

    PYTHONPATH=tests/support tests/support/atspi-session /usr/bin/python3 \
        tests/account/atspi_account_screens.py build/app/nimbochat
"""
import sys
import tempfile

import atspi_tree as at  # tests/support, on PYTHONPATH

CONTROLS = {"push button", "link", "text", "password text", "check box", "page tab"}
SECRET = "hunter2-secret"
SCREENS = {
    "sign-in": [("text", "Email"), ("password text", "Password"), ("push button", "Sign In"),
                ("link", "Forgot password?"), ("link", "Sign up")],
    "sign-up": [("push button", "Back"), ("text", "Full name"), ("text", "Company name"), ("text", "Email"),
                ("password text", "Password"), ("password text", "Confirm password"),
                ("push button", "Sign Up"), ("push button", "Back to sign in")],
    "password reset": [("push button", "Back"), ("text", "Email"), ("push button", "Send reset link"),
                       ("push button", "Back to sign in")],
}
check = at.check


def controls(app):
    """The controls showing, in reading order, as (role, name); pages are landmarks, not controls."""
    return [(n.getRoleName(), n.name) for n in at.walk(app.root)
            if n.getRoleName() in CONTROLS - {"page tab"} and at.showing(n)]


def on_screen(app, screen):
    expected = SCREENS[screen]
    try:
        at.wait_for(lambda: controls(app) == expected, 15, screen)
    except TimeoutError:
        check(False, "%s: a screen reader meets %s, expected %s" % (screen, controls(app), expected))


def typed_password_stays_hidden(app, screen):
    for field in at.find(app.root, role="password text"):
        at.click(field)
        at.type_text(SECRET)
        text = at.text_of(field)
        check(text is not None and SECRET not in text and set(text) <= {"\u25cf", "\u2022", "*"},
              "%s: %s gives its text as %r" % (screen, at.describe(field), text))
        check(field.queryText().characterCount == len(text or ""),
              "%s: %s counts other characters than it gives" % (screen, at.describe(field)))
        check(SECRET not in field.description, "%s: the password reached the description" % screen)


def follow(app, name):
    at.click(at.wait_for(lambda: at.find(app.root, name=name), 10, name)[0])


def main():
    home = tempfile.mkdtemp()
    app = at.start_app([sys.argv[1]], "NimboChat",
                       env={"XDG_CONFIG_HOME": home + "/config", "XDG_DATA_HOME": home + "/data"})
    try:
        on_screen(app, "sign-in")
        typed_password_stays_hidden(app, "sign-in")
        follow(app, "Sign up")
        on_screen(app, "sign-up")
        typed_password_stays_hidden(app, "sign-up")
        follow(app, "Back to sign in")
        on_screen(app, "sign-in")
        follow(app, "Forgot password?")
        on_screen(app, "password reset")
    finally:
        app.stop()
    return at.verdict()


if __name__ == "__main__":
    sys.exit(main())
