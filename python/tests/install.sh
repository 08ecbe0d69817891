#!/usr/bin/env bash
# Installs the build into a scratch prefix and imports the package from the
# site-packages folder below it, away from the build tree.
# Usage: install.sh BUILD_DIR PYTHON SITE_DIR (SITE_DIR relative to the prefix)
set -euo pipefail
build_dir=$1
python=$2
site=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
cd "$work"
PYTHONPATH=$work/prefix/$site PYTHONDONTWRITEBYTECODE=1 "$python" -c '
import sys, varrow
assert varrow.__file__.startswith(sys.argv[1]), varrow.__file__
h = varrow.Histogram.from_base64("AAQM/gABD/4AAx/+AAEU/wAB")
assert h.count == 6 and varrow.distfn.t_cdf(0.0, 10) == (0.5, 0.5)
print("imported", varrow.__file__)
' "$work/prefix/$site"
