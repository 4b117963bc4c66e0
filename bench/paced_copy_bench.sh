#!/usr/bin/env bash
# Copies one recording each way over the emulated receiver paced as a USB 2.0 link
# (--emulate-speed usb2), with the PC side overlapped with the link and without it
# (--no-overlap), and sets each copy beside two bounds for its bytes:
#   - the link model's bound for the same commands: what the model charges for exactly the
#     commands the copy sent (payload at 53.248 MB/s plus each command's wrapper and status);
#   - the payload alone at 53.248 MB/s (13 packets of 512 bytes per 125 us microframe).
# Prints MB/s, the share of each bound reached, and the largest resident memory of each copy
# beside the recording's size (a copy streams: its memory stays flat as the file grows).
# Usage: bench/paced_copy_bench.sh [BUILD_DIR] [MIB] [WORK_DIR]
set -euo pipefail
build=${1:-build}
mib=${2:-1024}
work=${3:-$(mktemp -d "${TMPDIR:-/tmp}/tessel-paced-XXXXXX")}
tessel=$(realpath "$build/cli/tessel")
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p pc
head -c $((mib << 20)) /dev/urandom >pc/Rec.TP0
bytes=$((mib << 20))

# Runs one copy; prints "seconds max_resident_KiB modeled_seconds commands".
measure() {
  TESSEL_EMULATE_STATS=stats.txt /usr/bin/time -f '%e %M' -o measure.txt "$@" >/dev/null \
    2>copy.err || { cat copy.err >&2; return 1; }
  echo "$(cat measure.txt) $(awk '/^modeled_seconds/ { print $2 }' stats.txt)" \
    "$(awk '/^commands/ { print $2 }' stats.txt)"
}
report() {
  local what=$1 seconds=$2 kib=$3 modeled=$4 commands=$5
  awk -v w="$what" -v s="$seconds" -v k="$kib" -v m="$modeled" -v c="$commands" -v b="$bytes" \
    'BEGIN {
    payload = b / 53.248e6
    printf "%-34s %6.2f s %5.1f MB/s  %5.1f %% of the model (%.2f s, %d commands)  %5.1f %% of the payload bound  max RSS %d KiB for %d MiB\n",
      w, s, b / s / 1e6, 100 * m / s, m, c, 100 * payload / s, k, b / 1048576 }'
}
for overlap in "" --no-overlap; do
  name=${overlap:-"(overlapped)"}
  rm -rf back receiver.img && mkdir back
  "$tessel" mkimage receiver.img --size "$((mib + 512))M" --cluster 256K >/dev/null
  read -r s k m c < <(measure "$tessel" --emulate receiver.img --emulate-speed usb2 --yes-all \
    $overlap put pc/Rec.TP0 'C:\')
  report "PC -> receiver (put) $name" "$s" "$k" "$m" "$c"
  read -r s k m c < <(measure "$tessel" --emulate receiver.img --emulate-speed usb2 --yes-all \
    $overlap get 'C:\Rec.TP0' back)
  report "receiver -> PC (get) $name" "$s" "$k" "$m" "$c"
  cmp pc/Rec.TP0 back/Rec.TP0 && echo "both copies byte for byte equal"
done
