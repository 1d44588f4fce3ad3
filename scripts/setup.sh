#!/usr/bin/env bash
# Installs every Debian package the project needs: native toolchain and
# libraries, the armhf cross toolchain with its libraries, and qemu-user.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

native_pkgs=(
  build-essential cmake pkg-config
  libboost-dev libboost-date-time-dev libboost-system-dev
  libjsoncpp-dev libgtest-dev libgmock-dev googletest libbenchmark-dev
  libmodbus-dev libsqlite3-dev sqlite3 mbpoll
)
cross_pkgs=(
  crossbuild-essential-armhf qemu-user
  libboost-dev:armhf libboost-date-time-dev:armhf libboost-system-dev:armhf
  libjsoncpp-dev:armhf libgtest-dev:armhf libgmock-dev:armhf
)

missing() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || echo "$p"
  done
}

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

if ! dpkg --print-foreign-architectures | grep -qx armhf; then
  $SUDO dpkg --add-architecture armhf
  need_update=1
fi

todo=$(missing "${native_pkgs[@]}" "${cross_pkgs[@]}")
if [ -n "$todo" ]; then
  echo "setup: installing: $(echo $todo | tr '\n' ' ')"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  # shellcheck disable=SC2086
  $SUDO apt-get install -y -qq --no-install-recommends $todo >/dev/null
fi
