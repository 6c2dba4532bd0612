#!/usr/bin/env bash
# Installs what is missing, builds Farlander and starts it. Arguments go to the browser.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh xdg-utils fonts-noto-cjk fonts-noto-color-emoji
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DFARLANDER_TESTS=OFF -DFARLANDER_BENCH=OFF >/dev/null
cmake --build build-release -j"$(nproc)" --target farlander
exec ./build-release/farlander "$@"
