#!/usr/bin/env bash
# Installs what Glyphtack needs to build, run and test on Debian, skipping what is already there.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev qt6-image-formats-plugins
    libjpeg62-turbo-dev libjpeg-turbo-progs liblcms2-dev libpng-dev libfontconfig-dev
    fonts-liberation2 fonts-dejavu-core fonts-wqy-microhei fonts-noto-color-emoji
    libheif-dev libjxl-dev
    xvfb xauth xdotool x11-apps imagemagick libimage-exiftool-perl time python3 desktop-file-utils
    dpkg-dev appstream parallel lintian
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
