#!/usr/bin/python3
# End-to-end tests of the kxplayer program under a private X server, used the way a person uses
# it: windows and titles, keys, the panel's buttons (through AT-SPI), the pictures on the screen
# against the pictures kxtool decodes, the desktop association and failed opens.
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import warnings
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_support as x  # noqa: E402

NEEDED_TOOLS = ("Xvfb", "xdotool", "xwininfo", "import", "convert", "xdg-mime",
                "desktop-file-validate", "update-mime-database")

# The recording most tests play: its coded size equals its display size (resolution code 122 is
# 352 x 288 both ways), so the view shows the decoded pictures pixel for pixel.
WIDTH, HEIGHT = 352, 288
FRAMES, FPS = 100, 10
HOST = "E2E-HOST"
# The player shows the computer's time zone and the start date in it, not the recorder's: the
# recorder is at GMT-5 where the start is still 2 November, the computer at GMT+9 where it is 3.
COMPUTER_TZ = "JST-9"
PREFIX = "(E2E-HOST)(GMT+09:00)(2026/11/03) --"

ARGS = None
CTX = {}


def check(condition, what, failure):
    """One line per check: 'ok' with what was checked, or a failure with what was seen."""
    if not condition:
        raise AssertionError("%s: %s" % (what, failure))
    print("    ok   %s" % what, flush=True)


def setUpModule():
    # pyatspi on Debian 12 warns about its own deprecated calls: noise, not findings. (Set here:
    # the test runner replaces the filters before the tests run.)
    warnings.filterwarnings("ignore", category=DeprecationWarning, module="pyatspi")
    warnings.filterwarnings("ignore", category=DeprecationWarning, message="Atspi")
    warnings.filterwarnings("ignore", category=ImportWarning)
    missing = x.have_tools(*NEEDED_TOOLS)
    if missing:
        raise unittest.SkipTest("missing programs: " + ", ".join(missing))
    tmp = tempfile.mkdtemp(prefix="kxplayer-e2e-")
    CTX["tmp"] = tmp
    runtime = os.path.join(tmp, "runtime")
    os.mkdir(runtime, 0o700)
    os.environ["TZ"] = COMPUTER_TZ
    started = time.monotonic()
    CTX["x"] = x.XServer(runtime)
    print("Xvfb on %s (ready after %.0f ms)" % (CTX["x"].display,
                                                (time.monotonic() - started) * 1000), flush=True)

    y4m = os.path.join(tmp, "moving.y4m")
    x.write_moving_y4m(y4m, WIDTH, HEIGHT, FRAMES, FPS)
    clip = os.path.join(tmp, "moving.kxz")
    subprocess.run([tool("kxrec"), "--resolution", "122", "--frames", str(FRAMES), "--fps",
                    str(FPS), "--input", y4m, "--host", HOST, "--gmt-offset", "-5", "--start",
                    "2026-11-02 20:00:00", clip], check=True, capture_output=True, timeout=120)
    os.remove(y4m)
    CTX["clip"] = clip
    info = subprocess.run([tool("kxtool"), "info", clip], check=True, capture_output=True,
                          text=True, timeout=60).stdout
    if "coded %d x %d, display %d x %d" % (WIDTH, HEIGHT, WIDTH, HEIGHT) not in info:
        raise RuntimeError("the test recording does not have equal coded and display sizes:\n"
                           + info)
    # The pictures as the player composes them, decoded while the first tests run.
    shown = os.path.join(tmp, "shown")
    CTX["shown_dir"] = shown
    CTX["decode"] = subprocess.Popen([tool("kxtool"), "decode", "--shown", shown, clip],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def tearDownModule():
    decode = CTX.get("decode")
    if decode is not None and decode.poll() is None:
        decode.kill()
        decode.wait()
    if "x" in CTX:
        CTX["x"].stop()
    if "tmp" in CTX:
        if ARGS.keep:
            print("kept the test folder " + CTX["tmp"])
        else:
            shutil.rmtree(CTX["tmp"], ignore_errors=True)


def tool(name):
    return os.path.join(ARGS.bin, name)


def decoded_pictures():
    """Every picture of the clip as `kxtool decode --shown` writes it, as RGB bytes."""
    if "shown" not in CTX:
        decode = CTX["decode"]
        _, errors = decode.communicate(timeout=120)
        if decode.returncode != 0:
            raise RuntimeError("kxtool decode --shown failed: " + errors.decode(errors="replace"))
        names = sorted(n for n in os.listdir(CTX["shown_dir"]) if n.endswith(".png"))
        if len(names) != FRAMES:
            raise RuntimeError("kxtool decode --shown wrote %d pictures, not %d"
                               % (len(names), FRAMES))
        raw = os.path.join(CTX["tmp"], "shown.rgb")
        subprocess.run(["convert"] + [os.path.join(CTX["shown_dir"], n) for n in names]
                       + ["-depth", "8", "rgb:" + raw], check=True, capture_output=True,
                       timeout=120)
        with open(raw, "rb") as f:
            data = f.read()
        size = WIDTH * HEIGHT * 3
        if len(data) != size * FRAMES:
            raise RuntimeError("converted pictures have %d bytes, not %d" % (len(data),
                                                                             size * FRAMES))
        CTX["shown"] = [data[i * size:(i + 1) * size] for i in range(FRAMES)]
    return CTX["shown"]


class PlayerTestCase(unittest.TestCase):
    """Starts the player for one test and ends it afterwards, failed or not."""

    def setUp(self):
        self.server = CTX["x"]
        self.players = []
        self.home_count = 0

    def tearDown(self):
        if ARGS.keep:
            self.server.save_root(os.path.join(CTX["tmp"], self.id() + ".png"))
        problems = []
        for player in list(self.players):
            try:
                self.finish(player)
            except AssertionError as error:
                problems.append(str(error))
        if problems:
            raise AssertionError("; ".join(problems))

    def finish(self, player):
        """Ends one run of the player; it must not have ended by itself nor reported faults."""
        reports = player.sanitizer_reports()
        ended = player.process.poll()
        player.stop()
        self.players.remove(player)
        if reports or ended is not None:
            sys.stdout.write("---- player log (%s) ----\n%s\n" % (self.id(),
                                                                 player.log_text()[-3000:]))
        check(not reports, "no sanitizer reports from the player", "\n".join(reports))
        check(ended is None, "the player was still running at the end",
              "it ended by itself with status %r" % ended)

    def start(self, args, extra_env=None, home=None):
        if home is None:
            self.home_count += 1
            home = os.path.join(CTX["tmp"], "home-%s-%d" % (self._testMethodName,
                                                           self.home_count))
        player = x.Player(self.server, tool("kxplayer"), args, home, extra_env)
        self.players.append(player)
        return player

    def start_clip(self):
        """The player on the moving clip: (player, main window, panel window)."""
        player = self.start([CTX["clip"]])
        main = player.window(PREFIX + " Playing")
        check(main is not None, "main window titled %r" % (PREFIX + " Playing"),
              "windows seen: %r" % self.server.windows_of(player.pid))
        panel = player.window("Player")
        check(panel is not None, "control panel window titled 'Player'",
              "windows seen: %r" % self.server.windows_of(player.pid))
        return player, main, panel

    def view(self, window):
        """The view's pixels: the bottom rows of the window below the menu bar."""
        width, height, data = self.server.shot(window)
        if width != WIDTH or height < HEIGHT or not data:
            return b""
        return x.crop_rows(width, data, height - HEIGHT, HEIGHT)

    def wait_painted(self, window, view_rows=HEIGHT, timeout=15):
        """Waits until the view (the bottom `view_rows` rows) is not one flat colour."""
        def probe():
            width, height, data = self.server.shot(window)
            return height >= view_rows and not x.is_flat(
                x.crop_rows(width, data, height - view_rows, view_rows))
        return x.wait_for(probe, timeout)

    def wait_steady(self, window, timeout=3):
        """The view once two shots 150 ms apart agree."""
        last = [self.view(window)]

        def probe():
            time.sleep(0.15)
            now = self.view(window)
            same = now == last[0] and now
            last[0] = now
            return same
        return x.wait_for(probe, timeout, 0)

    def wait_changed(self, window, before, timeout=3):
        return x.wait_for(lambda: (lambda v: v if v and v != before else None)(self.view(window)),
                          timeout)

    @staticmethod
    def matches(picture):
        return [i for i, shown in enumerate(decoded_pictures()) if shown == picture]


class WindowsTest(PlayerTestCase):
    def test_main_window_and_panel_at_start(self):
        player, main, panel = self.start_clip()
        painted = self.wait_painted(main)
        startup_ms = (time.monotonic() - player.started) * 1000
        check(painted, "first picture in the view is not one flat colour",
              "still flat 15 s after start")
        print("    time from starting kxplayer to its first picture: %.0f ms" % startup_ms,
              flush=True)
        check(player.title(main) == PREFIX + " Playing",
              "title is exactly %r" % (PREFIX + " Playing"), "title %r" % player.title(main))

        mx, my, mw, mh = self.server.geometry(main)
        video = x.atspi_wait(player.pid, ("filler",), "Video")
        check(video is not None, "the view is found through AT-SPI as 'Video'", "not found")
        vx, vy, vw, vh = x.atspi_extents(video)
        check((vw, vh) == (WIDTH, HEIGHT), "view is %d x %d, the recording's display size"
              % (WIDTH, HEIGHT), "view is %d x %d" % (vw, vh))
        menu = x.atspi_wait(player.pid, ("menu bar",))
        check(menu is not None, "the menu bar is found through AT-SPI", "not found")
        _, _, _, menu_height = x.atspi_extents(menu)
        check((mw, mh) == (WIDTH, HEIGHT + menu_height) and (vx, vy + vh) == (mx, my + mh),
              "window is the view plus the %d-pixel menu bar above it" % menu_height,
              "window %r, view at %r" % ((mx, my, mw, mh), (vx, vy, vw, vh)))

        px, py, pw, ph = self.server.geometry(panel)
        apart = px >= mx + mw or px + pw <= mx or py >= my + mh or py + ph <= my
        check(apart, "panel %r does not overlap the main window %r"
              % ((px, py, pw, ph), (mx, my, mw, mh)), "they overlap")
        check(px >= mx + mw, "panel sits to the right of the main window",
              "panel at x=%d, main window ends at x=%d" % (px, mx + mw))
        on_screen = all(0 <= a and a + b <= limit for a, b, limit in (
            (mx, mw, x.SCREEN_WIDTH), (my, mh, x.SCREEN_HEIGHT),
            (px, pw, x.SCREEN_WIDTH), (py, ph, x.SCREEN_HEIGHT)))
        check(on_screen, "both windows lie wholly on the screen", "one is cut by the edge")

    def test_without_file_shows_empty_player(self):
        player = self.start([])
        main = player.window("KX Player")
        check(main is not None, "main window titled exactly 'KX Player'",
              "windows seen: %r" % self.server.windows_of(player.pid))
        check(player.window("Player") is not None, "control panel window 'Player' is shown",
              "windows seen: %r" % self.server.windows_of(player.pid))
        check(self.wait_painted(main, 480), "the empty view is painted (not one flat colour)",
              "still flat")
        video = x.atspi_wait(player.pid, ("filler",), "Video")
        menu = x.atspi_wait(player.pid, ("menu bar",))
        check(video is not None and menu is not None, "view and menu bar found through AT-SPI",
              "video %r, menu bar %r" % (video, menu))
        _, _, vw, vh = x.atspi_extents(video)
        _, _, _, menu_height = x.atspi_extents(menu)
        _, _, mw, mh = self.server.geometry(main)
        check((vw, vh) == (640, 480), "view is 640 x 480", "view is %d x %d" % (vw, vh))
        check((mw, mh) == (640, 480 + menu_height),
              "window is 640 x (480 + %d menu bar rows)" % menu_height,
              "window is %d x %d" % (mw, mh))


def write_face_file(path, count, host, board, camera, start):
    """A version 0 face file: 'FACE', the header, three names, then time and grey bytes per face."""
    import struct
    width, height = 112, 144
    texts = b"".join(struct.pack("<I", len(t)) + t for t in (host, board, camera))
    header_bytes = 30 + len(texts)
    with open(path, "wb") as out:
        out.write(b"FACE" + struct.pack("<IIII", 0, header_bytes, width, height))
        out.write(struct.pack("<BBII", 0, 0, 0, 0) + texts)
        for i in range(count):
            out.write(struct.pack("<I", start + i))
            out.write(bytes((x * 2 + y + i * 40) % 256 for y in range(height) for x in range(width)))


class FaceWindowTest(PlayerTestCase):
    def test_face_file_on_the_command_line_opens_the_face_window(self):
        folder = os.path.join(CTX["tmp"], "faces", "face")
        os.makedirs(folder, exist_ok=True)
        face = os.path.join(folder, "gate.fac")
        write_face_file(face, 3, b"E2E-HOST", b"Board 1", b"Camera 1", 1793606400)
        player = self.start([face])
        window = player.window("Face")
        check(window is not None, "a window titled 'Face' is shown",
              "windows seen: %r" % self.server.windows_of(player.pid))
        _, _, width, height = self.server.geometry(window)
        columns = x.SCREEN_WIDTH // 115
        rows = (x.SCREEN_HEIGHT - 45) // 159
        check((width, height) == (115 * columns - 3, 159 * rows + 45),
              "the grid fills the screen: %d x %d cells" % (columns, rows),
              "window is %d x %d" % (width, height))

        def painted():
            w, h, data = self.server.shot(window)
            return data and not x.is_flat(x.crop_rows(w, data, 0, 144))
        check(x.wait_for(painted, 10), "the first row of faces is painted", "still flat")
        button = x.atspi_wait(player.pid, ("push button",), "Next page")
        check(button is not None and not button.getState().contains(
            __import__("pyatspi").STATE_ENABLED),
              "'Next page' is there and disabled (3 faces fit one page)", "button %r" % button)


class PictureTest(PlayerTestCase):
    def test_pause_and_single_steps_show_the_decoded_pictures(self):
        player, main, _ = self.start_clip()
        check(self.wait_painted(main), "first picture painted", "still flat")
        pictures = decoded_pictures()
        self.server.key(main, "space")
        check(player.wait_title(main, PREFIX + " Pause"), "space: title ends ' Pause'",
              "title %r" % player.title(main))
        first = self.view(main)
        time.sleep(0.3)
        second = self.view(main)
        check(first and first == second, "paused: two shots 300 ms apart are equal",
              "%d pixels differ" % x.differing_pixels(first, second))
        found = self.matches(first)
        check(len(found) == 1, "paused picture is exactly one of kxtool's decoded pictures",
              "matches %r; nearest differs in %d pixels" % (found, min(
                  x.differing_pixels(first, p) for p in pictures)))
        index = found[0]
        print("    paused at picture %d of %d" % (index, FRAMES), flush=True)
        check(index + 2 < FRAMES, "pause came before the end", "paused at the last pictures")

        # Two steps forward, two back; each must be exactly the neighbouring decoded picture.
        for key, expected in (("Right", index + 1), ("Right", index + 2), ("Left", index + 1),
                              ("Left", index)):
            before = self.view(main)
            self.server.key(main, key)
            changed = self.wait_changed(main, before)
            check(changed, "%s changes the picture" % key,
                  "picture unchanged 3 s later (still %r)" % self.matches(before))
            steady = self.wait_steady(main)
            shown = self.matches(steady)
            check(shown == [expected], "%s shows decoded picture %d exactly" % (key, expected),
                  "shows %r; differs from %d in %d pixels" % (
                      shown, expected, x.differing_pixels(steady, pictures[expected])))
            check(player.title(main) == PREFIX + " Pause", "%s leaves the player paused" % key,
                  "title %r" % player.title(main))

        before = self.view(main)
        self.server.key(main, "space")
        check(player.wait_title(main, PREFIX + " Playing"), "space again: title ' Playing'",
              "title %r" % player.title(main))
        check(self.wait_changed(main, before), "playing again moves the picture on",
              "picture unchanged 3 s later")

        # The speed keys of the main window.
        for key, state in (("bracketright", "2Times Playing"), ("bracketright", "4Times Playing"),
                           ("BackSpace", " Playing"), ("bracketleft", "1/2Times Playing"),
                           ("bracketleft", "1/4Times Playing"), ("BackSpace", " Playing")):
            self.server.key(main, key)
            check(player.wait_title(main, PREFIX + state), "%s -> title %r" % (key, PREFIX + state),
                  "title %r" % player.title(main))


    def test_dragging_the_seek_thumb_moves_playback_there(self):
        player, main, _ = self.start_clip()
        check(self.wait_painted(main), "first picture painted", "still flat")
        slider = x.atspi_wait(player.pid, ("slider",), "Seek")
        check(slider is not None, "seek slider found through AT-SPI", "no slider 'Seek'")
        value = slider.queryValue()
        check(value.maximumValue == FRAMES, "slider range is the %d frames" % FRAMES,
              "range %r .. %r" % (value.minimumValue, value.maximumValue))
        sx, sy, sw, sh = x.atspi_extents(slider)
        # Grab the thumb where its value puts it and drag it to 70 % in small steps.
        start = value.currentValue
        check(start < 30, "playback is still near the start", "slider at %r" % start)
        grab = sx + 6 + int((sw - 12) * start / FRAMES)
        target = sx + 6 + int((sw - 12) * 0.70)
        row = str(sy + sh // 2)
        self.server.xdotool("mousemove", "--sync", str(grab), row)
        self.server.xdotool("mousedown", "1")
        for k in range(1, 6):
            self.server.xdotool("mousemove", "--sync", str(grab + (target - grab) * k // 5), row)
            time.sleep(0.05)
        self.server.xdotool("mouseup", "1")
        self.server.xdotool("mousemove", str(x.SCREEN_WIDTH - 1), str(x.SCREEN_HEIGHT - 1))
        check(value.currentValue >= 65, "the thumb follows the drag to about 70 %",
              "slider at %r" % value.currentValue)
        self.server.key(main, "space")
        check(player.wait_title(main, PREFIX + " Pause"), "space pauses", player.title(main))
        shown = self.matches(self.wait_steady(main))
        # The drag seeks to the group under the thumb (frames 70..79); letting go past the old
        # position goes on to the next group, and playback runs on for a moment.
        check(len(shown) == 1 and 70 <= shown[0] < FRAMES,
              "the picture now comes from the dragged-to part (70 or later)",
              "paused at decoded picture %r" % shown)
        check(x.wait_for(lambda: abs(value.currentValue - shown[0]) <= 1, 2),
              "the slider stands at the shown picture (%d)" % shown[0],
              "slider at %r" % value.currentValue)


class PanelTest(PlayerTestCase):
    def test_panel_buttons_by_accessible_name(self):
        player, main, _ = self.start_clip()
        check(self.wait_painted(main), "first picture painted", "still flat")
        # Each step changes the title, so a press that does nothing cannot pass.
        steps = (("Pause", " Pause"), ("Playback", " Playing"), ("2 x", "2Times Playing"),
                 ("4 x", "4Times Playing"), ("1/2 x", "1/2Times Playing"),
                 ("1/6 x", "1/6Times Playing"), ("1/8 x", "1/8Times Playing"),
                 ("1 x", " Playing"), ("High Speed", "H Playing"),
                 ("Extra High Speed", "XH Playing"), ("1/4 x", "1/4Times Playing"),
                 ("Pause", " Pause"), ("2 x", "2Times Playing"),  # a speed resumes playing
                 ("Playback", " Playing"), ("Stop", " Stop"))
        for button_name, state in steps:
            button = x.atspi_wait(player.pid, ("push button",), button_name)
            check(button is not None, "panel button %r found through AT-SPI" % button_name,
                  "no push button of that name")
            self.assertNotEqual(player.title(main), PREFIX + state, "steps must change the title")
            x.atspi_press(button)
            check(player.wait_title(main, PREFIX + state),
                  "%r -> title %r" % (button_name, PREFIX + state),
                  "title %r" % player.title(main))


class OpenWindowTest(PlayerTestCase):
    def test_ctrl_o_lists_the_folder_and_a_double_click_plays_a_row(self):
        other = os.path.join(CTX["tmp"], "Other-Camera.kxz")
        subprocess.run([tool("kxrec"), "--resolution", "122", "--frames", "30", "--host",
                        "OTHER-HOST", "--start", "2026-11-04 10:00:00", other], check=True,
                       capture_output=True, timeout=120)
        player, main, _ = self.start_clip()
        check(self.wait_painted(main), "first picture painted", "still flat")
        pressed = time.monotonic()
        self.server.key(main, "ctrl+o")
        dialog = player.window("Open")
        check(dialog is not None, "Ctrl+O shows the window 'Open'",
              "windows seen: %r" % self.server.windows_of(player.pid))
        # The list opens on the folder of the recording playing, names as they are on disk.
        cell = x.atspi_wait(player.pid, ("table cell", "tree item", "list item"),
                            "Other-Camera.kxz")
        check(cell is not None, "the recording list shows Other-Camera.kxz",
              "no row of that name")
        # An upper bound: the window's rows as a screen reader first finds them (AT-SPI polled).
        print("    time from Ctrl+O to the list's rows: %.0f ms"
              % ((time.monotonic() - pressed) * 1000), flush=True)
        left, top, width, height = x.atspi_extents(cell)
        self.server.xdotool("mousemove", "--sync", str(left + width // 2),
                            str(top + height // 2))
        self.server.xdotool("click", "--repeat", "2", "--delay", "80", "1")
        self.server.xdotool("mousemove", str(x.SCREEN_WIDTH - 1), str(x.SCREEN_HEIGHT - 1))
        title = "(OTHER-HOST)(GMT+09:00)(2026/11/04) -- Playing"
        check(player.wait_title(main, title, timeout=10), "a double-click plays the row: %r" % title,
              "title %r" % player.title(main))
        check(player.window("Open", timeout=0.5) is None, "the Open window has closed",
              "it is still shown")
        os.remove(other)


class QuadSearchTest(PlayerTestCase):
    def test_ctrl_s_quad_search_plays_four_channels_side_by_side(self):
        # Four cameras on two boards (channels 1, 2, 5 and 6), each starting at its own moment.
        folder = os.path.join(CTX["tmp"], "dvr")
        os.makedirs(folder, exist_ok=True)
        for board, camera, second in ((1, 1, 0), (1, 2, 4), (2, 1, 8), (2, 2, 12)):
            subprocess.run([tool("kxrec"), "--resolution", "122", "--frames", "500", "--host", HOST,
                            "--board", str(board), "--camera", str(camera), "--start",
                            "2026-11-02 20:00:%02d" % second,
                            os.path.join(folder, "b%dc%d.kxz" % (board, camera))],
                           check=True, capture_output=True, timeout=120)
        player = self.start([])
        main = player.window("KX Player")
        check(main is not None, "main window shown", "windows %r" % self.server.windows_of(player.pid))
        self.server.key(main, "ctrl+s")
        dialog = player.window("Search")
        check(dialog is not None, "Ctrl+S shows the window 'Search'",
              "windows seen: %r" % self.server.windows_of(player.pid))
        path = x.atspi_wait(player.pid, ("text", "entry"), "Path")
        check(path is not None, "the Path field is found through AT-SPI", "not found")
        path.queryEditableText().setTextContents(folder)
        for name in ("Quad play", "Channel 1", "Channel 2", "Channel 5", "Channel 6"):
            box = x.atspi_wait(player.pid, ("check box",), name)
            check(box is not None, "check box %r found" % name, "not found")
            x.atspi_press(box)
        by_time = x.atspi_wait(player.pid, ("radio button",), "Search by time")
        x.atspi_press(by_time)
        # The computer's zone is GMT+9: the first recording began at 2026-11-03 05:00:00 there;
        # the last one begins two seconds after the moment and waits for the others to reach it.
        date = x.atspi_wait(player.pid, ("spin button", "text", "date editor"), "Date of the time")
        when = x.atspi_wait(player.pid, ("spin button", "text"), "Time of day")
        check(date is not None and when is not None, "the date and time pickers are found",
              "date %r, time %r" % (date, when))
        date.queryEditableText().setTextContents("2026-11-03")
        when.queryEditableText().setTextContents("05:00:10")
        x.atspi_press(x.atspi_wait(player.pid, ("push button",), "Search"))
        quad = player.window("(E2E-HOST)(GMT+09:00)(2026/11/03) -- Playing", timeout=15)
        check(quad is not None, "the quad play window plays, its title the first pane's",
              "windows seen: %r" % self.server.windows_of(player.pid))
        check(player.window("Search", timeout=0.5) is None, "the Search window has closed",
              "it is still shown")
        panes = [x.atspi_wait(player.pid, ("filler", "panel"), "Channel %d" % (i + 1))
                 for i in range(4)]
        check(all(panes), "four panes found through AT-SPI", "panes %r" % panes)
        time.sleep(3.0)
        _, _, first = self.server.shot(quad)
        time.sleep(0.6)
        _, _, second = self.server.shot(quad)
        qx, qy, qw, _ = self.server.geometry(quad)
        for i, pane in enumerate(panes):
            px, py, pw, ph = x.atspi_extents(pane)
            rows_a = [x.crop_rows(qw, first, py - qy + r, 1)[(px - qx) * 3:(px - qx + pw) * 3]
                      for r in range(0, ph, 8)]
            rows_b = [x.crop_rows(qw, second, py - qy + r, 1)[(px - qx) * 3:(px - qx + pw) * 3]
                      for r in range(0, ph, 8)]
            a, b = b"".join(rows_a), b"".join(rows_b)
            check(not x.is_flat(a), "pane %d shows a picture" % (i + 1), "one flat colour")
            check(a != b, "pane %d moves (two shots 600 ms apart differ)" % (i + 1), "equal shots")


class DesktopAssociationTest(PlayerTestCase):
    def test_recording_types_belong_to_the_player(self):
        for label, set_data_home in (("XDG_DATA_HOME set", True),
                                     ("XDG_DATA_HOME unset: ~/.local/share", False)):
            with self.subTest(label):
                print("   %s" % label, flush=True)
                self.home_count += 1
                home = os.path.join(CTX["tmp"], "home-desktop-%d" % self.home_count)
                if set_data_home:
                    data_home = os.path.join(home, "data")
                else:
                    data_home = os.path.join(home, ".local", "share")
                player = self.start([], extra_env={"XDG_DATA_HOME": data_home if set_data_home
                                                   else None}, home=home)
                check(player.window("KX Player") is not None, "the program started",
                      "no main window")
                self.check_association(player, home, data_home)
                self.finish(player)

    def check_association(self, player, home, data_home):
        xml_path = os.path.join(data_home, "mime", "packages", "kxplayer.xml")
        desktop_path = os.path.join(data_home, "applications", "kxplayer.desktop")
        cache = os.path.join(data_home, "mime", "mime.cache")
        ready = x.wait_for(lambda: all(os.path.exists(p) for p in (xml_path, desktop_path, cache)),
                           10)
        check(ready, "kxplayer.xml, kxplayer.desktop and the MIME cache under %s" % data_home,
              "present: %r" % [p for p in (xml_path, desktop_path, cache) if os.path.exists(p)])

        ns = {"m": "http://www.freedesktop.org/standards/shared-mime-info"}
        root = ElementTree.parse(xml_path).getroot()
        mime_type = root.find("m:mime-type", ns)
        check(mime_type is not None and mime_type.get("type"), "kxplayer.xml names a type",
              "no <mime-type type=...> in it")
        type_name = mime_type.get("type")
        globs = sorted(g.get("pattern") for g in mime_type.findall("m:glob", ns))
        check({"*.kx", "*.kxx", "*.kxq", "*.kxz", "*.ckx"} <= set(globs),
              "%s covers *.kx *.kxx *.kxq *.kxz *.ckx" % type_name, "globs %r" % globs)

        validate = subprocess.run(["desktop-file-validate", desktop_path], capture_output=True,
                                  text=True)
        check(validate.returncode == 0 and not validate.stdout.strip(),
              "kxplayer.desktop passes desktop-file-validate", validate.stdout + validate.stderr)
        with open(desktop_path) as f:
            entry = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        exec_program = entry.get("Exec", "").split(" ")[0]
        check(os.path.realpath(exec_program) == os.path.realpath(tool("kxplayer")),
              "Exec runs this kxplayer", "Exec=%r" % entry.get("Exec"))
        check(type_name in entry.get("MimeType", "").split(";"),
              "the desktop entry opens %s" % type_name, "MimeType=%r" % entry.get("MimeType"))

        env = dict(os.environ, HOME=home, XDG_DATA_HOME=data_home,
                   XDG_DATA_DIRS="/usr/share:/usr/local/share",
                   XDG_CONFIG_HOME=os.path.join(home, ".config"))
        env.pop("XDG_CURRENT_DESKTOP", None)
        samples = os.path.join(home, "samples")
        os.makedirs(samples, exist_ok=True)
        # Files by name (a copy of a real recording each), and a four-channel recording under a
        # name the globs do not cover, recognised by its "4XXK" magic.
        cases = []
        for pattern in ("*.kx", "*.kxx", "*.kxq", "*.kxz", "*.ckx"):
            path = os.path.join(samples, "some" + pattern[1:])
            shutil.copyfile(CTX["clip"], path)
            cases.append(path)
        quad = os.path.join(samples, "camera-wall.rec")
        if "quad" not in CTX:
            CTX["quad"] = os.path.join(CTX["tmp"], "quad.rec")
            subprocess.run([tool("kxrec"), "--four-channel", "--frames", "3", CTX["quad"]],
                           check=True, capture_output=True, timeout=120)
        shutil.copyfile(CTX["quad"], quad)
        cases.append(quad)
        for path in cases:
            query = subprocess.run(["xdg-mime", "query", "filetype", path], env=env,
                                   capture_output=True, text=True, timeout=30)
            check(query.stdout.strip() == type_name,
                  "xdg-mime query filetype %s -> %s" % (os.path.basename(path), type_name),
                  "got %r %s" % (query.stdout.strip(), query.stderr.strip()))
        default = subprocess.run(["xdg-mime", "query", "default", type_name], env=env,
                                 capture_output=True, text=True, timeout=30)
        check(default.stdout.strip() == "kxplayer.desktop",
              "xdg-mime query default %s -> kxplayer.desktop" % type_name,
              "got %r %s" % (default.stdout.strip(), default.stderr.strip()))


class FailedOpenTest(PlayerTestCase):
    def test_unreadable_files_give_a_message_naming_them(self):
        tmp = CTX["tmp"]
        bad = os.path.join(tmp, "bad")
        os.makedirs(bad, exist_ok=True)
        with open(CTX["clip"], "rb") as f:
            clip = f.read()
        files = {
            "missing": (os.path.join(bad, "no such recording.kxz"), None),
            "empty": (os.path.join(bad, "empty.kxz"), b""),
            "garbage": (os.path.join(bad, "garbage.kxx"), bytes((i * 7919) & 0xFF
                                                                 for i in range(5000))),
            "header cut short": (os.path.join(bad, "cut.kxz"), clip[:40]),
            "pictures cut off": (os.path.join(bad, "headonly.kxz"), clip[:80]),
        }
        for label, (path, content) in files.items():
            with self.subTest(label):
                print("   %s: %s" % (label, os.path.basename(path)), flush=True)
                if content is not None:
                    with open(path, "wb") as f:
                        f.write(content)
                player = self.start([path])
                dialog = x.atspi_wait(player.pid, ("alert", "dialog"), timeout=15)
                check(dialog is not None, "a message box appears", "no alert or dialog; windows "
                      "%r" % self.server.windows_of(player.pid))
                texts = x.atspi_texts(dialog)
                check(any(path in t for t in texts), "the message names %s" % path,
                      "texts %r" % texts)
                ok = x.atspi_find(dialog, ("push button",), "OK")
                check(ok is not None, "the message box has an OK button", "texts %r" % texts)
                x.atspi_press(ok)
                gone = x.wait_for(lambda: x.atspi_find(x.atspi_application(player.pid, 0),
                                                       ("alert", "dialog")) is None, 5)
                check(gone, "OK closes the message box", "still open")
                main = player.window("KX Player", timeout=5)
                check(main is not None and player.alive(),
                      "the program keeps running with an empty 'KX Player' window",
                      "alive %r, windows %r" % (player.alive(),
                                                self.server.windows_of(player.pid)))
                _, _, mw, _ = self.server.geometry(main)
                check(mw == 640, "the empty window has the 640-pixel view", "width %d" % mw)
                time.sleep(0.2)
                check(player.alive(), "still running after the message", "it ended")
                # The next case starts afresh: end this run now (the checks run at tearDown).
                self.finish(player)


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bin", required=True, help="folder holding kxplayer, kxtool, kxrec")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    ARGS, rest = parser.parse_known_args()
    ARGS.bin = os.path.abspath(ARGS.bin)
    if not os.environ.get("DBUS_SESSION_BUS_ADDRESS") and shutil.which("dbus-run-session"):
        # AT-SPI needs a session bus of its own: run again inside one.
        os.execvp("dbus-run-session", ["dbus-run-session", "--", sys.executable] + sys.argv)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
