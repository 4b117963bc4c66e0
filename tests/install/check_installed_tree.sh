#!/usr/bin/env bash
# Installs the build into a temporary root (DESTDIR) under /usr and checks what lands there:
# check_installed_tree.sh BUILD_DIR EXPECTED_FILES
set -euo pipefail
build=$1
expected=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
prefix=$root/usr
failed=0
fail() { echo "FAIL: $*"; failed=1; }

while read -r mark path; do
  [[ -z $mark || $mark == \#* ]] && continue
  [[ $mark != x ]] && { path=$mark; mark=; }
  [[ -f $prefix/$path ]] || { fail "missing $path"; continue; }
  if [[ $mark == x ]]; then
    [[ -x $prefix/$path ]] || fail "$path is not executable"
  else
    [[ $(stat -c %a "$prefix/$path") == 644 ]] || fail "$path is not mode 644"
  fi
done <"$expected"

# Nothing installed that the list does not name.
listed=$(sed -e '/^#/d' -e 's/^x //' -e 's/^ *//' "$expected" | sort)
found=$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort)
[[ $listed == "$found" ]] || fail "installed files differ from the list: $(diff <(echo "$listed") <(echo "$found") | grep '^[<>]' | tr '\n' ' ')"

for page in tessel tessel-gui; do
  gzip -t "$prefix/share/man/man1/$page.1.gz" || fail "$page.1.gz is no gzip file"
  man --warnings -l "$prefix/share/man/man1/$page.1.gz" 2>&1 >/dev/null | grep . &&
    fail "$page.1 has roff warnings"
done
"$prefix/bin/tessel" --version >/dev/null || fail "installed tessel does not run"
desktop-file-validate "$prefix/share/applications/tessel-gui.desktop" | grep -v 'hint:' | grep . &&
  fail "the desktop entry is not valid"
for size in 16 32 48 64 128 256; do
  file "$prefix/share/icons/hicolor/${size}x$size/apps/tessel-usb.png" |
    grep -q "PNG image data, $size x $size" || fail "the $size px icon is not $size x $size"
done
# The udev rule ships switched off: ids are the user's to fill in.
rules=$prefix/lib/udev/rules.d/70-tessel-usb.rules
grep -v '^#' "$rules" | grep -q . && fail "the udev rule file has an active line"
grep -q '^#SUBSYSTEM=="usb", ATTR{idVendor}=="vvvv", ATTR{idProduct}=="pppp", TAG+="uaccess"$' \
  "$rules" || fail "the udev rule file lacks the rule to enable"

exit $failed
