# The machinery of the end-to-end tests of kxplayer: a private X server, the player started as a
# user starts it, its windows, pictures and widgets (through AT-SPI), and recordings made with kxrec.
import os
import random
import select
import shutil
import signal
import subprocess
import time

SCREEN_WIDTH, SCREEN_HEIGHT = 1280, 1024
POLL_S = 0.02


def wait_for(probe, timeout, interval=POLL_S):
    """Calls probe() until it returns something true or timeout seconds pass; returns the last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def kill_group(process, grace=3.0):
    """Ends a process started with start_new_session=True together with its children."""
    if process is None or process.poll() is not None:
        return
    for sig, wait in ((signal.SIGTERM, grace), (signal.SIGKILL, 5.0)):
        try:
            os.killpg(process.pid, sig)
        except ProcessLookupError:
            return
        try:
            process.wait(wait)
            return
        except subprocess.TimeoutExpired:
            continue


class XServer:
    """Xvfb on a free display picked at random; -displayfd says when it takes connections."""

    def __init__(self, runtime_dir):
        # A random high display number rather than the lowest free one: other X servers started
        # at the same moment (parallel test runs) start their search at 0.
        for _ in range(8):
            display = random.randrange(200, 900)
            if any(os.path.exists(p % display) for p in ("/tmp/.X11-unix/X%d", "/tmp/.X%d-lock")):
                continue
            number = self._start(display)
            if number:
                break
        else:
            raise RuntimeError("Xvfb did not start on any of the displays tried")
        self.display = ":" + number
        self.env = dict(os.environ, DISPLAY=self.display, XDG_RUNTIME_DIR=runtime_dir)
        # Keep the pointer away from every window: hover highlights and tooltips change pictures.
        self.xdotool("mousemove", str(SCREEN_WIDTH - 1), str(SCREEN_HEIGHT - 1))

    def _start(self, display):
        """Starts Xvfb on `display`; its number once it takes connections, or None. The server
        must not reset when its last client leaves (between two players): while it resets it
        refuses connections, and a player started then cannot open its windows."""
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", ":%d" % display, "-displayfd", str(write_end), "-screen", "0",
             "%dx%dx24" % (SCREEN_WIDTH, SCREEN_HEIGHT), "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 10
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], 0.2)
            if ready:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
        os.close(read_end)
        if not number.strip():
            kill_group(self.process)
            return None
        return number.decode().strip()

    def stop(self):
        kill_group(self.process)

    def run(self, *args, check=True):
        result = subprocess.run(list(args), env=self.env, capture_output=True, timeout=20)
        if check and result.returncode != 0:
            raise RuntimeError("%s failed (%d): %s" % (" ".join(args), result.returncode,
                                                        result.stderr.decode(errors="replace")))
        return result.stdout.decode(errors="replace")

    def xdotool(self, *args, check=True):
        return self.run("xdotool", *args, check=check)

    def windows_of(self, pid):
        """Visible top-level windows of a process: {window id: title}."""
        out = self.xdotool("search", "--onlyvisible", "--pid", str(pid), check=False)
        windows = {}
        for line in out.split():
            name = self.xdotool("getwindowname", line, check=False).rstrip("\n")
            windows[int(line)] = name
        return windows

    def geometry(self, window):
        """(x, y, width, height) of a window on the screen."""
        out = self.run("xwininfo", "-id", str(window))
        fields = {}
        for line in out.splitlines():
            key, _, value = line.strip().partition(":")
            fields[key] = value.strip()
        return (int(fields["Absolute upper-left X"]), int(fields["Absolute upper-left Y"]),
                int(fields["Width"]), int(fields["Height"]))

    def shot(self, window):
        """The window's pixels: (width, height, RGB bytes)."""
        _, _, width, height = self.geometry(window)
        data = subprocess.run(["import", "-window", str(window), "-depth", "8", "rgb:-"],
                              env=self.env, capture_output=True, timeout=20).stdout
        if len(data) != width * height * 3:
            return width, height, b""
        return width, height, data

    def save_root(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.env, capture_output=True,
                       timeout=20)

    def key(self, window, *keys):
        self.xdotool("windowfocus", "--sync", str(window))
        self.xdotool("key", *keys)


def crop_rows(width, data, top, rows):
    """Rows [top, top + rows) of an RGB picture `width` pixels wide."""
    stride = width * 3
    return data[top * stride:(top + rows) * stride]


def is_flat(data):
    """True when every pixel has the colour of the first one (or there are no pixels)."""
    return len(data) < 3 or data == data[:3] * (len(data) // 3)


def differing_pixels(a, b):
    if len(a) != len(b):
        return -1
    return sum(1 for i in range(0, len(a), 3) if a[i:i + 3] != b[i:i + 3])


def write_moving_y4m(path, width, height, frames, fps):
    """A 4:2:0 Y4M clip in which every picture differs from every other one: a block moving
    across a diagonal gradient and a bar moving at another pace."""
    rows = [bytes((x // 2 + y) & 0xFF for x in range(width)) for y in range(height)]
    background = b"".join(rows)
    cw, ch = width // 2, height // 2
    with open(path, "wb") as out:
        out.write(b"YUV4MPEG2 W%d H%d F%d:1 Ip A1:1 C420jpeg\n" % (width, height, fps))
        for f in range(frames):
            luma = bytearray(background)
            bx, by = (f * 6) % (width - 48), 40 + (f * 4) % (height - 120)
            for r in range(by, by + 48):
                luma[r * width + bx:r * width + bx + 48] = b"\xeb" * 48
            bar = (f * 5) % (width - 8)
            for r in range(10, 30):
                luma[r * width + bar:r * width + bar + 8] = b"\x10" * 8
            cb = bytearray(b"\x80" * (cw * ch))
            cr = bytearray(b"\x80" * (cw * ch))
            for r in range(by // 2, by // 2 + 24):
                cb[r * cw + bx // 2:r * cw + bx // 2 + 24] = b"\x30" * 24
                cr[r * cw + bx // 2:r * cw + bx // 2 + 24] = b"\xd0" * 24
            out.write(b"FRAME\n")
            out.write(luma)
            out.write(cb)
            out.write(cr)


class Player:
    """One run of kxplayer as a user starts it: own HOME and desktop folders, log kept."""

    def __init__(self, server, binary, args, home, extra_env=None, cwd=None):
        self.server = server
        os.makedirs(home, exist_ok=True)
        env = dict(server.env, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                   XDG_CACHE_HOME=os.path.join(home, ".cache"),
                   XDG_DATA_HOME=os.path.join(home, ".local", "share"),
                   QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        for key, value in (extra_env or {}).items():
            if value is None:
                env.pop(key, None)
            else:
                env[key] = value
        self.log_path = os.path.join(home, "player.log")
        self.log = open(self.log_path, "wb")
        self.started = time.monotonic()
        self.process = subprocess.Popen([binary] + list(args), env=env, cwd=cwd or home,
                                        stdout=self.log, stderr=subprocess.STDOUT,
                                        start_new_session=True)

    @property
    def pid(self):
        return self.process.pid

    def alive(self):
        return self.process.poll() is None

    def stop(self):
        kill_group(self.process)
        self.log.close()

    def log_text(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode(errors="replace")

    def sanitizer_reports(self):
        return [line for line in self.log_text().splitlines()
                if "ERROR: AddressSanitizer" in line or "runtime error:" in line]

    def window(self, title, timeout=15, exact=True):
        """Waits for a visible window of this program whose title is `title` (or starts with it)."""
        def probe():
            for wid, name in self.server.windows_of(self.pid).items():
                if name == title or (not exact and name.startswith(title)):
                    return wid
            return None
        return wait_for(probe, timeout)

    def title(self, window):
        return self.server.xdotool("getwindowname", str(window), check=False).rstrip("\n")

    def wait_title(self, window, title, timeout=5):
        return wait_for(lambda: self.title(window) == title, timeout)


# ---- AT-SPI ------------------------------------------------------------------------------------

def _atspi():
    import pyatspi  # only inside a session bus; imported late so the module loads anywhere
    return pyatspi


def atspi_application(pid, timeout=10):
    pyatspi = _atspi()
    desktop = pyatspi.Registry.getDesktop(0)

    def probe():
        for i in range(desktop.childCount):
            try:
                app = desktop.getChildAtIndex(i)
                if app is not None and app.get_process_id() == pid and app.childCount > 0:
                    return app
            except Exception:  # an application that went away in the meantime
                continue
        return None
    return wait_for(probe, timeout, 0.05)


def atspi_find(root, role_names, name=None, contains=None):
    """First descendant (depth first) with one of the role names and the name (or part of it)."""
    stack = [root]
    while stack:
        node = stack.pop()
        if node is None:
            continue
        try:
            role = node.getRoleName()
            label = node.name or ""
            if role in role_names and (name is None or label == name) and \
                    (contains is None or contains in label):
                return node
            stack.extend(reversed([node.getChildAtIndex(i) for i in range(node.childCount)]))
        except Exception:
            continue
    return None


def atspi_wait(pid, role_names, name=None, contains=None, timeout=10):
    def probe():
        app = atspi_application(pid, 0)
        return atspi_find(app, role_names, name, contains) if app is not None else None
    return wait_for(probe, timeout, 0.05)


def atspi_texts(node):
    """The names of a node and all its descendants."""
    texts, stack = [], [node]
    while stack:
        item = stack.pop()
        if item is None:
            continue
        try:
            if item.name:
                texts.append(item.name)
            stack.extend(item.getChildAtIndex(i) for i in range(item.childCount))
        except Exception:
            continue
    return texts


def atspi_extents(node):
    pyatspi = _atspi()
    box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x, box.y, box.width, box.height


def atspi_press(node):
    """Presses a button, or toggles a check box or radio button, as a click on it does."""
    action = node.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    for wanted in ("Press", "Toggle", "SetFocus"):
        if wanted in names:
            action.doAction(names.index(wanted))
            return
    raise AssertionError("%r has no Press or Toggle action (it has %r)" % (node.name, names))


def have_tools(*names):
    return [name for name in names if shutil.which(name) is None]
