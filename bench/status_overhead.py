#!/usr/bin/python3
"""What watching costs: frames a second `quarvel track` tracks from a video
as fast as it can, with --status and a headless chromium showing the page,
against without. Usage: bench/status_overhead.py QUARVEL [RUNS]"""

import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "tools"))
os.environ.setdefault("QUARVEL_EXAMPLES", os.path.join(os.path.dirname(__file__), "..", "examples"))
import service_test as rig  # noqa: E402  (the tests' recordings and browser)


def rate(tool, params, sequence, status_port=None):
    args = [tool, "track", params, "--video", sequence]
    if status_port:
        args += ["--status", str(status_port)]
    run = subprocess.run(args, capture_output=True, text=True, check=True)
    return float(re.search(r"([0-9.]+) frames/s", run.stdout).group(1))


def watched(tool, params, sequence):
    port = rig.free_port()
    driver = rig.browser()
    process = subprocess.Popen([tool, "track", params, "--video", sequence, "--status", str(port)],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    for _ in range(200):  # the page open as soon as the server answers
        try:
            driver.get("http://127.0.0.1:%d/" % port)
            break
        except Exception:  # noqa: BLE001 (not listening yet)
            time.sleep(0.01)
    out, _ = process.communicate(timeout=600)
    driver.quit()
    return float(re.search(r"([0-9.]+) frames/s", out).group(1))


def main():
    tool = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    with tempfile.TemporaryDirectory() as d:
        params = os.path.join(d, "surface.ini")
        with open(os.path.join(os.environ["QUARVEL_EXAMPLES"], "touch-surface.ini"), "rb") as f, \
                open(params, "wb") as g:
            g.write(f.read())
        sequence = rig.record(d, rig.session(60))  # 1800 frames
        plain, served, browsed = [], [], []
        for _ in range(runs):
            plain.append(rate(tool, params, sequence))
            served.append(rate(tool, params, sequence, rig.free_port()))
            browsed.append(watched(tool, params, sequence))
    p, s, b = (statistics.median(x) for x in (plain, served, browsed))
    print("frames/s, median of %d: plain %.0f, --status %.0f (%.2fx), --status with the page open %.0f (%.2fx)"
          % (runs, p, s, s / p, b, b / p))


if __name__ == "__main__":
    main()
