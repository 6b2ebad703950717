#!/usr/bin/python3
"""Reference values for the sub-pixel chain and its inverse, computed with an
independent float32/float64 model of the chain (numpy float32 for every
named quantity, Python floats for the arithmetic between them). Prints the
C++ table used by tests/subpixel_test.cpp.

Calibration: examples/calibration.ini (1280 x 720, f = 1800, mild keystone)
on a 1680 x 1050 display.
"""
import math
import numpy as np


def f32(v):
    return float(np.float32(v))


def trunc_half(v):
    return math.trunc(v + 0.5)


W, H, F = 1280, 720, 1800.0
M = [f32(v) for v in (1.0, 0.03, 40, 0, 1.02, 30, 0.00002, 0.00004, 1)]
SCREEN = (1680, 1050)


def barrel_factor(f, s):
    t = f32(s / (2.0 * f))
    return f32(f / (f - 2.0 * t))


def setup():
    cx, cy = f32(W * 0.5), f32(H * 0.5)
    s = f32(f32(cx * cx) + f32(cy * cy))
    k = barrel_factor(F, s)
    a, b = f32(cx * k), f32(k * cy)
    w1, h1 = trunc_half(2.0 * a), trunc_half(2.0 * b)
    if w1 > SCREEN[0] or h1 > SCREEN[1]:
        rx = f32(SCREEN[0] / w1 - f32(0.05))
        ry = f32(SCREEN[1] / h1 - f32(0.05))
        scale = rx if rx < ry else ry
    else:
        scale = 1.0
    ow, oh = trunc_half(w1 * scale), trunc_half(h1 * scale)
    return cx, cy, scale, f32(ow * 0.5), f32(oh * 0.5)


CX, CY, SCALE, OCX, OCY = setup()


def correct_subpixel(px, py):
    dx, dy = f32(px - CX), f32(py - CY)
    s = f32(f32(dx * dx) + f32(dy * dy))
    k = barrel_factor(F, s)
    x = f32(OCX + f32(k * dx * SCALE))
    y = f32(OCY + f32(k * dy * SCALE))
    w = f32((M[6] * x + M[7] * y) + M[8])
    tx = f32((M[0] * x + M[1] * y) + M[2])
    ty = f32((M[3] * x + M[4] * y) + M[5])
    return tx / w, ty / w


POINTS = [(0.0, 0.0), (10.25, 5.75), (639.5, 359.5), (1279.0, 719.0), (100.125, 600.875), (1200.3, 50.7),
          (-3.5, 800.25)]

print("// (x, y) -> (X, Y), from tests/reference/subpixel_reference.py")
for px, py in POINTS:
    X, Y = correct_subpixel(px, py)
    print("    {%s, %s, %s, %s}," % (float(px).hex(), float(py).hex(), X.hex(), Y.hex()))
