#!/usr/bin/env bash
# Installs the packages Farlander needs to build and test, when any is missing.
# Further packages to install can be named as arguments (scripts/run.sh adds the
# desktop's URL handler, xdg-utils, which the browser hands web and mail links to,
# and fonts for East Asian scripts and emoji).
set -euo pipefail

packages=(build-essential cmake pkg-config qt6-base-dev libssl-dev libgtest-dev libgmock-dev
          libbenchmark-dev libutf8proc-dev gettext fonts-dejavu-core "$@")

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
