#!/usr/bin/env bash
# Installs every Debian package the project needs: native toolchain and
# libraries, the armhf cross toolchain with its libraries, and qemu-user.
# Idempotent: when everything is present it only checks (well under a
# second) and prints nothing. Otherwise it refreshes the package lists once
# and installs what is missing.
set -euo pipefail

native_pkgs=(
  build-essential cmake pkg-config
  libboost-dev libboost-date-time-dev libboost-system-dev
  libjsoncpp-dev libgtest-dev libgmock-dev googletest libbenchmark-dev
  libmodbus-dev libsqlite3-dev sqlite3 mbpoll
)
# meter-history: its command line, its charts and the Chinese glyphs of
# their legends.
history_pkgs=(libcli11-dev gnuplot-nox fonts-wqy-microhei)
cross_pkgs=(
  crossbuild-essential-armhf qemu-user
  libboost-dev:armhf libboost-date-time-dev:armhf libboost-system-dev:armhf
  libjsoncpp-dev:armhf libgtest-dev:armhf libgmock-dev:armhf
)

# Prints the packages of "$@" that are not fully installed.
missing() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || echo "$p"
  done
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null; then
    sudo "$@"
  else
    echo "setup: root rights are needed to install packages (no sudo found)" >&2
    exit 1
  fi
}

# Runs an apt step with its chatter in a log; shows the tail if it fails.
quiet() {
  local log
  log=$(mktemp)
  if ! as_root env DEBIAN_FRONTEND=noninteractive "$@" >"$log" 2>&1; then
    echo "setup: failed: $*" >&2
    tail -n 30 "$log" >&2
    rm -f "$log"
    exit 1
  fi
  rm -f "$log"
}

# The :armhf packages need the foreign architecture, which takes effect at
# the next list refresh (always done below, as those packages are missing).
if ! dpkg --print-foreign-architectures | grep -qx armhf; then
  as_root dpkg --add-architecture armhf
fi

todo=$(missing "${native_pkgs[@]}" "${history_pkgs[@]}" "${cross_pkgs[@]}")
if [ -n "$todo" ]; then
  # shellcheck disable=SC2086
  echo "setup: installing" $todo
  quiet apt-get update -q
  # shellcheck disable=SC2086
  quiet apt-get install -y -q --no-install-recommends -o Acquire::Retries=3 $todo
  echo "setup: done"
fi
