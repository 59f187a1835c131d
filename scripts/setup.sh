#!/usr/bin/env bash
# Installs every Debian 12 package the project needs. Safe to run again: it does nothing when
# all of them are already there.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git
    libspdlog-dev libfmt-dev
    libboost-dev libboost-program-options-dev libboost-locale-dev
    nlohmann-json3-dev
    libcurl4-openssl-dev curl
    libcrypto++-dev
    libzip-dev zlib1g-dev libbz2-dev liblzf-dev
    gettext
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    openssl python3 tinyproxy zip unzip
    chromium nodejs fonts-roboto-unhinted
    xvfb xauth x11-apps netpbm libxcb1-dev xdotool
    clang-format
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "setup: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
"${sudo_cmd[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${packages[@]}"
