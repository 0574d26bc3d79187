#!/usr/bin/python3
"""Times the desktop window on a private display: from process start to the sign-in window
mapped (its fields reachable on the accessibility bus), and from pressing Sign in to the first
rows of a 100-contact roster shown, against a private Prosody; then the resident memory after
the signed-in window has been idle for a few seconds. Prints the medians of the runs.

Under Xvfb GTK draws with Mesa's software GL, which costs start-up time and about 100 MB of
memory that a desktop with a GPU does not pay; GSK_RENDERER=cairo in the environment measures
the window without it. The timings include the accessibility bus's tree walks, and run with
/usr/bin/python3 (pyatspi).

Usage: bench/desktop_startup.py VEXALO_BINARY [runs] [idle seconds]
Needs Xvfb, dbus-daemon, at-spi2-core, python3-pyatspi and prosody (tools/install-deps.sh).
"""
import importlib.util
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CONTACTS = 100

# The desktop test's display, bus, server and accessibility helpers.
_spec = importlib.util.spec_from_file_location(
    "desktop_peers_test", os.path.join(ROOT, "tests/desktop/desktop_peers_test.py"))
desk = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(desk)


def roster():
    return "".join('["c%d@localhost"] = { ["subscription"] = "both"; ["name"] = "Contact %d"; '
                   '["groups"] = { ["Team %d"] = true; }; };\n' % (i, i, i % 10)
                   for i in range(CONTACTS))


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def one_run(binary, work, base, port, run, idle_s):
    env = desk.profile_env(work, "run%d" % run, base)
    started = time.monotonic()
    gui = subprocess.Popen([binary], env=env, stdout=subprocess.DEVNULL,
                           stderr=open("%s/run%d.err" % (work, run), "w"))
    try:
        ui = desk.Accessible(gui.pid)
        account = ui.named("Account", "text")
        to_window = time.monotonic() - started
        ui.set_text(account, "bench@localhost")
        ui.set_text(ui.named("Server", "text"), "127.0.0.1:%d" % port)
        ui.type_text("p", "bench-password")
        pressed = time.monotonic()
        ui.press(ui.named("Sign in", "push button"))
        ui.find("contact rows", lambda n: n.getRoleName() == "label" and
                (n.name or "").startswith("Contact "), timeout=60)
        to_contacts = time.monotonic() - pressed
        time.sleep(idle_s)
        return to_window, to_contacts, rss_kb(gui.pid)
    finally:
        gui.terminate()
        try:
            gui.wait(timeout=10)
        except subprocess.TimeoutExpired:
            gui.kill()


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    binary = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    idle_s = float(sys.argv[3]) if len(sys.argv) > 3 else 5
    work = tempfile.mkdtemp(prefix="vexalo-desk-bench-")
    os.chmod(work, 0o755)
    procs = []
    try:
        xvfb, display = desk.start_display(work)
        if xvfb is None:
            raise SystemExit("desktop_startup.py: Xvfb could not start")
        procs.append(xvfb)
        base = {k: v for k, v in os.environ.items() if k != "WAYLAND_DISPLAY"}
        base.update(DISPLAY=display, GTK_A11Y="atspi", NO_AT_BRIDGE="0", GDK_BACKEND="x11",
                    GSETTINGS_BACKEND="memory")
        bus, address = desk.start_bus(work, base)
        procs.append(bus)
        base["DBUS_SESSION_BUS_ADDRESS"] = address
        os.environ.update(DISPLAY=display, DBUS_SESSION_BUS_ADDRESS=address)
        port = desk.free_port()
        server = os.path.join(work, "server")
        subprocess.run(["bash", os.path.join(ROOT, "tools/demoserver.sh"), server, str(port)],
                       check=True, stdout=subprocess.DEVNULL)
        desk.add_account(server, "bench", "bench-password", roster())
        results = [one_run(binary, work, base, port, run, idle_s) for run in range(runs)]
        window = statistics.median(r[0] for r in results)
        contacts = statistics.median(r[1] for r in results)
        rss = statistics.median(r[2] for r in results)
        print("runs: %d, roster: %d contacts, idle: %.0f s, renderer: %s" %
              (runs, CONTACTS, idle_s, os.environ.get("GSK_RENDERER", "GTK's choice")))
        print("start to sign-in window mapped: median %.0f ms (%s)" %
              (window * 1000, ", ".join("%.0f" % (r[0] * 1000) for r in results)))
        print("sign-in to first contact rows: median %.0f ms (%s)" %
              (contacts * 1000, ", ".join("%.0f" % (r[1] * 1000) for r in results)))
        print("idle RSS signed in: median %.1f MB" % (rss / 1024))
    finally:
        for proc in reversed(procs):
            if proc.poll() is None:
                proc.terminate()
                proc.wait(timeout=5)
        pid_file = os.path.join(work, "server/prosody.pid")
        if os.path.exists(pid_file):
            try:
                os.kill(int(open(pid_file).read().strip()), 15)
            except (ValueError, ProcessLookupError):
                pass
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
