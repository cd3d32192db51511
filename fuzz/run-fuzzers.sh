#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each with libFuzzer (clang, AddressSanitizer, UndefinedBehaviorSanitizer),
# starting from the seed corpus in fuzz/corpus/. New inputs go to BUILD_DIR/corpus/, findings to
# BUILD_DIR/findings/; a finding fails the run. Usage: run-fuzzers.sh BUILD_DIR SECONDS
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build_dir="$1"
seconds="$2"
targets=(deviceinfo countervalues counterlist bodytext exporturl backuppath)

if ! command -v clang++ >/dev/null; then
    echo "run-fuzzers.sh: clang++ is needed for libFuzzer (apt-get install clang)" >&2
    exit 1
fi
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$here/.." -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DKESTROL_FUZZ=ON "${launcher[@]}" >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

failed=0
mkdir -p "$build_dir/findings"
for target in "${targets[@]}"; do
    corpus="$build_dir/corpus/$target"
    mkdir -p "$corpus"
    log="$build_dir/fuzz_$target.log"
    status=0
    "$build_dir/bin/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
        -artifact_prefix="$build_dir/findings/$target-" "$corpus" "$here/corpus/$target" >"$log" 2>&1 || status=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    findings=$(find "$build_dir/findings" -name "$target-*" | wc -l)
    printf '%-14s %12s execs  corpus %5s  findings %s\n' "$target" "${execs:-?}" \
        "$(find "$corpus" -type f | wc -l)" "$findings"
    if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
        failed=1
        grep -E "fuzz check failed|ERROR: |SUMMARY" "$log" | head -5 >&2 || true
    fi
done
exit "$failed"
