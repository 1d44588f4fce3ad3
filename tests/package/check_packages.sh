#!/usr/bin/env bash
# One check of the packages built for one architecture, unpacked with
# dpkg-deb -x into a scratch root, as a controller gets them.
#   check_packages.sh CHECK --debs DIR --arch ARCH ... -- [EMULATOR...]
# CHECK: Contents, ExportsOnlyGetProviders, RunpathsStayInside,
#        NeedsAsReadmeStates, InstalledHostRunsARound, SiteServiceFiles,
#        SiteServiceUnitVerifies, SiteServiceExposure, SiteServiceUserIsMade,
#        PackagedSiteIsRefused
set -uo pipefail
check=$1; shift
while [ $# -gt 0 ]; do
  case $1 in
    --debs) debs=$2 ;;
    --arch) arch=$2 ;;
    --readme) readme=$2 ;;
    --readelf) readelf=$2 ;;
    --nm) nm=$2 ;;
    --cmake) cmake=$2 ;;
    --exports) exports_check=$2 ;;
    --needs) elf_needs=$2 ;;
    --plugin-dir) plugin_dir=$2 ;;
    --bin-dir) bin_dir=$2 ;;
    --samples-dir) samples_dir=$2 ;;
    --host-lib-dir) host_lib_dir=$2 ;;
    --service) service=$2 ;;
    --service-user) service_user=$2 ;;
    --service-dir) service_dir=$2 ;;
    --site-file) site_file=$2 ;;
    --unit-dir) unit_dir=$2 ;;
    --sysusers-dir) sysusers_dir=$2 ;;
    --max-exposure) max_exposure=$2 ;;
    --) shift; break ;;
    *) echo "unexpected argument: $1" >&2; exit 2 ;;
  esac
  shift 2
done
emulator=("$@")

fail() { echo "FAIL: $*"; exit 1; }

plugin_deb=$(ls "$debs"/kvrm4410t-plugin_*_"$arch".deb 2>/dev/null | head -n 1)
tools_deb=$(ls "$debs"/kvrm4410t-tools_*_"$arch".deb 2>/dev/null | head -n 1)
[ -f "$plugin_deb" ] || fail "no plug-in package for $arch in $debs"
[ -f "$tools_deb" ] || fail "no tools package for $arch in $debs"

scratch=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
root=$scratch/root
dpkg-deb -x "$plugin_deb" "$root" || fail "cannot unpack $plugin_deb"
dpkg-deb -x "$tools_deb" "$root" || fail "cannot unpack $tools_deb"
plugin=$root/usr/$plugin_dir/libkvrm4410t_q.so
host=$root/usr/$bin_dir/meter-host
sim=$root/usr/$bin_dir/meter-sim
unit=$root$unit_dir/$service

# unit_has LINE: the unpacked unit holds exactly this line.
unit_has() { grep -qxF "$1" "$unit" || fail "$service lacks the line $1"; }

# A root in which systemd-analyze finds everything the unit names: the
# unpacked packages, this machine's units (the targets it is ordered
# against) and the kill(1) of its reload command.
verify_root() {
  local v=$scratch/verify
  cp -a "$root" "$v"
  mkdir -p "$v$unit_dir" "$v/bin"
  cp -a "$unit_dir"/. "$v$unit_dir"/
  cp "$unit" "$v$unit_dir/"
  cp /bin/kill "$v/bin/kill"
  echo "$v"
}

# The backticked words of the README line that starts with "- ARCH LABEL:".
readme_words() {
  grep -m1 "^- $arch $1:" "$readme" | grep -o '`[^`]*`' | tr -d '`' | tr '\n' ' ' | sed 's/ $//'
}

case $check in
  Contents)
    files=$(dpkg-deb -c "$plugin_deb" | awk '$1 !~ /^d/ { print $NF }')
    [ "$files" = "./usr/$plugin_dir/libkvrm4410t_q.so" ] ||
      fail "the plug-in package holds more or other than the plug-in: $files"
    for f in "$host" "$sim" "$root/usr/$host_lib_dir/libsmdhost.so" "$root/usr/$samples_dir/mode5.json"; do
      [ -f "$f" ] || fail "the tools package lacks ${f#$root}"
    done
    soname=$("$readelf" -d -W "$plugin" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
    version=$(dpkg-deb -f "$plugin_deb" Version)
    [ "$soname" = "libkvrm4410t_q.so.$version" ] ||
      fail "plug-in SONAME $soname does not carry the package version $version"
    echo "plug-in package: ${files#./}, SONAME $soname"
    ;;
  ExportsOnlyGetProviders)
    "$cmake" -DNM="$nm" -DLIB="$plugin" -P "$exports_check" || fail "exports of the unpacked plug-in"
    ;;
  RunpathsStayInside)
    while IFS= read -r f; do
      "$readelf" -h "$f" >/dev/null 2>&1 || continue
      rp=$(bash "$elf_needs" "$f" "$readelf" | sed -n 's/^RUNPATH: //p')
      [ "$rp" = "-" ] && { echo "${f#$root}: no RUNPATH"; continue; }
      [ "$f" = "$plugin" ] && fail "the plug-in carries a RUNPATH: $rp"
      IFS=: read -ra entries <<<"$rp"
      for e in "${entries[@]}"; do
        case $e in
          '$ORIGIN'*) ;;
          *) fail "${f#$root}: RUNPATH entry $e is not relative to \$ORIGIN" ;;
        esac
        dir=$(realpath -m "$(dirname "$f")/${e#\$ORIGIN}")
        case $dir/ in
          "$root"/*) ;;
          *) fail "${f#$root}: RUNPATH entry $e leads outside the package" ;;
        esac
      done
      echo "${f#$root}: RUNPATH $rp"
    done < <(find "$root" -type f)
    ;;
  NeedsAsReadmeStates)
    needs=$(bash "$elf_needs" "$plugin" "$readelf") || fail "cannot read $plugin"
    echo "$needs"
    got_needed=$(sed -n 's/^NEEDED: //p' <<<"$needs")
    got_highest=$(sed -n 's/^highest: //p' <<<"$needs")
    want_needed=$(readme_words NEEDED)
    want_highest=$(readme_words "highest versions")
    [ -n "$want_needed" ] || fail "the README states no \"- $arch NEEDED:\" line"
    [ "$got_needed" = "$want_needed" ] || fail "NEEDED is '$got_needed', the README states '$want_needed'"
    [ "$got_highest" = "$want_highest" ] ||
      fail "highest versions are '$got_highest', the README states '$want_highest'"
    ;;
  InstalledHostRunsARound)
    cd "$scratch" || exit 1
    config=$root/usr/$samples_dir/mode5.json
    if [ ${#emulator[@]} -eq 0 ]; then
      # The bench host finds the plug-in and meter-sim where the packages put them.
      out=$("$host" --simulate --config "$config" --rounds 1 --snapshot 2>"$scratch/host.err")
    else
      # Under an emulator the bench host cannot start an ARM meter-sim
      # itself: the simulator runs apart and names its pseudo-terminal.
      coproc SIM { exec "${emulator[@]}" "$sim"; }
      sim_pid=$SIM_PID
      IFS= read -r pty <&"${SIM[0]}" || fail "meter-sim named no pseudo-terminal"
      out=$("${emulator[@]}" "$host" --port "$pty" --config "$config" --rounds 1 --snapshot 2>"$scratch/host.err")
    fi
    rc=$?
    [ "$rc" -eq 0 ] || { tail -n 20 "$scratch/host.err"; fail "meter-host exited with $rc"; }
    # The snapshot member "A相电压", as the JSON writer escapes it or not.
    grep -qE '"A(相电压|\\u76f8\\u7535\\u538b)":[0-9]' <<<"$out" ||
      { tail -n 20 "$scratch/host.err"; fail "no snapshot with readings: ${out:0:300}"; }
    echo "one round through the unpacked meter-host and meter-sim"
    ;;
  SiteServiceFiles)
    [ -f "$unit" ] || fail "the tools package lacks $unit_dir/$service"
    for line in Type=notify "ExecStart=/usr/$bin_dir/meter-host --site $site_file" 'ExecReload=/bin/kill -HUP $MAINPID' \
                Restart=on-failure WatchdogSec=60 "User=$service_user" SupplementaryGroups=dialout \
                "StateDirectory=$service_dir" "ConfigurationDirectory=$service_dir"; do
      unit_has "$line"
    done
    [ -x "$root/usr/$bin_dir/meter-host" ] || fail "the unit starts /usr/$bin_dir/meter-host, which the package lacks"
    users=$root$sysusers_dir/$service_user.conf
    [ -f "$users" ] || fail "the tools package lacks $sysusers_dir/$service_user.conf"
    grep -qE "^u $service_user " "$users" || fail "$service_user.conf makes no user $service_user"
    grep -qxE "m $service_user dialout" "$users" || fail "$service_user.conf leaves $service_user out of dialout"
    control=$scratch/control
    dpkg-deb -e "$tools_deb" "$control" || fail "cannot read the control files of $tools_deb"
    [ "$(cat "$control/conffiles")" = "$site_file" ] || fail "conffiles is not $site_file: $(cat "$control/conffiles")"
    [ -f "$root$site_file" ] || fail "the tools package lacks $site_file"
    grep -qF "\"/var/lib/$service_dir/history.db\"" "$root$site_file" ||
      fail "the packaged site keeps its history outside the state directory /var/lib/$service_dir"
    for script in postinst prerm postrm; do
      [ -x "$control/$script" ] || fail "the tools package has no executable $script"
      sh -n "$control/$script" || fail "$script is no valid shell script"
    done
    grep -q "systemd-sysusers $service_user.conf" "$control/postinst" || fail "postinst does not make the user"
    ! grep -qE 'systemctl (enable|start|restart|reload)|deb-systemd' "$control/postinst" ||
      fail "postinst enables or starts the service"
    depends=$(dpkg-deb -f "$tools_deb" Depends)
    recommends=$(dpkg-deb -f "$tools_deb" Recommends)
    grep -qw procps <<<"$depends" || fail "the reload's kill(1) is no dependency: $depends"
    for p in gnuplot-nox fonts-wqy-microhei; do
      grep -qw "$p" <<<"$recommends" || fail "$p is not recommended: $recommends"
    done
    echo "$service, $service_user in dialout, conffile $site_file, history in /var/lib/$service_dir"
    ;;
  SiteServiceUnitVerifies)
    v=$(verify_root)
    systemd-analyze verify --root="$v" "$v$unit_dir/$service" || fail "systemd-analyze verify finds fault with $service"
    echo "systemd-analyze verify: no finding"
    ;;
  SiteServiceExposure)
    v=$(verify_root)
    # --threshold counts in tenths of the exposure level.
    threshold=$(awk -v e="$max_exposure" 'BEGIN { printf "%d", e * 10 }')
    out=$(systemd-analyze security --offline=true --root="$v" --threshold="$threshold" "$v$unit_dir/$service" 2>&1)
    rc=$?
    level=$(grep -o 'Overall exposure level for [^:]*: [0-9.]*' <<<"$out" | sed 's/.*: //')
    [ -n "$level" ] || { echo "$out" | tail -n 20; fail "systemd-analyze security gave no exposure level"; }
    echo "exposure $level (at most $max_exposure)"
    [ "$rc" -eq 0 ] || { grep '✗' <<<"$out"; fail "exposure $level is above $max_exposure"; }
    ;;
  SiteServiceUserIsMade)
    # As postinst does it, on a copy of this machine's user database.
    v=$(verify_root)
    mkdir -p "$v/etc"
    cp /etc/passwd /etc/group "$v/etc/"
    systemd-sysusers --root="$v" "$service_user.conf" || fail "systemd-sysusers refuses $service_user.conf"
    entry=$(grep "^$service_user:" "$v/etc/passwd") || fail "no user $service_user was made"
    grep -qE "^dialout:[^:]*:[0-9]+:(.*,)?$service_user(,.*)?$" "$v/etc/group" || fail "$service_user is not in dialout"
    echo "$entry"
    ;;
  PackagedSiteIsRefused)
    cd "$scratch" || exit 1
    "${emulator[@]}" "$host" --site "$root$site_file" >"$scratch/host.out" 2>"$scratch/host.err"
    rc=$?
    [ "$rc" -eq 2 ] || { cat "$scratch/host.err"; fail "meter-host took the packaged site: exit $rc"; }
    [ "$(wc -l <"$scratch/host.err")" -eq 1 ] || { cat "$scratch/host.err"; fail "more than one line"; }
    grep -q 'placeholder, not a port' "$scratch/host.err" || fail "the line does not say why: $(cat "$scratch/host.err")"
    cat "$scratch/host.err"
    ;;
  *) fail "unknown check $check" ;;
esac
