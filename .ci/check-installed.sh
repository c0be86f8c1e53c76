#!/usr/bin/env bash
# Runs what a user runs against an installed tree: check-installed.sh <prefix> <scratch folder>
#   the example hosts built with find_package, the README's host built with pkg-config, the tool,
#   its man pages and completion, the Python tests importing the installed package, and the
#   Python package installed by pip from the source (finding the library through pkg-config).
# Nothing is taken from the build tree: no LUMETRA_LIBRARY, no source include paths.
set -euo pipefail
prefix=$(realpath "$1")
work=$2
source_dir=$(realpath "$(dirname "$0")/..")
mkdir -p "$work"
unset LUMETRA_LIBRARY LUMETRA_SIMULATION_LIBRARY
code=AgV0cnVzcwoIMzOjP83MzD41+o49AAAAAAAAAAABAAAgQJqZGT8ABwYEAQgAAgUHAwIFAwkGAgkDAwUBAg==

echo "== example hosts (find_package)"
cmake -S "$source_dir/examples" -B "$work/examples" -G Ninja -DCMAKE_CXX_COMPILER=g++ \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build "$work/examples" >/dev/null
"$work/examples/host"
"$work/examples/match_one_frame" | head -1
"$work/examples/track_walk" "$work/walk.jsonl" | head -1

echo "== README host (pkg-config, whose flags carry -std=c++20)"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
# shellcheck disable=SC2046
g++ "$source_dir/examples/host.cpp" -o "$work/host" $(pkg-config --cflags --libs LumetraVeskEnvironmentHorizontalGrid) \
    -DLUMETRA_LIBRARY_PATH="\"$(pkg-config --variable=library LumetraVeskEnvironmentHorizontalGrid)\""
"$work/host"

echo "== tool, man pages, completion"
tool="$prefix/bin/lumetra-horizontal-grid"
"$tool" describe --summary "$code" | head -3
# The tool loads the library beside it (<prefix>/lib), not the build tree's.
"$tool" --version | grep -F "library $prefix/lib/libLumetraVeskEnvironmentHorizontalGrid.so" | grep -q loads \
    || { "$tool" --version >&2; echo "the tool does not load the installed library" >&2; exit 1; }
"$tool" simulate -n 50 "$code" | tail -1
"$tool" replay "$source_dir/examples/walk.jsonl" --summary | head -3
"$tool" replay "$work/walk.jsonl" --summary | head -3
for page in lumetra-horizontal-grid lumetra-horizontal-grid-simulate; do
    grep -q '^\.SH NAME' "$prefix/share/man/man1/$page.1"
done
completions=$(PATH="$prefix/bin:$PATH" bash -c "source '$prefix/share/bash-completion/completions/lumetra-horizontal-grid'
    COMP_WORDS=(lumetra-horizontal-grid sim); COMP_CWORD=1; _lumetra_horizontal_grid; echo \${COMPREPLY[*]}")
[ "$completions" = simulate ] || { echo "completion gave '$completions'" >&2; exit 1; }

echo "== Python package"
site="$prefix/lib/python3/dist-packages"
rm -rf "$work/python" && mkdir -p "$work/python" && cp -r "$source_dir/python/tests" "$work/python/"
cd "$work/python"
PYTHONPATH="$site" /usr/bin/python3 -c 'import lumetra_horizontal_grid as g; print(g.__file__, g.__version__, g.Library().path)'
PYTHONPATH="$site" PYTHONDONTWRITEBYTECODE=1 \
    LUMETRA_HEADER="$prefix/include/LumetraVeskEnvironmentHorizontalGrid/LumetraVeskEnvironmentHorizontalGrid.h" \
    /usr/bin/python3 -m unittest discover --start-directory tests --top-level-directory . 2>&1 | tail -3

echo "== Python package installed by pip from the source, offline"
cp -r "$source_dir/python" "$work/python-source"
rm -rf "$work/python-source/build" "$work/python-source/"*.egg-info
/usr/bin/python3 -m pip install --quiet --root-user-action=ignore --no-build-isolation --no-index --prefix "$work/pip" "$work/python-source"
pip_site=$(find "$work/pip" -type d -name dist-packages -o -type d -name site-packages | head -1)
PYTHONPATH="$pip_site" /usr/bin/python3 -c 'import lumetra_horizontal_grid as g, os.path as p
with g.Library() as library: print("pip:", p.relpath(g.__file__, "'"$work"'"), g.__version__, "finds", library.path)'

echo "== Python package installed by pip into a fresh virtual environment (Debian's python3, its numpy)"
python3_venv="$work/venv"
rm -rf "$work/python-source/build" "$work/python-source/"*.egg-info
/usr/bin/python3 -m venv --system-site-packages "$python3_venv"
"$python3_venv/bin/python" -m pip install --quiet --no-build-isolation --no-index "$work/python-source"
rm -rf "$work/venv-tests" && mkdir -p "$work/venv-tests" && cp -r "$source_dir/python/tests" "$work/venv-tests/"
# The package finds the environment library through pkg-config, the frame simulator beside it.
(cd "$work/venv-tests" && PKG_CONFIG_PATH="$prefix/lib/pkgconfig" PYTHONDONTWRITEBYTECODE=1 \
    LUMETRA_HEADER="$prefix/include/LumetraVeskEnvironmentHorizontalGrid/LumetraVeskEnvironmentHorizontalGrid.h" \
    "$python3_venv/bin/python" -m unittest discover --start-directory tests --top-level-directory . 2>&1 | tail -3)
