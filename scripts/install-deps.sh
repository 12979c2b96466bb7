#!/usr/bin/env bash
# Installs everything Tavrilox needs to build, test and run on Debian 12.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  zlib1g-dev libdeflate-dev libcurl4-openssl-dev libssl-dev libonig-dev picojson-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  clang llvm
  fonts-noto-cjk xvfb xauth
  desktop-file-utils dpkg-dev systemd  # checks of the installed layout and the .deb
  jdim  # a real board reader for the end-to-end test
  # The local dat route drives a second JaneStyle under Wine through a small
  # Windows program of ours, built with MinGW (and so is its test's fake reader).
  wine wine64 g++-mingw-w64-x86-64
)

if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${packages[@]}"
