#!/usr/bin/env bash
# What makes velkor ship like a service, checked against a build folder:
#   install   an install into a temporary DESTDIR holds exactly packaging/*.files
#   package   the build's Debian packages build and packaging/check-deb passes
#             (lintian included when installed)
#   unit      systemd-analyze verify accepts the units
#   man       every manual page renders without a warning
# Exit status 77 when the tool a check needs is missing (CTest: skipped).
set -euo pipefail
check=$1 build=$2 source=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
skip() { echo "skipped: $*"; exit 77; }

prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
case "$check" in install|package) [ "$prefix" = /usr ] || skip "the build's prefix is $prefix, not /usr" ;; esac

case "$check" in
install)
  DESTDIR="$work/root" cmake --install "$build" >/dev/null
  "$source/packaging/check-tree" "$work/root"
  ;;
package)
  command -v dpkg-deb >/dev/null || skip "dpkg-deb is missing"
  command -v dpkg-shlibdeps >/dev/null || skip "dpkg-shlibdeps (dpkg-dev) is missing"
  (cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; exit 1; }
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  # The architecture of the programs built, which a cross build does not share with this machine.
  case "$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$build/CMakeCache.txt")" in
    *toolchain-armhf*) arch=armhf ;;
    *toolchain-aarch64*) arch=arm64 ;;
    *) arch=$(dpkg --print-architecture) ;;
  esac
  for deb in "$work"/*.deb; do
    "$source/packaging/check-deb" "$deb" "$arch" "$version"
  done
  ;;
unit)
  command -v systemd-analyze >/dev/null || skip "systemd-analyze is missing"
  # verify wants the program of ExecStart to exist: the one just built. The
  # template is verified as an instance.
  sed "s|^ExecStart=[^ ]*|ExecStart=$build/velkor|" "$build/packaging/velkor.service" >"$work/velkor.service"
  sed "s|^ExecStart=[^ ]*|ExecStart=$build/velkor|" "$build/packaging/velkor@.service" >"$work/velkor@line1.service"
  sed "s|^ExecStart=[^ ]*|ExecStart=$build/tools/velkor-poll|" "$build/packaging/velkor-poll.service" \
    >"$work/velkor-poll.service"
  for unit in velkor.service velkor@line1.service velkor-poll.service; do
    out=$(systemd-analyze verify --man=no "$work/$unit" 2>&1) || { echo "$out" >&2; exit 1; }
    [ -z "$out" ] || { echo "$out" >&2; exit 1; }
  done
  ;;
man)
  command -v groff >/dev/null || skip "groff is missing"
  for page in "$source"/man/*.[0-9]; do
    out=$(groff -man -ww -z "$page" 2>&1)
    [ -z "$out" ] || { echo "$page: $out" >&2; exit 1; }
  done
  ;;
*)
  echo "unknown check $check" >&2
  exit 2
  ;;
esac
