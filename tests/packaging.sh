#!/usr/bin/env bash
# Installs the build into a scratch prefix, then builds the consumer examples
# against it as users do: through find_package(varrow) and through
# pkg-config.  Both builds must print the same report, and both packages
# must report the project's version.
set -euo pipefail
build_dir=$1
source_dir=$2
version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build_dir" --prefix "$prefix" >/dev/null
for f in include/varrow.h include/varrow_version.h include/varrow.hpp include/distfn.h include/distfn_version.h \
         include/distfn.hpp lib/libvarrow.a lib/libdistfn.a lib/libipmpar.a \
         lib/cmake/varrow/varrowConfig.cmake lib/pkgconfig/varrow.pc lib/pkgconfig/distfn.pc; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done

examples=$source_dir/examples/consumer
cmake -S "$examples" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/cmake-build" >/dev/null
"$work/cmake-build/latency_c" > "$work/cmake_c.out"
"$work/cmake-build/latency_cpp" > "$work/cmake_cpp.out"
"$work/cmake-build/critical_values_c" > "$work/critical_cmake_c.out"
"$work/cmake-build/critical_values_cpp" > "$work/critical_cmake_cpp.out"

# find_package finds exactly this version, and refuses a later one.
mkdir "$work/version-check"
cat >"$work/version-check/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(version_check NONE)
find_package(varrow ${required} EXACT CONFIG REQUIRED)
EOF
cmake -S "$work/version-check" -B "$work/version-exact" -DCMAKE_PREFIX_PATH="$prefix" -Drequired="$version" >/dev/null
if cmake -S "$work/version-check" -B "$work/version-later" -DCMAKE_PREFIX_PATH="$prefix" -Drequired=99.0 \
    >/dev/null 2>&1; then
  echo "find_package(varrow 99.0) accepted version $version"
  exit 1
fi
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
for package in varrow distfn; do
  reported=$(pkg-config --modversion "$package")
  [[ $reported == "$version" ]] || { echo "pkg-config $package: version $reported, expected $version"; exit 1; }
done
cc -std=c11 -Wall -Wextra -Werror "$examples/latency.c" -o "$work/pc_c" $(pkg-config --cflags --libs varrow)
c++ -std=c++20 -Wall -Wextra -Werror "$examples/latency.cpp" -o "$work/pc_cpp" $(pkg-config --cflags --libs varrow)
"$work/pc_c" > "$work/pc_c.out"
"$work/pc_cpp" > "$work/pc_cpp.out"
cc -std=c11 -Wall -Wextra -Werror "$examples/critical_values.c" -o "$work/critical_pc_c" \
  $(pkg-config --cflags --libs distfn)
c++ -std=c++20 -Wall -Wextra -Werror "$examples/critical_values.cpp" -o "$work/critical_pc_cpp" \
  $(pkg-config --cflags --libs distfn)
"$work/critical_pc_c" > "$work/critical_pc_c.out"
"$work/critical_pc_cpp" > "$work/critical_pc_cpp.out"

cat "$work/cmake_c.out"
for out in cmake_cpp pc_c pc_cpp; do
  diff -u "$work/cmake_c.out" "$work/$out.out"
done
grep -q '^count: 1000$' "$work/cmake_c.out"

# The quantile examples: C and C++ print the same figures.
cat "$work/critical_cmake_c.out"
for out in critical_cmake_cpp critical_pc_c critical_pc_cpp; do
  diff -u "$work/critical_cmake_c.out" "$work/$out.out"
done
grep -q '^t(9) 97.5%: 2.262157162' "$work/critical_cmake_c.out"
