#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset: clang, AddressSanitizer, UndefinedBehaviorSanitizer),
# fuzzes each for a bounded time, then replays the kept corpus and every earlier crash input.
#
# Usage: fuzz/run.sh [command] [target...]
#   run      (default) fuzz each target for FUZZ_SECONDS, then replay
#   replay   only replay fuzz/corpus/<target>/ and fuzz/regressions/<target>/ (no fuzzing)
#   merge    fuzz, then fold the inputs that add coverage into fuzz/corpus/<target>/
# Targets: fuzz_records fuzz_create_environment fuzz_match fuzz_simulation_c fuzz_tracking fuzz_tracker
# fuzz_recording fuzz_site_request (default: all).
# Environment: FUZZ_SECONDS (default 60) fuzzing time per target; FUZZ_BUILD_DIR (default
# build/fuzz); FUZZ_TIMEOUT (default 60) seconds one input may take before it counts as a hang.
#
# Found inputs are written under $FUZZ_BUILD_DIR/findings/<target>/ and never into the repository
# by `run`. A crash stops the script with the input's path: minimise it with
#   $FUZZ_BUILD_DIR/fuzz/<target> -minimize_crash=1 -runs=10000 -exact_artifact_path=<out> <input>
# and keep <out> in fuzz/regressions/<target>/ once the fault is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."

command=run
case "${1:-}" in
    run|replay|merge) command=$1; shift ;;
esac
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_records fuzz_create_environment fuzz_match fuzz_simulation_c fuzz_tracking
    fuzz_tracker fuzz_recording fuzz_site_request)
seconds=${FUZZ_SECONDS:-60}
build_dir=${FUZZ_BUILD_DIR:-build/fuzz}
timeout=${FUZZ_TIMEOUT:-60}

fuzzer_runtime_present() {
    command -v clang++-14 >/dev/null &&
        [ -f "$(clang++-14 -print-resource-dir)/lib/linux/libclang_rt.fuzzer-x86_64.a" ]
}

ensure_clang() {
    fuzzer_runtime_present && return
    echo "Installing clang-14 and libclang-rt-14-dev" >&2
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-14 libclang-rt-14-dev >/dev/null
}

build() {
    cmake --preset fuzz -B "$build_dir" >/dev/null
    cmake --build "$build_dir" --target "${targets[@]}"
}

# Options every run shares: bounded input time and memory, the dictionary where there is one.
fuzzer_options() {
    local target=$1
    local options=(-timeout="$timeout" -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1)
    local dictionary=fuzz/${target#fuzz_}.dict
    [ -f "$dictionary" ] && options+=(-dict="$dictionary")
    echo "${options[@]}"
}

fuzz() {
    local target=$1
    local findings=$build_dir/findings/$target
    local artifacts=$build_dir/artifacts/$target/
    mkdir -p "$findings" "$artifacts" "fuzz/corpus/$target"
    echo "== fuzzing $target for ${seconds}s" >&2
    # New inputs go to the first directory; the kept corpus is only read.
    # shellcheck disable=SC2046
    if ! "$build_dir/fuzz/$target" $(fuzzer_options "$target") -max_total_time="$seconds" \
        -artifact_prefix="$artifacts" "$findings" "fuzz/corpus/$target"; then
        echo "== $target failed; the input is in $artifacts" >&2
        return 1
    fi
}

# Runs every kept input once, without fuzzing.
replay() {
    local target=$1
    local directories=()
    for directory in "fuzz/corpus/$target" "fuzz/regressions/$target"; do
        [ -d "$directory" ] && [ -n "$(ls -A "$directory")" ] && directories+=("$directory")
    done
    [ ${#directories[@]} -gt 0 ] || return 0
    echo "== replaying $target: $(find "${directories[@]}" -type f | wc -l) inputs" >&2
    mkdir -p "$build_dir/artifacts/$target"
    # shellcheck disable=SC2046
    "$build_dir/fuzz/$target" $(fuzzer_options "$target") -runs=0 \
        -artifact_prefix="$build_dir/artifacts/$target/" "${directories[@]}"
}

# Keeps in the repository only the inputs that reach code the kept corpus does not; hit counts
# are ignored (-use_counters=0), which keeps the corpus to about a hundred small files.
merge() {
    local target=$1
    echo "== merging the findings of $target into fuzz/corpus/$target" >&2
    # shellcheck disable=SC2046
    "$build_dir/fuzz/$target" $(fuzzer_options "$target") -merge=1 -use_counters=0 \
        "fuzz/corpus/$target" "$build_dir/findings/$target"
}

ensure_clang
build
for target in "${targets[@]}"; do
    case $command in
        run) fuzz "$target" ;;
        merge) fuzz "$target" && merge "$target" ;;
    esac
done
for target in "${targets[@]}"; do
    replay "$target"
done
echo "== fuzzing passed: ${targets[*]}" >&2
