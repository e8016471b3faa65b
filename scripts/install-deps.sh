#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, when missing.
# Silent when everything is present; says clearly what it cannot install.
set -euo pipefail

packages=(
  build-essential cmake pkg-config clang libclang-rt-14-dev
  libjpeg62-turbo-dev libjpeg-turbo-progs libgdcm-dev libgdcm-tools pvrg-jpeg
  libopenjp2-7-dev libopenjp2-tools libtiff-dev
  libcairo2-dev libpng-dev fonts-dejavu-core libgeographiclib-dev
  nlohmann-json3-dev
  libgtest-dev libbenchmark-dev
  gdal-bin python3-gdal python3 python3-jsonschema gcovr dpkg-dev
  pybind11-dev python3-pybind11 python3-numpy python3-dask python3-distributed
  python3-pytest python3-venv
  libcpp-httplib-dev libjs-leaflet chromium chromium-driver python3-selenium
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: run as root (or: sudo apt-get install -y ${missing[*]})" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
if ! { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >/tmp/kvntfu-apt.log 2>&1; then
  echo "install-deps: apt-get could not install: ${missing[*]} (log: /tmp/kvntfu-apt.log)" >&2
  tail -n 20 /tmp/kvntfu-apt.log >&2 || true
  exit 1
fi
