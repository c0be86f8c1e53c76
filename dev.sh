#!/usr/bin/env bash
# Builds and runs this project. Usage:
#   ./dev.sh run        build the release tool and run its demo (describe, draw, simulate)
#   ./dev.sh test       build and run the whole test suite (release)
#   ./dev.sh sanitize   the whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer
#   ./dev.sh tsan       the concurrency tests under ThreadSanitizer
#   ./dev.sh bench      build and run the benchmarks
#   ./dev.sh fuzz       fuzz each target for FUZZ_SECONDS (default 60), then replay the kept inputs
#   ./dev.sh example    install the release library into a temporary prefix, build and run examples/
#   ./dev.sh python     the Python package's tests against the release library (also part of test)
#   ./dev.sh package    build the .deb and .tar.gz, unpack the .deb into a scratch root and run the
#                       example hosts, the tool, the Python tests and the README's walk-through on it
#   ./dev.sh web        build the browser room designer (WebAssembly, Emscripten) into build/web/
#   ./dev.sh web-test   the designer in headless Chromium against the release tool; screenshot in build/web-test/
set -euo pipefail
cd "$(dirname "$0")"

ensure_packages() {
    local missing=()
    command -v cmake >/dev/null || missing+=(cmake)
    command -v ninja >/dev/null || missing+=(ninja-build)
    command -v g++ >/dev/null || missing+=(g++)
    command -v python3 >/dev/null || missing+=(python3)
    [ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
    [ -f /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev)
    # The command-line tool, and xmllint for its tests.
    [ -f /usr/include/CLI/CLI.hpp ] || missing+=(libcli11-dev)
    [ -f /usr/include/nlohmann/json.hpp ] || missing+=(nlohmann-json3-dev)
    [ -f /usr/include/fmt/core.h ] || missing+=(libfmt-dev)
    # OpenCV checks the accuracy oracle and the camera models (a test dependency only).
    [ -f /usr/include/opencv4/opencv2/calib3d.hpp ] || missing+=(libopencv-dev)
    command -v xmllint >/dev/null || missing+=(libxml2-utils)
    # The tool's PNG and PDF pictures.
    [ -f /usr/include/librsvg-2.0/librsvg/rsvg.h ] || missing+=(librsvg2-dev)
    [ -f /usr/include/cairo/cairo-pdf.h ] || missing+=(libcairo2-dev)
    # The Python package: numpy, and pip with setuptools and wheel to install it offline, venv to
    # try it in a fresh environment; matplotlib for its pictures.
    /usr/bin/python3 -c 'import numpy' 2>/dev/null || missing+=(python3-numpy)
    /usr/bin/python3 -c 'import setuptools' 2>/dev/null || missing+=(python3-setuptools)
    /usr/bin/python3 -c 'import wheel' 2>/dev/null || missing+=(python3-wheel)
    /usr/bin/python3 -m pip --version >/dev/null 2>&1 || missing+=(python3-pip)
    /usr/bin/python3 -c 'import ensurepip' 2>/dev/null || missing+=(python3-venv)
    /usr/bin/python3 -c 'import matplotlib' 2>/dev/null || missing+=(python3-matplotlib)
    # The camera models' tests compare with OpenCV's in Python too.
    /usr/bin/python3 -c 'import cv2' 2>/dev/null || missing+=(python3-opencv)
    # Packaging: man pages, the .deb's library dependencies, pkg-config for hosts.
    command -v help2man >/dev/null || missing+=(help2man)
    command -v dpkg-shlibdeps >/dev/null || missing+=(dpkg-dev)
    command -v pkg-config >/dev/null || missing+=(pkg-config)
    if [ "${1:-}" = web ] || [ "${1:-}" = web-test ]; then
        # The browser designer: Emscripten for the WebAssembly build, Chromium and npm for its test.
        command -v emcc >/dev/null || missing+=(emscripten)
        if [ "$1" = web-test ]; then
            command -v chromium >/dev/null || missing+=(chromium)
            command -v npm >/dev/null || missing+=(npm)
        fi
    fi
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing ${missing[*]}" >&2
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
}

ensure_packages "${1:-run}"
case "${1:-run}" in
    run)
        cmake --preset release >/dev/null
        cmake --build --preset release --target lumetra-horizontal-grid
        ./build/release/tools/lumetra-horizontal-grid demo --svg build/demo.svg "${@:2}"
        ;;
    test|sanitize|tsan)
        preset=$1
        [ "$preset" = test ] && preset=release
        cmake --workflow --preset "$preset"
        ;;
    bench)
        cmake --preset release >/dev/null
        cmake --build --preset release --target lumetra_bench
        ./build/release/bench/lumetra_bench "${@:2}"
        ;;
    fuzz)
        fuzz/run.sh "${@:2}"
        ;;
    example)
        # Consumes the installed package exactly as a user's project would: find_package only.
        cmake --preset release >/dev/null
        cmake --build --preset release --target LumetraVeskEnvironmentHorizontalGrid lumetra_simulation_c \
            lumetra-horizontal-grid
        staging=$(mktemp -d)
        trap 'rm -rf "$staging"' EXIT
        cmake --install build/release --prefix "$staging/prefix"
        cmake -S examples -B "$staging/build" -G Ninja -DCMAKE_CXX_COMPILER=g++ \
            -DCMAKE_PREFIX_PATH="$staging/prefix" -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
        cmake --build "$staging/build"
        "$staging/build/host"
        "$staging/build/match_one_frame"
        # The tracking example records its walk; the installed tool replays it and the sample.
        "$staging/build/track_walk" "$staging/walk.jsonl"
        "$staging/prefix/bin/lumetra-horizontal-grid" replay "$staging/walk.jsonl" --summary
        "$staging/prefix/bin/lumetra-horizontal-grid" replay examples/walk.jsonl --summary
        ;;
    python)
        cmake --preset release >/dev/null
        cmake --build --preset release --target LumetraVeskEnvironmentHorizontalGrid lumetra_simulation_c
        cd python
        LUMETRA_LIBRARY="$PWD/../build/release/libLumetraVeskEnvironmentHorizontalGrid.so" PYTHONDONTWRITEBYTECODE=1 \
            /usr/bin/python3 -m unittest discover --start-directory tests --top-level-directory . "${@:2}"
        ;;
    package)
        cmake --preset release >/dev/null
        cmake --build --preset release --target LumetraVeskEnvironmentHorizontalGrid lumetra_simulation_c \
            lumetra-horizontal-grid lumetra_man_pages
        (cd build/release && cpack -G "DEB;TGZ" >/dev/null)
        deb=$(ls build/release/lumetra-horizontal-grid_*.deb)
        dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
        dpkg-deb --contents "$deb" | awk '{print $6 ($7 ? " " $7 " " $8 : "")}'
        scratch=$(mktemp -d)
        trap 'rm -rf "$scratch"' EXIT
        dpkg-deb -x "$deb" "$scratch/root"
        .ci/check-installed.sh "$scratch/root/usr" "$scratch/work"
        .ci/walkthrough.sh "$scratch/root/usr" "$scratch/walkthrough"
        ;;
    web)
        # Emscripten's optimizer needs Debian's acorn even when another Node comes first on PATH.
        export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
        cmake --preset web >/dev/null
        cmake --build --preset web
        du -sh build/web
        ;;
    web-test)
        "$0" web
        cmake --preset release >/dev/null
        cmake --build --preset release --target lumetra-horizontal-grid LumetraVeskEnvironmentHorizontalGrid
        (cd web && npm ci --no-audit --no-fund --silent)
        node web/test/designer.test.mjs build/release/tools/lumetra-horizontal-grid build/web build/web-test
        ;;
    *)
        sed -n '2,14p' "$0" >&2
        exit 2
        ;;
esac
