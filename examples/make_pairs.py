#!/usr/bin/python3
"""Writes examples/pairs.txt: 5 x 4 measured pairs for a 1280 x 720 camera
on a 1920 x 1080 display, as a detector would report them (0.3 px noise,
one misclick). The truth is a barrel of corner magnification 1.2 and a mild
keystone. Needs the quarvel Python module (PYTHONPATH=<build>/python)."""
import os

import numpy as np

import quarvel

truth = quarvel.Quarvel()
truth.set_display_size(1920, 1080)
p = quarvel.CalibrationParams()
p.image_width, p.image_height = 1280, 720
s = 640.0**2 + 360.0**2
p.focal_z = float(np.sqrt(s / (1 - 1 / 1.2)))
p.matrix = np.array([[1.45 / 1.2, 0.03, 30], [-0.01, 1.44 / 1.2, 20], [2e-5 / 1.2, 3e-5 / 1.2, 1]])
truth.load_params(p)

targets = np.array([[round(240 + c * 1440 / 4), round(135 + r * 810 / 3)] for r in range(4) for c in range(5)],
                   dtype=float)
cameras = truth.invert_points(targets) + np.random.default_rng(3).normal(0, 0.3, (20, 2))
cameras[7] += (60, -45)  # the installer's misclick
with open(os.path.join(os.path.dirname(__file__), "pairs.txt"), "w") as out:
    out.write("# camera x, camera y (detector centroids), display X, Y (target shown)\n")
    for (x, y), (X, Y) in zip(cameras, targets):
        out.write(f"{x:.3f} {y:.3f} {X:.0f} {Y:.0f}\n")
