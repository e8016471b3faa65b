#!/usr/bin/env bash
# Builds the release tree, installs it into a scratch prefix and builds two applications
# outside the tree against it: a C program through pkg-config and a C++ program through
# find_package(Kvntfu). Both open a sample. Then packs a Debian package with cpack and
# checks that it holds exactly what the install put into the prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DKVNTF_TESTS=OFF "${launcher[@]}" >/dev/null
cmake --build build/release -j"$(nproc)" --target Kvntfu Kvhost nitf kvntfu_python >/dev/null
scratch=$(mktemp -d /tmp/kvntfu-package-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
cmake --install build/release --prefix "$prefix" >/dev/null
sample=${NITF_SAMPLES:-$PWD/../shared/samples}/jitc/i_3113g.ntf
[ -f "$sample" ] || sample=$PWD/samples/demo.ntf
libdir=$(find "$prefix" -name libKvntfu.so -printf '%h\n' | head -n1)

export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
cc -std=c11 -Wall -Werror tests/package/render.c -o "$scratch/render" \
  $(pkg-config --cflags --libs kvntfu) -Wl,-rpath,"$libdir"
"$scratch/render" "$sample" >/dev/null

cmake -S tests/package -B "$scratch/cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/cmake" >/dev/null
LD_LIBRARY_PATH=$libdir "$scratch/cmake/info" "$sample" | grep -q '^FHDR=NITF'
"$prefix/bin/nitf" --version >/dev/null
# The Python package, installed beside the libraries, finds them by its run path.
PYTHONPATH=$prefix/lib/python3/dist-packages /usr/bin/python3 -c \
  "import kvntfu, sys; kvntfu.open(sys.argv[1]).images[0].read()" "$sample"

(cd build/release && cpack -G DEB >/dev/null)
deb=$(ls -t build/release/kvntfu_*.deb | head -n1)
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./usr/||' | sort >"$scratch/deb.txt"
(cd "$prefix" && find . ! -type d | sed 's|^\./||' | sort) >"$scratch/install.txt"
if ! diff -u "$scratch/install.txt" "$scratch/deb.txt"; then
  echo "check_package: the Debian package and the install hold different files" >&2
  exit 1
fi
echo "check_package: installed, built against with pkg-config and find_package, packed: $(basename "$deb")"
