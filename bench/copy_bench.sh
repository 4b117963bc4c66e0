#!/usr/bin/env bash
# Copies one recording (2 GiB of random bytes by default) both ways, side by side in one run:
#   tessel over the emulated receiver (file system + bulk-only transport + emulated device),
#   tessel on the image directly (file system only, no transport),
#   cp of the same bytes into a file, and the same bytes read straight out of the image (dd;
#   a fresh image holds the recording contiguously from cluster 1),
#   mcopy of the same file out of and into a FAT32 image.
# Prints MiB/s and each tessel figure as a ratio of cp's and mcopy's.
# Usage: bench/copy_bench.sh [BUILD_DIR] [MIB] [WORK_DIR]
set -euo pipefail
build=${1:-build}
mib=${2:-2048}
work=${3:-$(mktemp -d "${TMPDIR:-/tmp}/tessel-bench-XXXXXX")}
tessel=$(realpath "$build/cli/tessel")
for tool in mcopy mkfs.vfat; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: bash scripts/install-deps.sh" >&2; exit 1; }
done
need=$((mib * 6 + 1024))
free=$(df -Pm "$work" | awk 'NR==2 {print $4}')
if ((free < need)); then
  echo "$work has $free MiB free; this run needs about $need MiB" >&2
  exit 1
fi
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p pc out_tessel out_direct
echo "recording: $mib MiB of random bytes in $work"
head -c $((mib << 20)) /dev/urandom >pc/Rec.TP0
image_mib=$((mib + 512))
"$tessel" mkimage receiver.img --size "${image_mib}M" --cluster 256K >/dev/null
"$tessel" mkimage direct.img --size "${image_mib}M" --cluster 256K >/dev/null
mkfs.vfat -F 32 -C fat32.img $(((mib + 512) * 1024)) >/dev/null

# Runs a command; prints its wall time, and appends its user and system processor time to
# cpu.txt.
seconds() {
  local TIMEFORMAT='%R %U %S' times
  times=$({ time "$@" >/dev/null 2>"$work/command.err"; } 2>&1) ||
    { cat "$work/command.err" >&2; return 1; }
  read -r real user sys <<<"$times"
  echo "$user $sys" >>"$work/cpu.txt"
  echo "$real"
}

# PC to receiver (or into a file / FAT32 image); the page cache holds the source for all.
cat pc/Rec.TP0 >/dev/null
t_put_emulated=$(seconds "$tessel" --emulate receiver.img --yes-all put pc/Rec.TP0 'C:\')
t_put_direct=$(seconds "$tessel" --image direct.img --yes-all put pc/Rec.TP0 'C:\')
t_put_cp=$(seconds cp pc/Rec.TP0 cp_into.TP0)
t_put_mcopy=$(seconds mcopy -i fat32.img pc/Rec.TP0 ::Rec.TP0)
sync
# Receiver to PC (or out of the image / FAT32 image).
t_get_emulated=$(seconds "$tessel" --emulate receiver.img --yes-all get 'C:\Rec.TP0' out_tessel)
t_get_direct=$(seconds "$tessel" --image direct.img --yes-all get 'C:\Rec.TP0' out_direct)
# Cluster 1 of a 256 KiB-cluster image: boot and table sectors (16 + 256), root cluster (512).
t_get_cp=$(seconds dd if=direct.img of=cp_out.TP0 bs=1M skip=$(((16 + 256 + 512) * 512)) \
  count=$((mib << 20)) iflag=skip_bytes,count_bytes status=none)
t_get_mcopy=$(seconds mcopy -i fat32.img ::Rec.TP0 mcopy_out.TP0)

for copy in out_tessel/Rec.TP0 out_direct/Rec.TP0 cp_out.TP0 mcopy_out.TP0; do
  cmp -s pc/Rec.TP0 "$copy" || { echo "$copy differs from the source" >&2; exit 1; }
done

rate() { echo "$mib / $1" | bc -l; }
row() {  # direction, label, seconds, cp seconds, mcopy seconds, line of cpu.txt
  local user sys
  read -r user sys <<<"$(sed -n "$6p" cpu.txt)"
  printf '%-14s %-26s %7.2f s %8.1f MiB/s %6.2f x cp %6.2f x mcopy %6.2f s %6.2f s\n' "$1" "$2" \
    "$3" "$(rate "$3")" "$(echo "$(rate "$3") / $(rate "$4")" | bc -l)" \
    "$(echo "$(rate "$3") / $(rate "$5")" | bc -l)" "$user" "$sys"
}
echo
printf '%-14s %-26s %9s %14s %11s %14s %8s %8s\n' direction copy time speed "vs cp/dd" \
  "vs mcopy" user system
row "PC->receiver" "tessel --emulate" "$t_put_emulated" "$t_put_cp" "$t_put_mcopy" 1
row "PC->receiver" "tessel --image (no USB)" "$t_put_direct" "$t_put_cp" "$t_put_mcopy" 2
row "PC->receiver" "cp into a file" "$t_put_cp" "$t_put_cp" "$t_put_mcopy" 3
row "PC->receiver" "mcopy into FAT32 image" "$t_put_mcopy" "$t_put_cp" "$t_put_mcopy" 4
row "receiver->PC" "tessel --emulate" "$t_get_emulated" "$t_get_cp" "$t_get_mcopy" 5
row "receiver->PC" "tessel --image (no USB)" "$t_get_direct" "$t_get_cp" "$t_get_mcopy" 6
row "receiver->PC" "dd out of the image" "$t_get_cp" "$t_get_cp" "$t_get_mcopy" 7
row "receiver->PC" "mcopy out of FAT32 image" "$t_get_mcopy" "$t_get_cp" "$t_get_mcopy" 8
echo
echo "Where the time goes: user is the program's own work, system the kernel's copying of the"
echo "bytes between page cache and program; wall time beyond both is waiting for the disk."
echo "tessel --image against cp is the receiver file system's share; --emulate against --image"
echo "is the bulk-only transport's and the emulated device's (wrapper, status, one more copy per"
echo "chunk). A real receiver adds the USB link: at most 50.8 MiB/s of bulk payload on USB 2.0."
