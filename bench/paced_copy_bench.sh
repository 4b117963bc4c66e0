#!/usr/bin/env bash
# Copies one recording each way over the emulated receiver paced as a USB 2.0 link
# (--emulate-speed usb2) and sets each copy beside the link's bound for its bytes: the time
# the payload alone takes at 53.248 MB/s (13 packets of 512 bytes per 125 us microframe).
# Prints MB/s, the share of the bound reached, and the largest resident memory of each copy
# beside the recording's size (a copy streams: its memory stays flat as the file grows).
# Usage: bench/paced_copy_bench.sh [BUILD_DIR] [MIB] [WORK_DIR]
set -euo pipefail
build=${1:-build}
mib=${2:-1024}
work=${3:-$(mktemp -d "${TMPDIR:-/tmp}/tessel-paced-XXXXXX")}
tessel=$(realpath "$build/cli/tessel")
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p pc back
head -c $((mib << 20)) /dev/urandom >pc/Rec.TP0
"$tessel" mkimage receiver.img --size "$((mib + 512))M" --cluster 256K >/dev/null
bytes=$((mib << 20))

# Runs one copy; prints "seconds max_resident_KiB".
measure() {
  /usr/bin/time -f '%e %M' -o measure.txt "$@" >/dev/null 2>copy.err ||
    { cat copy.err >&2; return 1; }
  cat measure.txt
}
report() {
  local what=$1 seconds=$2 kib=$3
  awk -v w="$what" -v s="$seconds" -v k="$kib" -v b="$bytes" 'BEGIN {
    bound = b / 53.248e6
    printf "%-22s %7.2f s  %6.1f MB/s  %5.1f %% of the link bound (%.2f s)  max RSS %d KiB for a %d MiB file\n",
      w, s, b / s / 1e6, 100 * bound / s, bound, k, b / 1048576 }'
}
read -r put_s put_kib < <(measure "$tessel" --emulate receiver.img --emulate-speed usb2 --yes-all \
  put pc/Rec.TP0 'C:\')
report "PC -> receiver (put)" "$put_s" "$put_kib"
read -r get_s get_kib < <(measure "$tessel" --emulate receiver.img --emulate-speed usb2 --yes-all \
  get 'C:\Rec.TP0' back)
report "receiver -> PC (get)" "$get_s" "$get_kib"
cmp pc/Rec.TP0 back/Rec.TP0 && echo "both copies byte for byte equal"
