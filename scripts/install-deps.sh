#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when one
# is missing, so repeated runs cost nothing. Needs root (apt-get) only when
# something has to be installed.
#
#   bash scripts/install-deps.sh        # the build and the tests
#   bash scripts/install-deps.sh fuzz   # those, plus clang and libFuzzer for make fuzz
set -euo pipefail

MODE="${1:-}"

PACKAGES=(
  cmake ninja-build g++ make pkg-config
  libspdlog-dev libfmt-dev
  libasio-dev libsimpleini-dev libcli11-dev
  zlib1g-dev libssl-dev
  python3-dev swig
  libsystemd-dev libcpp-httplib-dev
  qt6-base-dev qt6-base-dev-tools qt6-charts-dev libqt6opengl6-dev libgl-dev
  xvfb xauth fonts-wqy-zenhei
  libgtest-dev libgmock-dev googletest libbenchmark-dev
)
case "$MODE" in
  "") ;;
  fuzz) PACKAGES+=(clang-14 libfuzzer-14-dev) ;;
  *) echo "install-deps: unknown mode '$MODE' (known: fuzz)" >&2; exit 2 ;;
esac

missing=()
for package in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
