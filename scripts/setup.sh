#!/usr/bin/env bash
# Installs the Debian packages the project needs, by purpose:
#   native   build the plug-in, the host library and the tools (./run demo)
#   test     the test and benchmark libraries, valgrind for the benchmarks'
#            instruction counts, the packaging tools, and systemd-analyze
#            and kill(1) to check the site service's unit
#   cross    the armhf cross toolchain with its libraries, and qemu-user
#   fuzz     clang with libFuzzer
#   plot     what the history tool plots with
# Usage: scripts/setup.sh [PURPOSE...]   (none: all of them)
# Idempotent: when everything is present it only checks (well under a
# second) and prints nothing. Otherwise it refreshes the package lists once
# and installs what is missing.
set -euo pipefail

native_pkgs=(
  build-essential cmake pkg-config
  libboost-dev libboost-date-time-dev libboost-system-dev
  libjsoncpp-dev libmodbus-dev libsqlite3-dev libcli11-dev zlib1g-dev
  libmosquitto-dev
)
# The web view's tests load its page in headless Chromium and check its
# metrics with promtool (from prometheus); wrk loads it in the benchmark.
test_pkgs=(
  libgtest-dev libgmock-dev googletest libbenchmark-dev valgrind sqlite3 mbpoll
  dpkg-dev file chromium prometheus wrk systemd procps mosquitto openssl
)
cross_pkgs=(
  crossbuild-essential-armhf qemu-user
  libboost-dev:armhf libboost-date-time-dev:armhf libboost-system-dev:armhf
  libjsoncpp-dev:armhf libgtest-dev:armhf libgmock-dev:armhf
  libmodbus-dev:armhf libsqlite3-dev:armhf zlib1g-dev:armhf libmosquitto-dev:armhf
)
fuzz_pkgs=(clang libclang-rt-dev)
# gnuplot draws meter-history's charts; the font has the Chinese glyphs of
# their legends.
plot_pkgs=(gnuplot-nox fonts-wqy-microhei)

purposes=("$@")
[ ${#purposes[@]} -gt 0 ] || purposes=(native test cross fuzz plot)

wanted=()
cross=0
for p in "${purposes[@]}"; do
  case $p in
    native) wanted+=("${native_pkgs[@]}") ;;
    test)   wanted+=("${test_pkgs[@]}") ;;
    cross)  wanted+=("${cross_pkgs[@]}"); cross=1 ;;
    fuzz)   wanted+=("${fuzz_pkgs[@]}") ;;
    plot)   wanted+=("${plot_pkgs[@]}") ;;
    *) echo "setup: unknown purpose '$p' (native test cross fuzz plot)" >&2; exit 2 ;;
  esac
done

# Prints the packages of "$@" that are not fully installed; one query for
# all of them, as this runs before every build.
missing() {
  local native line p
  native=$(dpkg --print-architecture)
  declare -A installed=()
  while IFS= read -r line; do
    installed[${line%% *}]=1
  done < <(dpkg-query -W -f='${Package}:${Architecture} ${Status}\n' "$@" 2>/dev/null |
           grep ' install ok installed$')
  for p in "$@"; do
    case $p in
      *:*) [ -n "${installed[$p]:-}" ] || echo "$p" ;;
      *) [ -n "${installed[$p:$native]:-}" ] || [ -n "${installed[$p:all]:-}" ] || echo "$p" ;;
    esac
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
if [ "$cross" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx armhf; then
  as_root dpkg --add-architecture armhf
fi

todo=$(missing "${wanted[@]}" | sort -u)
if [ -n "$todo" ]; then
  n=$(wc -w <<<"$todo")
  # shellcheck disable=SC2086
  echo "setup: installing $n package(s):" $todo
  quiet apt-get update -q
  # shellcheck disable=SC2086
  quiet apt-get install -y -q --no-install-recommends -o Acquire::Retries=3 $todo
  echo "setup: done"
fi
