#!/usr/bin/env bash
# Sets up, builds and runs the program's main job on the built-in emulated receiver. With a
# display it opens the two-pane window on a sample receiver disk (Ctrl+U pulls the emulated
# receiver's plug and puts it back); without one it says so and runs the same job on the
# command line: a sample disk made, listed, a recording copied off it, a PC folder copied onto
# it, and the disk checked.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"

work=$(mktemp -d /tmp/tessel-demo-XXXXXX)
export XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state"
tessel=./build/cli/tessel
disk="$work/receiver.img"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  $tessel mkimage "$disk" --size 4G --sample
  mkdir -p "$work/config/Orvane/OV Tessel USB" "$work/PC/Films"
  head -c 3000000 /dev/urandom > "$work/PC/Films/Strand.ts"
  printf '[List 0]\nLastPath=%s\n' "$work/PC" > "$work/config/Orvane/OV Tessel USB/settings.ini"
  echo "== the window on the emulated receiver ($disk)"
  echo "   Ctrl+U pulls the receiver's plug and puts it back; close the window to end."
  exec ./build/app/windows/tessel-gui --emulate "$disk" --emulate-speed usb2
fi
echo "== no display: the command-line demo"

echo "== the link: connect, sectors written and read back"
./build/cli/tessel-demo
echo "== a sample receiver disk"
$tessel mkimage "$disk" --size 4G --sample
echo "== tessel --emulate $disk ls 'C:\\Recordings'"
$tessel --emulate "$disk" ls 'C:\Recordings'
echo "== copy a recording off the receiver"
mkdir -p "$work/Videos"
$tessel --emulate "$disk" --yes-all get 'C:\Recordings\001&&Tagesschau.TP0' "$work/Videos"
ls -l "$work/Videos"
echo "== copy a PC folder onto the receiver"
mkdir -p "$work/Films/Urlaub"
head -c 3000000 /dev/urandom > "$work/Films/Urlaub/Strand.ts"
echo "notes" > "$work/Films/Liste.txt"
$tessel --emulate "$disk" --yes-all put "$work/Films" 'C:\'
$tessel --emulate "$disk" ls 'C:\Films'
$tessel --emulate "$disk" df
echo "== consistency check"
$tessel --emulate "$disk" check | tail -n 2
echo "Everything is in $work"
