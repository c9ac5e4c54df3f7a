#!/usr/bin/python3
# A whole update as a blind user makes it: the keyboard alone, and what AT-SPI tells a screen
# reader.
#
# usage: atspi_keyboard_update.py SOURCE_DIR BUILD_DIR   (77: a program it needs is missing)
#
# Starts Xvfb on a free display and, in a D-Bus session of its own (dbus-run-session), the
# accessibility bus, the demo update server with a firmware of a real firmware's size, a virtual
# board that answers each frame after 1 ms, and trident-updater. Then, through AT-SPI alone, it
# waits for the "Update" button to hold the focus, presses Enter, reads the progress while the board
# is programmed, hears the verdict, and presses Space to close. Every wait has a deadline, and every
# process it starts ends with it.
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
ENTER, SPACE = 0xFF0D, 0x20  # X keysyms
BUSY = "DO NOT Remove the Controller"


def stop(*processes):
    for process in processes:
        process.terminate()
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def first_line(process, seconds):
    if not select.select([process.stdout], [], [], seconds)[0]:
        raise AssertionError(f"{process.args[0]} said nothing in {seconds} s")
    return process.stdout.readline().decode().strip()


def outside(source, build):
    # Xvfb on a display it picks itself, then this script again inside dbus-run-session.
    missing = [p for p in ["Xvfb", "dbus-run-session", "objcopy", "minisign", LAUNCHER]
               if not shutil.which(p)]
    try:
        import pyatspi  # noqa: F401  (used inside the session)
    except ImportError:
        missing.append("python3-pyatspi")
    if missing:
        print("skipped: missing " + ", ".join(missing))
        return 77
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-nolisten", "tcp"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    session = None
    try:
        env = dict(os.environ, DISPLAY=":" + first_line(xvfb, 20))
        session = subprocess.Popen(["dbus-run-session", "--", sys.executable, __file__, source,
                                    build, "--inside"], env=env, start_new_session=True)
        return session.wait(120)
    finally:
        if session and session.poll() is None:
            os.killpg(session.pid, signal.SIGKILL)  # and whatever the lost run left in its group
            session.wait()
        stop(xvfb)


def inside(source, build, work):
    import pyatspi
    from gi.repository import Gio, GLib

    def wait_for(what, check, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            while GLib.MainContext.default().iteration(False):
                pass  # the events that came
            found = check()
            if found:
                return found
            time.sleep(0.02)  # how often to look
        raise AssertionError(f"no {what} within {seconds} s")

    def find(test):
        return pyatspi.findDescendant(window, test)

    def focused_button(name):
        return find(lambda n: n.getRoleName() == "push button" and n.name == name
                    and n.getState().contains(pyatspi.STATE_FOCUSED))

    launcher = subprocess.Popen([LAUNCHER, "--launch-immediately"])
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    wait_for("accessibility bus", lambda: bus.call_sync(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
        GLib.Variant("(s)", ("org.a11y.Bus",)), None, 0, 5000, None)[0], 20)
    heard = []  # (event, its object), as they came
    for kind in ["accessible-name", "accessible-value"]:
        pyatspi.Registry.registerEventListener(lambda e: heard.append((e.type, e.source)),
                                               "object:property-change:" + kind)

    served, hid = os.path.join(work, "server"), os.path.join(work, "hid")
    os.mkdir(hid)
    subprocess.run([os.path.join(source, "scripts/make-demo-firmware"), "--out", served,
                    "--size", "131072"], check=True, stdout=subprocess.DEVNULL, timeout=60)
    server = subprocess.Popen([os.path.join(source, "scripts/serve-update-server"), "-p", "0",
                               "-d", served], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    board = subprocess.Popen([os.path.join(build, "tools/board-sim/trident-board-sim"),
                              "--virtual-hid", hid, "--reply-delay-ms", "1"],
                             stderr=subprocess.DEVNULL)
    log = open(os.path.join(work, "app.log"), "w")
    app = subprocess.Popen(
        [os.path.join(build, "src/app/trident-updater"), "--virtual-hid", hid, "--server",
         first_line(server, 20), "--no-history"], stdout=subprocess.DEVNULL, stderr=log,
        env=dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb",
                 XDG_CACHE_HOME=os.path.join(work, "cache"),
                 XDG_STATE_HOME=os.path.join(work, "state")))
    try:
        desktop = pyatspi.Registry.getDesktop(0)
        window = wait_for("application", lambda: next(
            (a for a in desktop if a and a.name == "trident-updater"), None), 20)
        wait_for("focused Update button", lambda: focused_button("Update"), 30)
        picture = find(lambda n: n.name == "Board with the button to hold")
        hint = find(lambda n: n.getRoleName() == "label" and n.description == "Status")
        assert picture and hint, "the board's picture or the hint has another name"

        pressed = time.monotonic()
        pyatspi.Registry.generateKeyboardEvent(ENTER, None, pyatspi.KEY_SYM)
        wait_for("update started by Enter", lambda: hint.name == BUSY, 20)
        values = []

        def progress_or_verdict():
            if picture.name.startswith("Programming the board: "):
                try:
                    value = int(picture.queryValue().currentValue)
                    if picture.getRoleName() == "progress bar":  # still, after the value came
                        values.append(value)
                except (NotImplementedError, GLib.Error):
                    pass  # the programming ended between two questions
            return hint.name != BUSY and hint.name

        verdict = wait_for("verdict", progress_or_verdict, 60)
        seconds = time.monotonic() - pressed
        assert verdict == "Firmware successfully updated.", verdict
        assert len(set(values)) >= 3 and values == sorted(values), values
        wait_for("verdict heard", lambda: ("object:property-change:accessible-name", hint)
                 in heard, 10)
        changes = heard.count(("object:property-change:accessible-value", picture))
        assert changes <= seconds / 0.25 + 2, f"{changes} value changes in {seconds:.1f} s"
        close = wait_for("focused Close button", lambda: focused_button("Close"), 10)
        assert close.description == verdict, close.description

        # Space clicks when it is let go: Qt's bridge, which holds every key until the screen reader
        # has seen it, then holds none when the window closes (Enter would leave its release there,
        # a leak in sanitized builds). The button ignores a press for half a second after it
        # became Close.
        def closed():
            pyatspi.Registry.generateKeyboardEvent(SPACE, None, pyatspi.KEY_SYM)
            try:
                return app.wait(0.3) is not None
            except subprocess.TimeoutExpired:
                return False

        wait_for("window closed by Space", closed, 10)
        assert app.returncode == 0 and board.wait(10) == 0, (app.returncode, board.returncode)
        print(f"{len(set(values))} figures read from {values[0]} to {values[-1]} %, "
              f"{changes} value changes in {seconds:.1f} s")
        return 0
    except BaseException:
        log.flush()
        print(open(log.name).read()[-3000:], file=sys.stderr)
        raise
    finally:
        stop(app, board, server, launcher)


if __name__ == "__main__":
    if "--inside" not in sys.argv:
        sys.exit(outside(sys.argv[1], sys.argv[2]))
    with tempfile.TemporaryDirectory() as work:
        sys.exit(inside(sys.argv[1], sys.argv[2], work))
