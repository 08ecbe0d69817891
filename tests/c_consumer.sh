#!/usr/bin/env bash
# Installs the build into a scratch prefix and links a C11 program against the
# installed headers and static libraries with -lm only: any C++ runtime
# dependency inside the libraries fails this link.  The installed headers and
# libraries must carry the project's version.
set -euo pipefail
build_dir=$1
source_dir=$2
version=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build_dir" --prefix "$prefix" >/dev/null
cc -std=c11 -Wall -Wextra -Werror -pedantic -I"$prefix/include" \
  "$source_dir/tests/c_consumer/main.c" -o "$prefix/c_consumer" \
  -L"$prefix/lib" -lvarrow -ldistfn -lipmpar -lm
report=$("$prefix/c_consumer")
echo "$report"
[[ $report == "varrow $version, distfn $version" ]] || { echo "expected version $version"; exit 1; }
