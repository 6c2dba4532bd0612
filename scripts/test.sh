#!/usr/bin/env bash
# Installs what is missing, builds Farlander and runs every test headless.
#   scripts/test.sh             normal build in build/
#   scripts/test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
#   scripts/test.sh --threads   ThreadSanitizer build in build-tsan/, the threaded suites only
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

dir=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [[ "${1:-}" == "--sanitize" ]]; then
    dir=build-asan
    flags=(-DCMAKE_BUILD_TYPE=Debug -DFARLANDER_SANITIZE=ON -DFARLANDER_BENCH=OFF)
    export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
select=()
if [[ "${1:-}" == "--threads" ]]; then
    dir=build-tsan
    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DFARLANDER_TSAN=ON -DFARLANDER_BENCH=OFF)
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp"
    select=(-R '^(TaskSignals|NetSocket|Child|Fetch|ShellTest|Tls|DumpTest|Gui|WindowTest|ViewTest|BrowserTest|PaletteTest|Trust)')
fi

export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-/tmp/farlander-runtime-$(id -u)}"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

cmake -S . -B "$dir" "${flags[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
cd "$dir"
ctest --output-on-failure -j"$(nproc)" "${select[@]}"
