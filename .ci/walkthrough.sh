#!/usr/bin/env bash
# Runs the README's walk-through in a scratch folder against an installed tree: its ```sh
# walkthrough blocks as shell commands and its ```python walkthrough blocks as Python, in order;
# fails unless what they print (standard output and error) is what the ```text blocks that follow
# them show.
#   walkthrough.sh <prefix> <scratch folder>
set -euo pipefail
prefix=$(realpath "$1")
work=$2
source_dir=$(realpath "$(dirname "$0")/..")
mkdir -p "$work"
awk '/^```sh walkthrough$/ { inside = "sh"; next }
     /^```python walkthrough$/ { inside = "python"; print "python3 - <<'"'"'END_OF_PYTHON'"'"'"; next }
     /^```$/ && inside { if (inside == "python") print "END_OF_PYTHON"; inside = ""; next }
     inside' "$source_dir/README.md" >"$work/walkthrough.sh"
[ -s "$work/walkthrough.sh" ] || { echo "no walkthrough in README.md" >&2; exit 1; }
awk '/^```(sh|python) walkthrough$/ { want = 1; next }
     want && /^```text$/ { inside = 1; want = 0; next }
     inside && /^```$/ { inside = 0; next }
     inside' "$source_dir/README.md" >"$work/expected.txt"
cp "$source_dir/examples/host.cpp" "$work/"
rm -rf "$work/python" && cp -r "$source_dir/python" "$work/python" && rm -rf "$work/python/build" "$work/python/"*.egg-info
unset LUMETRA_LIBRARY LUMETRA_SIMULATION_LIBRARY
cd "$work"
# As after installing the .deb: the tool on PATH, the Debian interpreter (numpy) as python3.
PATH="$prefix/bin:/usr/bin:$PATH" PKG_CONFIG_PATH="$prefix/lib/pkgconfig" \
    PYTHONPATH="$prefix/lib/python3/dist-packages" PYTHONDONTWRITEBYTECODE=1 \
    BASH_XTRACEFD=3 bash -euo pipefail -x walkthrough.sh 3>&2 >printed.txt 2>&1 || {
        cat printed.txt >&2
        exit 1
    }
diff -u expected.txt printed.txt >&2 || {
    echo "the README's walk-through prints something else than it shows (above: - README, + printed)" >&2
    exit 1
}
