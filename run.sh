#!/usr/bin/env bash
# Build, test and try the plugin.
# Usage: ./run.sh [build|test|demo|bench|package|soak [N]|fuzz [SECONDS]] [--qt6] [--sanitize] [ARGS...]
# Qt 5.15 by default; --qt6 (or KESTROL_QT_MAJOR=6) builds against Qt 6 in its own build directory, the
# Qt 5 one with "-qt6" appended (build-qt6/ unless KESTROL_BUILD_DIR names another). --sanitize builds with
# AddressSanitizer and UndefinedBehaviorSanitizer in a build directory of its own ("-sanitize" appended);
# any report, a leak at exit included, fails the process that made it.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cmd="${1:-build}"
shift || true
qt_major="${KESTROL_QT_MAJOR:-5}"
sanitize=0
args=()
for arg in "$@"; do
    case "$arg" in
    --qt6) qt_major=6 ;;
    --qt5) qt_major=5 ;;
    --sanitize) sanitize=1 ;;
    *) args+=("$arg") ;;
    esac
done
case "$qt_major" in
5) qt_package=qtbase5-dev suffix="" build_suffix="" ;;
6) qt_package=qt6-base-dev suffix="-qt6" build_suffix="-qt6" ;;
*) echo "run.sh: KESTROL_QT_MAJOR must be 5 or 6, not $qt_major" >&2; exit 2 ;;
esac
build_dir="${KESTROL_BUILD_DIR:-$here/build}$build_suffix"
sanitize_options=()
if [ "$sanitize" -eq 1 ]; then
    build_dir="$build_dir-sanitize"
    sanitize_options=(-DKESTROL_SANITIZE=ON)
    export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    export LSAN_OPTIONS="suppressions=$here/tests/lsan.supp:print_suppressions=0"
fi
packages=(build-essential cmake ninja-build pkg-config "$qt_package" libcpp-httplib-dev libssl-dev)

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

configure_and_build() {
    install_missing_packages
    local werror=OFF
    [ -n "${CI:-}" ] && werror=ON
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTROL_WERROR="$werror" \
        -DKESTROL_QT_MAJOR="$qt_major" "${launcher[@]}" "${sanitize_options[@]}" "$@" >/dev/null
    cmake --build "$build_dir" -j "$(nproc)"
}

case "$cmd" in
build)
    configure_and_build
    ;;
test)
    configure_and_build
    ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" --timeout 600
    ;;
demo)
    configure_and_build
    "$build_dir/bin/kestrolctl$suffix" demo "${args[@]}"
    ;;
bench)
    configure_and_build
    "$build_dir/bin/bench_load" "${args[@]}"
    ;;
package)
    # dpkg-shlibdeps and file let cpack compute each package's library dependencies.
    packages+=(dpkg-dev file)
    configure_and_build -DCMAKE_INSTALL_PREFIX=/usr
    (cd "$build_dir" && cpack -G DEB)
    ls "$build_dir"/packages/*.deb
    ;;
soak)
    # A chaos soak of N requests (default 20000); the other arguments go to kestrol-soak (see its --help).
    configure_and_build
    if [ ${#args[@]} -gt 0 ] && [[ "${args[0]}" =~ ^[0-9]+$ ]]; then
        args=(--requests "${args[@]}")
    fi
    "$build_dir/bin/kestrol-soak" "${args[@]}"
    ;;
fuzz)
    # Every fuzz target for SECONDS (default 60) each, with clang's libFuzzer.
    "$here/fuzz/run-fuzzers.sh" "$build_dir-fuzz" "${args[0]:-60}"
    ;;
*)
    echo "usage: $0 [build|test|demo|bench|package|soak [N]|fuzz [SECONDS]] [--qt6] [--sanitize] [ARGS...]" >&2
    exit 2
    ;;
esac
