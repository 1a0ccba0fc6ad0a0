#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Brimvale need.
# As root it installs what is missing with apt-get; otherwise it prints the install line and stops.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config clang-format clang-tidy git
    qt6-base-dev qt6-tools-dev qt6-l10n-tools qt6-translations-l10n libgl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth xdotool libx11-dev libxcb1-dev libwayland-dev fonts-liberation
    weston qt6-wayland python3
    rsync strace liburing-dev procps
    dbus-daemon dbus-bin dbus-session-bus-common
    dpkg-dev desktop-file-utils appstream man-db lintian file
    exfatprogs exfat-fuse
    mount e2fsprogs xfsprogs btrfs-progs ntfs-3g fuse3 sshfs openssh-server openssh-client
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
    echo "Missing packages. Install them with:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    exit 1
fi
