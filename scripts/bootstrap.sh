#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Idempotent, and
# quiet when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libcurl4-openssl-dev libboost1.81-dev libcpp-httplib-dev
  libfltk1.3-dev
  googletest libgtest-dev libbenchmark-dev
  xvfb xdotool x11-utils imagemagick fonts-wqy-zenhei
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "bootstrap: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
