#!/usr/bin/env bash
# Checks the Debian packages that scripts/package.sh made, as Debian would:
#
#   scripts/lint-packages.sh [amd64|armhf]...     (both when none is named)
#
# - lintian over every .deb of build/packages/<arch>/: no error and no
#   warning (the tags a package draws on purpose are overridden, with their
#   reasons, in packaging/lintian/ and installed with it);
# - every manual page of a package renders with man -l, without a warning;
# - every program a package installs has its manual page in that package.
set -euo pipefail
cd "$(dirname "$0")/.."

arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(amd64 armhf)
DCU_EXTRA_PACKAGES="lintian man-db groff-base" scripts/install-deps.sh

status=0
fail() {
  echo "package lint: $*" >&2
  status=1
}

scratch=$(mktemp -d /tmp/dcu-package-lint-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
for arch in "${arches[@]}"; do
  debs=(build/packages/"$arch"/*.deb)
  [ -e "${debs[0]}" ] || { fail "no packages in build/packages/$arch (scripts/package.sh $arch)"; continue; }
  echo "== lintian: ${#debs[@]} packages for $arch"
  lint_status=0
  report=$(lintian --fail-on error,warning "${debs[@]}" 2>&1) || lint_status=$?
  # Root is what the test command runs as; lintian only says it would rather not.
  grep -v '^running with root privileges' <<<"$report" | sed 's/^/   /' || true
  [ "$lint_status" -eq 0 ] || fail "lintian: errors or warnings in the $arch packages"

  echo "== manual pages of the $arch packages"
  for deb in "${debs[@]}"; do
    package=$(dpkg-deb -f "$deb" Package)
    root="$scratch/$arch/$package"
    mkdir -p "$root"
    dpkg-deb -x "$deb" "$root"
    for page in "$root"/usr/share/man/man*/*; do
      [ -e "$page" ] || continue
      warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null || echo "man -l failed")
      [ -z "$warnings" ] || fail "$package: ${page#"$root"}: $warnings"
      printf '   %-22s %s\n' "$package" "${page#"$root"}"
    done
    for program in "$root"/usr/bin/*; do
      [ -e "$program" ] || continue
      name=$(basename "$program")
      ls "$root"/usr/share/man/man[18]/"$name".[18].gz >/dev/null 2>&1 || fail "$package: $name has no manual page"
    done
  done
done
[ "$status" -eq 0 ] && echo "== lintian clean, every program with its manual page"
exit "$status"
