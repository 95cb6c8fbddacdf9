#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking Quillmoor need.
# Only missing packages are installed; works as root or through sudo.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-svg-dev qt6-webengine-dev libgl-dev
    xvfb xauth imagemagick fonts-dejavu-core
    libcurl4-openssl-dev zlib1g-dev
    curl python3 ffmpeg zip 7zip xdotool clang-format
    dpkg-dev fakeroot lintian desktop-file-utils appstream help2man librsvg2-bin
    at-spi2-core python3-pyatspi dbus-x11 dbus-daemon x11-utils
    # The benchmarks' file server, which they start themselves; Debian's package also enables a
    # system-wide nginx on port 80 where systemd runs, which nothing here uses.
    nginx
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
if [[ $(id -u) -ne 0 ]]; then sudo=(sudo); fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
