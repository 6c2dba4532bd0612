#!/usr/bin/env bash
# Builds the Debian package farlander_<version>_amd64.deb (a Release build for /usr in
# build-package/) and leaves it in the repository root.
# Install it with: sudo apt install ./farlander_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
# cpack needs dpkg-shlibdeps (dpkg-dev) and file to work out the package's dependencies.
bash scripts/apt-need.sh dpkg-dev file

cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DFARLANDER_TESTS=OFF -DFARLANDER_BENCH=OFF >/dev/null
cmake --build build-package -j"$(nproc)"
rm -f build-package/farlander_*.deb
(cd build-package && cpack -G DEB >/dev/null)

rm -f farlander_*.deb
mv build-package/farlander_*.deb .
ls farlander_*.deb
