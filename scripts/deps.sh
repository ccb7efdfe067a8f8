#!/usr/bin/env bash
# Installs what building, testing and packaging Velto needs from Debian's packages,
# only when something is missing. Runs as root, or through sudo.
set -euo pipefail

packages=(cmake make ninja-build g++ pkg-config qt6-base-dev libxkbcommon-dev libjpeg62-turbo-dev libfontconfig-dev libqcustomplot-dev libgit2-dev
          fonts-liberation qt6-translations-l10n clang libclang-rt-14-dev ccache
          dpkg-dev file lintian appstream desktop-file-utils)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
