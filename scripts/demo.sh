#!/usr/bin/env bash
# Installs what is missing, builds the plug-in and shows it working: probes the built vimble.so
# through its entry point, then renders the default demo (built-in sound, demo patch, a phrase
# of notes) into demo.wav and prints the summary.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/deps.sh
./scripts/build.sh release vimble vimble-host vimble-render

echo "== the plug-in as a host sees it =="
./build/bin/vimble-host probe build/vimble.so

echo
echo "== the default render: built-in sound, demo patch, a phrase of notes =="
./build/bin/vimble-render --seed 1 -o demo.wav
