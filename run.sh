#!/usr/bin/env bash
# Build, test and try the plugin. Usage: ./run.sh [build|test|demo|bench|soak|fuzz]
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build_dir="${KESTROL_BUILD_DIR:-$here/build}"
packages=(build-essential cmake ninja-build pkg-config qtbase5-dev libcpp-httplib-dev libssl-dev)

install_missing_packages() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    command -v apt-get >/dev/null || { echo "run.sh: missing packages: ${missing[*]} (no apt-get here)" >&2; exit 1; }
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "run.sh: installing ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Extra arguments go to cmake's configure step.
configure_and_build() {
    install_missing_packages
    local werror=OFF
    [ -n "${CI:-}" ] && werror=ON
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTROL_WERROR="$werror" \
        "${launcher[@]}" "$@" >/dev/null
    cmake --build "$build_dir" -j "$(nproc)"
}

# --sanitize: build with AddressSanitizer and UndefinedBehaviorSanitizer in a build directory of its own;
# any report, a leak at exit included, fails the process that made it.
sanitize=0
use_sanitizers() {
    sanitize=1
    build_dir="$build_dir-sanitize"
    export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
}
build_for_mode() {
    if [ "$sanitize" -eq 1 ]; then
        configure_and_build -DKESTROL_SANITIZE=ON
    else
        configure_and_build
    fi
}

cmd="${1:-build}"
case "$cmd" in
build)
    configure_and_build
    ;;
test)
    [ "${2:-}" = "--sanitize" ] && use_sanitizers
    build_for_mode
    ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" --timeout 600
    ;;
demo)
    configure_and_build
    shift || true
    "$build_dir/bin/kestrolctl" demo "$@"
    ;;
bench)
    configure_and_build
    shift || true
    "$build_dir/bin/bench_load" "$@"
    ;;
soak)
    # ./run.sh soak [--sanitize] [N] [soak options]: a chaos soak of N requests (see kestrol-soak --help).
    shift || true
    [ "${1:-}" = "--sanitize" ] && use_sanitizers && shift
    build_for_mode
    if [ -n "${1:-}" ] && [ "${1#-}" = "$1" ]; then
        count="$1"
        shift
        set -- --requests "$count" "$@"
    fi
    "$build_dir/bin/kestrol-soak" "$@"
    ;;
fuzz)
    # ./run.sh fuzz [SECONDS]: every fuzz target for SECONDS (default 60) each, with clang's libFuzzer.
    shift || true
    "$here/fuzz/run-fuzzers.sh" "$build_dir-fuzz" "${1:-60}"
    ;;
*)
    echo "usage: $0 [build|test [--sanitize]|demo|bench|soak [--sanitize] [N]|fuzz [SECONDS]]" >&2
    exit 2
    ;;
esac
