#!/usr/bin/env bash
# Builds the Debian packages with CPack and checks them.
#
#   scripts/package.sh [amd64|armhf]...     (both when none is named)
#
# amd64 builds the deb-amd64 preset (the build host's packages, imgseal's
# among them); armhf packages the armhf preset's build, the one that
# scripts/test-armhf.sh tests. The packages land in build/packages/<arch>/.
# Each is checked: its architecture, every program and library in it built
# for that architecture and stripped, and the set of packages complete; then
# lintian and the manual pages (scripts/lint-packages.sh) and the contract's
# AsyncAPI document (scripts/validate-contract.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(amd64 armhf)

status=0
fail() {
  echo "package check: $*" >&2
  status=1
}

# check_unit ROOT UNIT [MAX_EXPOSURE]: a unit file of a package extracted in
# ROOT, as systemd reads it (with the program it starts looked for in ROOT):
# systemd-analyze verify must say nothing, and with MAX_EXPOSURE the offline
# security analysis must rate it at most that.
check_unit() {
  local root=$1 unit=$2 max_exposure=${3:-} unit_dir messages exposure
  command -v systemd-analyze >/dev/null || return 0
  unit_dir=$(mktemp -d /tmp/dcu-unit-check-XXXXXX)
  sed "s|^ExecStart=/|ExecStart=$root/|" "$root/usr/lib/systemd/system/$unit" >"$unit_dir/$unit"
  # Its Documentation= page is looked for in the package.
  messages=$(MANPATH="$root/usr/share/man" systemd-analyze verify "$unit_dir/$unit" 2>&1 || true)
  [ -z "$messages" ] || fail "$unit: $messages"
  if [ -n "$max_exposure" ]; then
    exposure=$(systemd-analyze security --offline=true "$unit_dir/$unit" 2>&1 |
      sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
    if [ -z "$exposure" ]; then
      fail "$unit: no exposure level from systemd-analyze security"
    elif awk -v e="$exposure" -v max="$max_exposure" 'BEGIN { exit !(e > max) }'; then
      fail "$unit: exposure $exposure, above $max_exposure"
    else
      echo "$unit: systemd-analyze security --offline=true: exposure $exposure (at most $max_exposure)"
    fi
  fi
  rm -rf "$unit_dir"
}

# check_packages ARCH ELF-PATTERN PACKAGE...: the .debs of build/packages/ARCH.
check_packages() {
  local arch=$1 elf_pattern=$2
  shift 2
  local dir=build/packages/$arch scratch package deb
  scratch=$(mktemp -d /tmp/dcu-package-check-XXXXXX)
  for package in "$@"; do
    deb=$(ls "$dir/${package}_"*"_$arch.deb" 2>/dev/null || true)
    if [ -z "$deb" ]; then
      fail "$package for $arch was not made"
      continue
    fi
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "$deb: not Architecture $arch"
    dpkg-deb -x "$deb" "$scratch/$package"
    while IFS= read -r -d '' file; do
      local kind
      kind=$(file -b "$file")
      case $kind in
        ELF*)
          [[ $kind =~ $elf_pattern ]] || fail "${file#"$scratch/"}: $kind"
          [[ $kind == *", stripped"* ]] || fail "${file#"$scratch/"}: not stripped"
          ;;
      esac
    done < <(find "$scratch/$package" -type f -print0)
    case $package in
      dcu-loader) check_unit "$scratch/$package" cfgload.service ;;
      dcu-refhost) check_unit "$scratch/$package" dcuhost.service 2.5 ;;
    esac
    printf '%-22s %s\n' "$(basename "$deb")" "Depends: $(dpkg-deb -f "$deb" Depends)"
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +\./, "    "); print }'
  done
  for deb in "$dir"/*.deb; do
    package=$(dpkg-deb -f "$deb" Package)
    [[ " $* " == *" $package "* ]] || fail "$deb: unexpected package"
  done
  rm -rf "$scratch"
}

for arch in "${arches[@]}"; do
  case $arch in
    amd64)
      scripts/install-deps.sh
      preset=deb-amd64
      packages=(libreqhandlers1 libreqhandlers-dev dcu-loader dcu-tools dcu-refhost dcu-web dcu-imgseal)
      elf_pattern='ELF 64-bit LSB .*x86-64'
      ;;
    armhf)
      scripts/armhf-deps.sh
      preset=armhf
      packages=(libreqhandlers1 libreqhandlers-dev dcu-loader dcu-tools dcu-refhost dcu-web)
      elf_pattern='ELF 32-bit LSB .*ARM, EABI5'
      ;;
    *)
      echo "usage: scripts/package.sh [amd64|armhf]..." >&2
      exit 2
      ;;
  esac
  echo "== $arch: build ($preset preset) and package"
  cmake --preset "$preset" -DDCU_WERROR=ON >/dev/null
  cmake --build --preset "$preset" >/dev/null
  rm -rf "build/$preset/packages" "build/packages/$arch"
  if ! (cd "build/$preset" && cpack >cpack.log 2>&1); then
    cat "build/$preset/cpack.log" >&2
    exit 1
  fi
  mkdir -p "build/packages/$arch"
  cp "build/$preset/packages/"*.deb "build/packages/$arch/"
  echo "== $arch: packages in build/packages/$arch"
  check_packages "$arch" "$elf_pattern" "${packages[@]}"
done
# As Debian checks packages (lintian, the manual pages), and the contract
# that dcu-refhost carries (asyncapi validate).
scripts/lint-packages.sh "${arches[@]}" || status=1
scripts/validate-contract.sh || status=1

[ "$status" -eq 0 ] && echo "== packages checked"
exit "$status"
