#!/usr/bin/env bash
# Builds the .deb from the build with CPack in a temporary folder, checks its contents and
# dependencies, and runs lintian on it, which must report no error:
# check_deb_package.sh BUILD_DIR EXPECTED_FILES
set -euo pipefail
build=$1
expected=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" ||
  { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/tessel-usb_*.deb)
failed=0
fail() { echo "FAIL: $*"; failed=1; }

contents=$(dpkg-deb -c "$deb")
while read -r mark path; do
  [[ -z $mark || $mark == \#* ]] && continue
  [[ $mark != x ]] && { path=$mark; mark=; }
  line=$(grep " \./usr/$path\$" <<<"$contents") || { fail "the package lacks $path"; continue; }
  [[ $line == *" root/root "* ]] || fail "$path is not owned by root"
  if [[ $mark == x ]]; then
    [[ $line == -rwxr-xr-x* ]] || fail "$path is not mode 755"
  else
    [[ $line == -rw-r--r--* ]] || fail "$path is not mode 644"
  fi
done <"$expected"

depends=$(dpkg-deb -f "$deb" Depends)
for library in libwxgtk3.2 libwxbase3.2 libusb-1.0-0 libglib2.0-0 libpng16-16; do
  grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done
[[ $(dpkg-deb -f "$deb" Package) == tessel-usb ]] || fail "the package is not named tessel-usb"

# Lintian's warnings are shown; its errors fail the test.
report=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'running with root privileges' || true)
[[ -n $report ]] && echo "$report"
grep -q '^E: ' <<<"$report" && fail "lintian reports errors"

exit $failed
