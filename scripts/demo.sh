#!/usr/bin/env bash
# Sets up, builds and runs the program's main job on the built-in emulated receiver: a sample
# receiver disk is made, listed, a recording copied off it, a PC folder copied onto it, and
# the disk checked.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"

work=$(mktemp -d /tmp/tessel-demo-XXXXXX)
export XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state"
tessel=./build/cli/tessel
disk="$work/receiver.img"

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
