#!/usr/bin/python3
"""Chat windows in a real display against a private Prosody on 127.0.0.1, with our console
client as the other side, driven through the accessibility bus as a user would.

Checks: a message from buddy opens a chat window that shows it in the themed view (an
incoming block, then a continuation); the header shows buddy's name, presence and status;
buddy's typing states show under the conversation; hostile text from buddy stays text; our
typing state reaches buddy; text typed in the window with a Shift+Enter line break is sent
with Enter as one message and shows as an outgoing block; buddy going away is a system line.
The page is read as the view's DOM through the window's View Source command (WebKit's own
JavaScript evaluation of the live page, written to a file). A screenshot of the conversation
goes to ARTEFACT_DIR.

Usage: desktop_chat_test.py VEXALO_BINARY ARTEFACT_DIR   (77: no display server could start)
"""
import os
import glob
import re
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop_peers_test import (ROOT, Accessible, Console, free_port, print_logs,  # noqa: E402
                                profile_env, start_bus, start_display, stop_all, wait_for)


def conversation_screenshot(display, path):
    """The chat window: without a window manager it sits at the top left, over the main one."""
    script = ("import gi; gi.require_version('Gdk', '3.0'); from gi.repository import Gdk; "
              "w = Gdk.get_default_root_window(); "
              "p = Gdk.pixbuf_get_from_window(w, 0, 0, min(520, w.get_width()), "
              "min(560, w.get_height())); p.savev(%r, 'png', [], [])" % path)
    subprocess.run(["/usr/bin/python3", "-c", script], env=dict(os.environ, DISPLAY=display),
                   check=False, timeout=20)


def focus_window(display, title):
    """Gives the X keyboard focus to the window with that title: without a window manager a
    click does not move it, and GTK 4.8 takes no focus request over the accessibility bus."""
    tree = subprocess.run(["xwininfo", "-root", "-tree", "-display", display],
                          capture_output=True, text=True, timeout=10).stdout
    match = re.search(r'(0x[0-9a-f]+) "%s"' % re.escape(title), tree)
    assert match, tree
    script = ("import gi; gi.require_version('Gdk', '3.0'); gi.require_version('GdkX11', '3.0'); "
              "from gi.repository import Gdk, GdkX11; d = Gdk.Display.get_default(); "
              "w = GdkX11.X11Window.foreign_new_for_display(d, %d); w.focus(0); d.flush()"
              % int(match.group(1), 16))
    subprocess.run(["/usr/bin/python3", "-c", script], env=dict(os.environ, DISPLAY=display),
                   check=True, timeout=20)


def write_flags(env):
    """The view-source feature flag, in the settings file the program reads at start."""
    folder = os.path.join(env["XDG_CONFIG_HOME"], "vexalo")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "settings.ini"), "w") as f:
        f.write("[Software\\Ombrix\\Vexalo\\Flags]\nhtml_view_source=dword:1\n")
    os.chmod(os.path.join(folder, "settings.ini"), 0o600)


class Page:
    """The conversation's DOM, fetched with the window's View Source command."""

    def __init__(self, ui, display, tmp):
        self.ui, self.display, self.tmp = ui, display, tmp

    def html(self):
        before = set(glob.glob(os.path.join(self.tmp, "vexalo-src-*/vexalo-src.html")))
        # Ctrl+U in the chat window (the menu's item, without opening the menu).
        focus_window(self.display, "Demo Buddy")
        registry, pyatspi = self.ui.pyatspi.Registry, self.ui.pyatspi
        control = 1 << 2
        registry.generateKeyboardEvent(control, None, pyatspi.KEY_LOCKMODIFIERS)
        registry.generateKeyboardEvent(ord("u"), None, pyatspi.KEY_SYM)
        registry.generateKeyboardEvent(control, None, pyatspi.KEY_UNLOCKMODIFIERS)
        path = wait_for("the page source", lambda: (sorted(set(glob.glob(os.path.join(
            self.tmp, "vexalo-src-*/vexalo-src.html"))) - before) or [None])[0])
        wait_for("the page written", lambda: os.path.getsize(path) > 0)
        with open(path, encoding="utf-8") as f:
            return f.read()

    def wait(self, what, check):
        last = []

        def attempt():
            last[:] = [self.html()]
            return check(last[0])
        try:
            wait_for(what, attempt, timeout=20)
        except AssertionError:
            print("---- last page", last[0][-3000:] if last else None)
            raise
        return last[0]


def content(html):
    """The part of the page that holds the conversation."""
    start = html.find('<div id="content"')
    return html[start:] if start >= 0 else ""


def texts_in(ui, node, depth=0, out=None):
    """Every text under a node (the web view's page shows through the accessibility bus)."""
    out = [] if out is None else out
    if node is None or depth > 80:
        return out
    try:
        text = ui.text_of(node)
        if text:
            out.append(text)
        for i in range(node.childCount):
            texts_in(ui, node.getChildAtIndex(i), depth + 1, out)
    except Exception:
        pass
    return out


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    binary, artefacts = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    os.makedirs(artefacts, exist_ok=True)
    work = tempfile.mkdtemp(prefix="vexalo-chat-")
    os.chmod(work, 0o755)
    procs, consoles, ui, display = [], [], None, None
    try:
        xvfb, display = start_display(work)
        if xvfb is None:
            print("SKIP: Xvfb could not start")
            return 77
        procs.append(xvfb)
        base = {k: v for k, v in os.environ.items() if k not in ("WAYLAND_DISPLAY",)}
        base.update(DISPLAY=display, GTK_A11Y="atspi", NO_AT_BRIDGE="0", GDK_BACKEND="x11",
                    GSETTINGS_BACKEND="memory", WEBKIT_DISABLE_COMPOSITING_MODE="1",
                    VEXALO_THEMES_DIR=os.path.join(ROOT, "src/ui/gtk/data/themes"))
        bus, address = start_bus(work, base)
        procs.append(bus)
        base["DBUS_SESSION_BUS_ADDRESS"] = address
        os.environ.update(DISPLAY=display, DBUS_SESSION_BUS_ADDRESS=address)

        port = free_port()
        subprocess.run(["bash", os.path.join(ROOT, "tools/demoserver.sh"),
                        os.path.join(work, "server"), str(port)],
                       check=True, stdout=subprocess.DEVNULL)
        buddy = Console(binary, profile_env(work, "buddy", base, bus=False), "buddy-password",
                        work + "/buddy.err")
        consoles.append(buddy)
        buddy.send("/signin buddy@localhost 127.0.0.1:%d" % port)
        buddy.expect("sign-in", lambda e: e[:2] == ["state", "signed-in"])
        buddy.send("/status available Ask me anything")

        you_env = profile_env(work, "you", base)
        tmp = os.path.join(work, "tmp")
        os.makedirs(tmp)
        you_env["TMPDIR"] = tmp
        write_flags(you_env)
        gui = subprocess.Popen([binary], env=you_env,
                               stdout=open(work + "/you.out", "w"),
                               stderr=open(work + "/you.err", "w"))
        procs.append(gui)
        ui = Accessible(gui.pid)
        ui.set_text(ui.named("Account", "text"), "you@localhost")
        ui.set_text(ui.named("Server", "text"), "127.0.0.1:%d" % port)
        ui.type_text("p", "demo-password")
        ui.press(ui.named("Sign in", "push button"))
        ui.named("Demo Buddy", "label")
        buddy.expect("us online", lambda e: len(e) >= 3 and e[0] == "presence" and
                     e[1].startswith("you@localhost") and e[2] != "offline")

        # A message from buddy opens the conversation and shows in the page.
        buddy.send("/msg you@localhost Hello from the console")
        # Without a window manager GTK 4.8 shows the second window as a filler.
        frame = ui.find("the chat window", lambda n: n.getRoleName() in ("frame", "filler") and
                        n.name == "Demo Buddy" and n.parent.getRoleName() == "application",
                        timeout=30)
        page = Page(ui, display, tmp)
        page.wait("the message in an incoming block", lambda h: re.search(
            r'<div class="chat incoming">.*Hello from the console', content(h), re.S))
        print("incoming message opened the chat window and shows in an incoming block")
        buddy.send("/msg you@localhost And a second line")
        html = page.wait("the continuation", lambda h: "And a second line" in h)
        assert content(html).count('class="chat incoming"') == 1, content(html)
        assert re.search(r'<div class="msg next">.*And a second line', content(html), re.S)
        print("second message continues the block")
        wait_for("the header", lambda: any("Available — Ask me anything" in t
                                           for t in texts_in(ui, frame)))
        print("header: Demo Buddy, Available — Ask me anything")

        # Buddy's typing state.
        buddy.send("/typing you@localhost composing")
        ui.label_containing("Demo Buddy is typing")
        buddy.send("/typing you@localhost paused")
        ui.label_containing("Demo Buddy has stopped typing")
        print("typing states shown")

        # Hostile text arrives as text.
        buddy.send("/msg you@localhost <img src=x onerror=alert(1)><script>alert(2)</script>")
        html = page.wait("the hostile text", lambda h: "alert(2)" in h)
        body = content(html)
        assert "&lt;img src=x onerror=alert(1)&gt;&lt;script&gt;alert(2)&lt;/script&gt;" in body, body
        assert "<script" not in body and "<img src=\"x\"" not in body, body
        print("hostile text shown as text")

        # We type: buddy sees "composing"; Shift+Enter makes a new line, Enter sends.
        ui.find("the message entry", lambda n: ui.clean(n.name) == "Message" and
                n.getRoleName() in ("text", "entry"))
        focus_window(display, "Demo Buddy")
        time.sleep(0.3)
        registry = ui.pyatspi.Registry
        registry.generateKeyboardEvent(0, "First line", ui.pyatspi.KEY_STRING)
        buddy.expect("our typing", lambda e: e[:3] == ["typing", e[1], "composing"] and
                     e[1].startswith("you@localhost"))
        print("our typing state reached buddy")
        shift = 1 << 0
        registry.generateKeyboardEvent(shift, None, ui.pyatspi.KEY_LOCKMODIFIERS)
        registry.generateKeyboardEvent(0xff0d, None, ui.pyatspi.KEY_SYM)
        registry.generateKeyboardEvent(shift, None, ui.pyatspi.KEY_UNLOCKMODIFIERS)
        registry.generateKeyboardEvent(0, "second line", ui.pyatspi.KEY_STRING)
        time.sleep(0.3)
        registry.generateKeyboardEvent(0xff0d, None, ui.pyatspi.KEY_SYM)
        buddy.expect("our message", lambda e: e[0] == "msg" and e[1].startswith("you@localhost")
                     and "First line" in e[2] and "second line" in e[2])
        html = page.wait("our message in an outgoing block", lambda h: re.search(
            r'<div class="chat outgoing">.*First line<br>second line', content(h), re.S))
        print("message sent with Enter and shown in an outgoing block")
        buddy.send("/status away Back soon")
        page.wait("the system line", lambda h: re.search(
            r'<div class="system">.*Demo Buddy is now Away', content(h), re.S))
        print("presence change shown as a system line")
        time.sleep(1)
        conversation_screenshot(display, os.path.join(artefacts, "conversation.png"))

        gui.send_signal(signal.SIGTERM)
        gui.wait(timeout=10)
        with open(work + "/you.err", errors="replace") as f:
            log = f.read()
        assert "runtime error" not in log and "Sanitizer" not in log, log[-3000:]
        print("1 passed, 0 failed")
        return 0
    except Exception as error:
        try:
            conversation_screenshot(display, os.path.join(artefacts, "chat-failure.png"))
            ui.dump(os.path.join(artefacts, "chat-failure-tree.txt"))
        except Exception:
            pass
        import traceback
        traceback.print_exc()
        print("FAILED:", error)
        print_logs(work)
        for console in consoles:
            print("---- console events", console.seen[-20:])
        print("0 passed, 1 failed")
        return 1
    finally:
        stop_all(work, consoles, procs)


if __name__ == "__main__":
    sys.exit(main())
