"""quarvel track left running: its status server and page (in a real headless
chromium), its metrics, the service manager's notify protocol, the config
file and SIGHUP's reload, and a knocked camera, all on the installed tool
replaying recordings of the example infrared camera in real time.

The tool is QUARVEL_TOOL, the examples QUARVEL_EXAMPLES. In instrumented
builds (QUARVEL_INSTRUMENTED) the timing targets are reported, not held."""

import json
import math
import os
import re
import signal
import socket
import struct
import subprocess
import tempfile
import time
import urllib.request

import cv2
import numpy as np
import pytest

TOOL = os.environ.get("QUARVEL_TOOL", "quarvel")
EXAMPLES = os.environ.get("QUARVEL_EXAMPLES", "examples")
INSTRUMENTED = bool(os.environ.get("QUARVEL_INSTRUMENTED"))


def clip():
    """The example clip's frames, grey: 15 of the bare surface, then three
    fingers (one dragged, one held, one on an arc)."""
    capture = cv2.VideoCapture(os.path.join(EXAMPLES, "touch-clip.avi"))
    frames = []
    while True:
        ok, frame = capture.read()
        if not ok:
            break
        frames.append(cv2.cvtColor(frame, cv2.COLOR_BGR2GRAY))
    assert len(frames) >= 40
    return frames


def session(seconds, warp_from=None, warp=None):
    """`seconds` at 30 frames a second: the bare surface, then the three
    fingers going back and forth (one held still). From frame `warp_from` on, each frame is moved by
    the 2x3 matrix `warp` (a knocked camera)."""
    frames = clip()
    order = list(range(15))
    moving = list(range(28, len(frames))) + list(range(len(frames) - 2, 28, -1))  # all three down
    while len(order) < seconds * 30:
        order += moving
    out = []
    for n, k in enumerate(order[: int(seconds * 30)]):
        frame = frames[k]
        if warp_from is not None and n >= warp_from:
            frame = cv2.warpAffine(frame, warp, (frame.shape[1], frame.shape[0]), flags=cv2.INTER_LINEAR,
                                   borderMode=cv2.BORDER_REPLICATE)
        out.append(frame)
    return out


def record(directory, frames):
    for n, frame in enumerate(frames):
        assert cv2.imwrite(os.path.join(directory, "%04d.png" % n), frame)
    return os.path.join(directory, "%04d.png")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Tracking:
    """`quarvel track` running beside the test; standard output and error
    in files of the test's directory."""

    def __init__(self, directory, args, env=None):
        self.out_path = os.path.join(directory, "track.out")
        self.err_path = os.path.join(directory, "track.err")
        self.out = open(self.out_path, "wb")
        self.err = open(self.err_path, "wb")
        environment = dict(os.environ)
        environment.pop("DISPLAY", None)
        environment.update(env or {})
        self.process = subprocess.Popen([TOOL, "track"] + args, stdout=self.out, stderr=self.err,
                                        stdin=subprocess.DEVNULL, env=environment)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        status = self.process.wait(timeout=30)
        self.out.close()
        self.err.close()
        return status

    def stderr(self):
        with open(self.err_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def json_lines(self):
        with open(self.out_path, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]


def get(url, timeout=5):
    with urllib.request.urlopen(url, timeout=timeout) as response:
        return response.status, response.headers.get("Content-Type", ""), response.read()


def wait_for_status(base, process, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        assert process.poll() is None, "the tool ended before its status server answered"
        try:
            return json.loads(get(base + "status.json", timeout=1)[2])
        except OSError:
            time.sleep(0.1)
    pytest.fail("the status server did not answer")


@pytest.fixture
def directory():
    with tempfile.TemporaryDirectory() as d:
        yield d


@pytest.fixture
def params(directory):
    path = os.path.join(directory, "surface.ini")
    with open(os.path.join(EXAMPLES, "touch-surface.ini"), "rb") as f:
        text = f.read()
    with open(path, "wb") as f:
        f.write(text)
    return path


def metrics(base):
    """The exposition text, checked line by line against the format, as
    {(name, labels): value}."""
    status, kind, body = get(base + "metrics")
    assert status == 200 and kind.startswith("text/plain")
    text = body.decode("utf-8")
    assert text.endswith("\n")
    sample = re.compile(r'^([a-zA-Z_:][a-zA-Z0-9_:]*)(\{(?:[a-zA-Z_][a-zA-Z0-9_]*="(?:[^"\\\n]|\\.)*",?)*\})? '
                        r'(-?[0-9.e+-]+|NaN|[+-]Inf)$')
    values, typed = {}, {}
    for line in text.splitlines():
        if line.startswith("# TYPE "):
            _, _, name, kind = line.split(" ")
            assert kind in ("counter", "gauge"), line
            assert name not in typed, "a family typed twice: " + line
            typed[name] = kind
            continue
        if line.startswith("# HELP "):
            continue
        m = sample.match(line)
        assert m, "not a sample line: " + line
        assert m.group(1) in typed, "a sample before its TYPE: " + line
        assert (typed[m.group(1)] == "counter") == m.group(1).endswith("_total"), line
        values[(m.group(1), m.group(2) or "")] = float(m.group(3))
    try:  # and through Prometheus' own parser, where it is installed
        from prometheus_client.parser import text_string_to_metric_families
        assert len(list(text_string_to_metric_families(text))) == len(typed)
    except ImportError:
        pass
    return values


def test_status_and_metrics_during_a_real_time_replay(directory, params):
    """/status.json and /metrics while 30 frames a second come in; clients
    that send garbage or nothing at all stall nothing."""
    sequence = record(directory, session(8))
    port = free_port()
    base = "http://127.0.0.1:%d/" % port
    receiver = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    receiver.bind(("127.0.0.1", 0))
    receiver.settimeout(5)
    run = Tracking(directory, [params, "--video", sequence, "--realtime", "--absorb-seconds", "0",
                               "--status", str(port), "--tuio", "127.0.0.1:%d" % receiver.getsockname()[1]])
    try:
        wait_for_status(base, run.process)
        time.sleep(3)
        # A bundle's time tag is its frame's capture time (NTP seconds since 1900).
        receiver.setblocking(False)
        while True:  # the newest bundle
            try:
                bundle = receiver.recv(65536)
            except BlockingIOError:
                break
        received = time.time()
        receiver.close()
        first = metrics(base)
        idle = socket.create_connection(("127.0.0.1", port))  # says nothing
        junk = socket.create_connection(("127.0.0.1", port))
        junk.sendall(b"\x16\x03\x01\x00garbage\r\n\r\nGET /../../etc/passwd HTTP/9\r\n\r\n")
        for path in ("nothing", "view/7.jpg", "view/-1.jpg", "status.json?x=%00"):
            try:
                get(base + path)
            except urllib.error.HTTPError as e:
                assert e.code == 404, path
        time.sleep(1.5)
        status = json.loads(get(base + "status.json")[2])
        second = metrics(base)
        view = get(base + "view/0.jpg")
        idle.close()
        junk.close()
    finally:
        exit_status = run.stop()
    assert exit_status == 0, run.stderr()

    assert bundle.startswith(b"#bundle\0")
    seconds, fraction = struct.unpack(">II", bundle[8:16])
    captured = seconds - 2208988800 + fraction / 2.0 ** 32
    assert 0 <= received - captured < 1.0, (received, captured)
    camera = status["cameras"][0]
    assert status["version"] and status["uptime"] > 3
    assert status["display"] == {"width": 1920, "height": 1080}
    assert status["outputs"] == {"json": False, "tuio": "sending", "uinput": "off"}
    assert camera["background"]["state"] == "learned" and camera["background"]["threshold"] > 0
    assert camera["lost"] == 0 and camera["refused"] == 0 and camera["skipped"] == 0
    assert 1 <= len(camera["contacts"]) <= 3
    assert not camera["drift"]["measured"] or camera["drift"]["display_px"] < 0.5
    print("status: %.1f frames/s, processing %.2f / %.2f ms, latency %.2f / %.2f ms (median / 99th)" % (
        camera["fps"], camera["processing_ms"]["median"], camera["processing_ms"]["p99"],
        camera["latency_ms"]["median"], camera["latency_ms"]["p99"]))
    assert camera["latency_ms"]["p99"] >= camera["latency_ms"]["median"] > 0
    assert camera["latency_ms"]["median"] >= camera["processing_ms"]["median"]
    if not INSTRUMENTED:
        assert 25 <= camera["fps"] <= 35
        assert camera["latency_ms"]["p99"] <= 33

    name = '{camera="%s"}' % params
    for counter in ("quarvel_frames_total", "quarvel_frames_lost_total", "quarvel_frames_skipped_total"):
        assert (counter, name) in first and second[(counter, name)] >= first[(counter, name)]
    # 1.5 s and more at 30 frames a second
    assert second[("quarvel_frames_total", name)] - first[("quarvel_frames_total", name)] >= (10 if INSTRUMENTED else 40)
    assert 0 <= second[("quarvel_contacts", name)] <= 3
    assert second[("quarvel_output_up", '{output="tuio"}')] == 1
    assert view[0] == 200 and view[1] == "image/jpeg" and view[2][:2] == b"\xff\xd8"
    shown = cv2.imdecode(np.frombuffer(view[2], np.uint8), cv2.IMREAD_COLOR)
    assert shown.shape == (480, 640, 3)


def shot(element):
    """An element's screenshot, grey."""
    return cv2.imdecode(np.frombuffer(element.screenshot_as_png, np.uint8), cv2.IMREAD_GRAYSCALE)


def browser():
    from selenium import webdriver
    from selenium.webdriver.chrome.options import Options
    from selenium.webdriver.chrome.service import Service

    options = Options()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1200,1000"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def test_the_page_in_a_headless_browser(directory, params):
    """The page loads without a console error, shows the frame rate and a
    view that changes."""
    pytest.importorskip("selenium")
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait

    sequence = record(directory, session(10))
    port = free_port()
    base = "http://127.0.0.1:%d/" % port
    run = Tracking(directory, [params, "--video", sequence, "--realtime", "--status", str(port)])
    driver = None
    try:
        wait_for_status(base, run.process)
        time.sleep(2.5)  # past the background's learning, fingers down
        driver = browser()
        driver.get(base)
        wait = WebDriverWait(driver, 15)
        wait.until(lambda d: d.find_elements(By.ID, "fps-0") and float(d.find_element(By.ID, "fps-0").text or 0) > 0)
        wait.until(lambda d: d.execute_script(
            "const i = document.getElementById('view-0'); return i.complete && i.naturalWidth > 0;"))
        fps = float(driver.find_element(By.ID, "fps-0").text)
        frames = int(driver.find_element(By.ID, "frames-0").text)
        before = shot(driver.find_element(By.ID, "view-0"))
        # The session goes back and forth, so one fixed wait can land on the
        # same picture again: look a few times within the 1.5 s.
        change = 0.0
        for _ in range(6):
            time.sleep(0.25)
            after = shot(driver.find_element(By.ID, "view-0"))
            assert after.shape == before.shape and after.shape[1] >= 320
            change = max(change, float(np.mean(cv2.absdiff(before, after))))
            if change > 0.5:
                break
        later = int(driver.find_element(By.ID, "frames-0").text)
        background = driver.find_element(By.ID, "background-0").text
        title = driver.title
        logs = driver.get_log("browser")
    finally:
        if driver is not None:
            driver.quit()
        run.stop()
    assert title == "quarvel track"
    errors = [entry for entry in logs if entry["level"] == "SEVERE"]
    assert not errors, errors
    print("page: %.1f frames/s shown, frames %d -> %d, view changed by %.1f grey levels" % (fps, frames, later, change))
    if not INSTRUMENTED:
        assert 25 <= fps <= 35
    assert later > frames
    assert background.startswith("learned")
    assert change > 0.5, "the view did not change"


def test_the_service_manager_hears_ready_and_the_watchdog(directory, params):
    """READY=1 after the first frame, WATCHDOG=1 at half of
    WATCHDOG_USEC while frames flow, STATUS= with it, STOPPING=1 at the
    end, all on a socket of the test's own."""
    sequence = record(directory, session(6))
    path = os.path.join(directory, "notify")
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    listener.bind(path)
    listener.settimeout(0.2)
    run = Tracking(directory, [params, "--video", sequence, "--realtime"],
                   env={"NOTIFY_SOCKET": path, "WATCHDOG_USEC": "1000000"})
    messages = []
    try:
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and run.process.poll() is None:
            try:
                messages.append((time.monotonic(), listener.recv(4096).decode()))
            except socket.timeout:
                pass
    finally:
        status = run.stop()
        listener.close()
    assert status == 0, run.stderr()
    assert messages, "nothing was said"
    ready_at, first = messages[0]
    assert "READY=1" in first.split("\n")
    pings = [t for t, m in messages if "WATCHDOG=1" in m.split("\n") and t - ready_at <= 4.0]
    print("notify: %d WATCHDOG=1 in the 4 s after READY=1" % len(pings))
    assert len(pings) >= 3
    assert any(re.search(r"^STATUS=[0-9.]+ frames/s, \d+ contacts", m, re.M) for _, m in messages)
    assert "STOPPING=1" in messages[-1][1]


def test_a_config_file_and_a_reload_that_keeps_the_contacts_down(directory, params):
    """Options from --config; SIGHUP reads the changed calibration: the
    fingers down keep their ids, nothing lifts, and their positions move by
    what the calibration moved."""
    sequence = record(directory, session(7))
    config = os.path.join(directory, "surface.conf")
    with open(config, "w") as f:
        f.write("# the left wall\n%s --video '%s'\n--realtime --json   # one line a frame\n"
                "--absorb-seconds 0\n" % (params, sequence))
    run = Tracking(directory, ["--config", config])
    try:
        time.sleep(4)
        with open(params, "rb") as f:
            text = f.read()
        moved = re.sub(rb"a02=(-?[0-9.]+)", lambda m: b"a02=%.2f" % (float(m.group(1)) + 30), text)
        assert moved != text
        with open(params, "wb") as f:
            f.write(moved)
        reload_at = len(open(run.out_path).read().splitlines())
        run.process.send_signal(signal.SIGHUP)
        time.sleep(1.5)
    finally:
        status = run.stop()
    assert status == 0, run.stderr()
    assert "reloaded 1 calibration" in run.stderr()
    frames = run.json_lines()
    assert len(frames) > reload_at + 20
    # The held finger: the same id before and after, never lifting in between.
    by_id = {}
    for f in frames[:-1]:
        for c in f["contacts"]:
            by_id.setdefault(c["id"], []).append((f["frame"], c))
    # the finger held still: the least spread in the camera
    finger = min(by_id, key=lambda k: np.ptp([c["cx"] for _, c in by_id[k]]) + np.ptp([c["cy"] for _, c in by_id[k]]))
    seen = by_id[finger]
    assert seen[0][0] < reload_at - 30 and seen[-1][0] > reload_at + 20
    assert all(c["state"] != "up" for _, c in seen)
    before = [c for n, c in seen if n < reload_at - 5]
    after = [c for n, c in seen if n > reload_at + 5]
    w = (-4.336018e-05 * before[-1]["cx"] - 5.8127676e-05 * before[-1]["cy"] + 1)  # the matrix's third row, roughly
    shift = after[-1]["x"] - before[-1]["x"]
    print("reload: finger %d moved by %.2f display px (the matrix by %.2f)" % (finger, shift, 30 / w))
    assert abs(shift - 30 / w) < 1.5
    assert abs(after[-1]["y"] - before[-1]["y"]) < 1.0


def test_a_knocked_camera_is_reported(directory, params):
    """The camera moved by 3 px and turned by 0.3 degrees at 5 s: the
    status shows it within 2 s, and the log says it once. The example
    surface's only structure is one hot spot, which a turn merely shifts:
    the shift it shows is reported, no turn is made up."""
    size = clip()[0].shape
    centre = (size[1] / 2 - 0.5, size[0] / 2 - 0.5)
    warp = cv2.getRotationMatrix2D(centre, 0.3, 1.0)
    warp[0, 2] += 3.0
    sequence = record(directory, session(8.5, warp_from=150, warp=warp))
    port = free_port()
    base = "http://127.0.0.1:%d/" % port
    run = Tracking(directory, [params, "--video", sequence, "--realtime", "--status", str(port)])
    seen_at = None
    try:
        wait_for_status(base, run.process)
        started = time.monotonic()
        while run.process.poll() is None:
            status = json.loads(get(base + "status.json")[2])
            camera = status["cameras"][0]
            if camera["frames"] >= 150 and camera["drift"]["camera_px"] >= 2.0:
                seen_at = camera["frames"]
                drift = camera["drift"]
                break
            time.sleep(0.1)
    finally:
        run.stop()
    assert seen_at is not None, "the knock never showed in the status"
    print("knock: %.2f camera px, %.2f degrees, %.1f display px at frame %d (knocked at 150)" % (
        drift["camera_px"], drift["degrees"], drift["display_px"], seen_at))
    assert seen_at - 150 <= 60  # two seconds at 30 frames a second
    assert drift["degrees"] == 0
    assert drift["camera_px"] <= 3.6  # the knock moves the hot spot by 2.6 px
    log = run.stderr()
    assert log.count("camera moved by") == 1, log
    assert "recalibrate or run with --follow-drift" in log
