#!/usr/bin/env bash
# Installs what building and testing Quarvel needs, on Debian 12 (bookworm),
# Debian 13 (trixie) and Ubuntu 24.04 (noble), and generates the de_DE.UTF-8
# locale the locale-independence test runs under. Uses sudo when not root.
set -euo pipefail

id=unknown
version=unknown
if [[ -r /etc/os-release ]]; then
  # shellcheck disable=SC1091
  id=$(. /etc/os-release && echo "${ID:-unknown}")
  version=$(. /etc/os-release && echo "${VERSION_ID:-unknown}")
fi
case "$id $version" in
  "debian 12" | "debian 13" | "ubuntu 24.04") ;;
  *) echo "install-deps: $id $version is not one of Debian 12, Debian 13, Ubuntu 24.04; trying anyway" >&2 ;;
esac

packages=(
  build-essential cmake pkg-config              # compilers and build
  clang libclang-rt-dev                         # the sanitizer, thread and fuzz builds (with their runtimes)
  libopencv-dev                                 # matrix, image and window types; from 4.7 the pattern's markers
  libxcb1-dev libxcb-randr0-dev                 # display size from X servers
  libwayland-dev wayland-protocols              # display size from Wayland compositors
  libx11-dev                                    # tests: a host's own Xlib error handler
  liblo-dev                                     # the tool: touches sent as TUIO over OSC
  libevdev-dev                                  # the tool: touches as a virtual touchscreen (uinput)
  libcpp-httplib-dev                            # the tool: the status page and metrics (track --status) ...
  libssl-dev zlib1g-dev libbrotli-dev           # ... and what its header calls inline
  libsystemd-dev                                # the tool: the service manager's notify protocol and watchdog
  libgtest-dev                                  # unit tests
  libbenchmark-dev libhwy-dev                   # benchmarks; Highway also the tracker's SIMD background pass
  pybind11-dev python3-dev python3-pybind11     # the Python module
  python3-numpy python3-pytest                  # the Python module's tests
  python3-opencv                                # the Python examples (cv2 reads cameras and pictures)
  python3-selenium                              # tests: the status page in a real headless browser ...
  python3-prometheus-client                     # tests: the metrics read by Prometheus' own parser
  systemd                                       # tests: the service's unit file checked by systemd-analyze
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

# Up to OpenCV 4.6 (Debian 12, Ubuntu 24.04) the markers are found by the
# contrib module aruco; from 4.7 (Debian 13) by objdetect, in libopencv-dev.
opencv=$(apt-cache policy libopencv-dev | awk '/Candidate:/ { print $2 }')
if [[ -z $opencv || $opencv == "(none)" ]]; then
  echo "install-deps: no libopencv-dev in the package lists" >&2
  [[ $id == ubuntu ]] && echo "install-deps: enable the universe component (sudo add-apt-repository universe)" >&2
  exit 1
fi
if dpkg --compare-versions "${opencv#*:}" lt 4.7; then
  packages+=(libopencv-contrib-dev)
fi
if [[ $id == ubuntu ]] && [[ $(apt-cache policy libhwy-dev | awk '/Candidate:/ { print $2 }') =~ ^(|\(none\))$ ]]; then
  echo "install-deps: libhwy-dev, weston and gcovr come from Ubuntu's universe component:" \
    "sudo add-apt-repository universe" >&2
  exit 1
fi

# ... Debian's chromium (Ubuntu's is a snap, which containers cannot run:
# there the browser test is left out, and the build says so).
if [[ $id == debian ]]; then
  packages+=(chromium chromium-driver)
fi

"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null

if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  if [[ -f /etc/locale.gen ]] && grep -q 'de_DE.UTF-8 UTF-8' /etc/locale.gen; then
    "${sudo_cmd[@]}" sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    "${sudo_cmd[@]}" locale-gen >/dev/null
  else
    "${sudo_cmd[@]}" locale-gen de_DE.UTF-8 >/dev/null  # Ubuntu's locale-gen takes the locale
  fi
fi
