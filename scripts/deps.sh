#!/usr/bin/env bash
# Installs the packages Farlander needs to build and test, when any is missing.
# Further packages to install can be named as arguments (scripts/run.sh adds the
# desktop's URL handler, xdg-utils, which the browser hands web and mail links to,
# and fonts for East Asian scripts and emoji).
set -euo pipefail

packages=(build-essential cmake pkg-config qt6-base-dev libssl-dev libgtest-dev libgmock-dev
          libbenchmark-dev libutf8proc-dev gettext fonts-dejavu-core "$@")

exec bash "$(dirname "$0")/apt-need.sh" "${packages[@]}"
