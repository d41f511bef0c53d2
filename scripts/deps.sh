#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, only when some are missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  libboost-filesystem-dev libboost-iostreams-dev libboost-system-dev
  libsndfile1-dev sox
  clang libclang-rt-14-dev
  libcairo2-dev libx11-dev libfontconfig1-dev fonts-liberation xvfb xauth
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
