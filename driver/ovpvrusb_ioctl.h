// The control codes OvPvrUSB offers user mode: device type FILE_DEVICE_UNKNOWN, buffered, any
// access. TesselUSB sends the two reset codes to recover a failed link.
#pragma once

#define OVPVR_IOCTL_CODE(function) ((0x22u << 16) | ((function) << 2))

#define IOCTL_PVR_GET_CONFIG OVPVR_IOCTL_CODE(0)    // 0x220000: the configuration descriptor
#define IOCTL_PVR_RESET_DEVICE OVPVR_IOCTL_CODE(1)  // 0x220004: reset a disabled port
#define IOCTL_PVR_RESET_PIPE OVPVR_IOCTL_CODE(2)    // 0x220008: on a pipe handle
