#!/usr/bin/env bash
# Compiles the core's sources with the Windows cross compiler, syntax only: the disk access,
# file system, transfer engine, entry model and log must not call the operating system except
# through platform/. The files that are the operating system's own layer here (the image block
# device over POSIX files, the libusb backend) are left out; the pipe backend has its own test.
set -euo pipefail
cd "$(dirname "$0")/.."
compiler=${MINGW_CXX:-x86_64-w64-mingw32-g++-posix}
status=0
for source in pvrdisk/fs/*.cpp pvrdisk/link/usb_link.cpp pvrdisk/link/link_backend.cpp \
              pvrdisk/link/no_link_backend.cpp pvrdisk/link/usb_device_id.cpp \
              pvrdisk/transport/bulk_only_transport.cpp transfer/*.cpp panes/*.cpp app/*.cpp; do
  if ! "$compiler" -std=c++20 -Wall -Wextra -Werror -I. -fsyntax-only "$source"; then
    echo "does not compile for Windows: $source"
    status=1
  fi
done
exit $status
