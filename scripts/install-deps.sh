#!/usr/bin/env bash
# Installs what building and testing Quarvel needs on Debian 12, and
# generates the de_DE.UTF-8 locale the locale-independence test runs under.
set -euo pipefail

packages=(
  build-essential cmake pkg-config clang        # compilers and build
  libopencv-dev                                 # matrix, image and window types
  libopencv-contrib-dev                         # the calibration pattern and its detector (aruco)
  libxcb1-dev libxcb-randr0-dev                 # display size from X servers
  libwayland-dev wayland-protocols              # display size from Wayland compositors
  libx11-dev                                    # tests: a host's own Xlib error handler
  liblo-dev                                     # the tool: touches sent as TUIO over OSC
  libevdev-dev                                  # the tool: touches as a virtual touchscreen (uinput)
  libgtest-dev                                  # unit tests
  libbenchmark-dev libhwy-dev                   # benchmarks (the chain on Highway beside ours)
  pybind11-dev python3-dev python3-pybind11     # the Python module
  python3-numpy python3-pytest                  # the Python module's tests
  help2man                                      # the man page
  xvfb xauth x11-utils x11-xserver-utils        # tests against a real X server
  weston                                        # tests against a headless Wayland compositor
  gcovr                                         # coverage summary
  locales                                       # decimal-comma locale test
)

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  sudo_cmd=(sudo)
fi

export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null

if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  "${sudo_cmd[@]}" sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  "${sudo_cmd[@]}" locale-gen >/dev/null
fi
