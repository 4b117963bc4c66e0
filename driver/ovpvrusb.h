// OvPvrUSB: the WDM function driver for the receiver's USB interface. The device extension,
// the driver-wide state and the routines the driver's sources share.
#pragma once

// The kernel's declarations come first: the USB and WMI headers build on them.
// clang-format off
#include <wdm.h>
#include <usb.h>
#include <usbdlib.h>
#include <usbioctl.h>
#include <wmilib.h>
#include <wmistr.h>
// clang-format on

#include "driver/ovpvrusb_ioctl.h"

#ifdef __cplusplus
extern "C" {
#endif

// Pool tag "BulK": the bytes 42 75 6C 4B in memory.
#define OV_POOL_TAG 0x4B6C7542u

// One read or write request is one USB transfer of at most this many bytes.
#define OV_MAX_TRANSFER_BYTES 0x80000u
// Every pipe of the selected interface is opened with this maximum transfer size.
#define OV_PIPE_MAX_TRANSFER_SIZE 4096u
// Pipe numbers above this are refused whatever the interface offers.
#define OV_MAX_PIPE_NUMBER 5u

// The idle timer fires after 5 s (a relative due time, in units of 100 ns), then every 5000 ms.
#define OV_IDLE_TIMER_DUE_TIME (-50000000LL)
#define OV_IDLE_TIMER_PERIOD_MS 5000

// Device interface class through which user mode finds the receiver.
DEFINE_GUID(GUID_CLASS_OVPVR_USB, 0x00873FDF, 0x61A8, 0x11D1, 0xAA, 0x5E, 0x00, 0xC0, 0x4F, 0xB1,
            0x72, 0x8B);
// The WMI data block: debug level and model name.
DEFINE_GUID(GUID_OVPVR_WMI_STD_DATA, 0xBBA21300, 0x6DD3, 0x11D2, 0xB8, 0x44, 0x00, 0xC0, 0x4F, 0xAD,
            0x51, 0x71);

typedef enum _OV_DEVICE_STATE {
    OvNotStarted = 0,
    OvStopped = 1,
    OvWorking = 2,
    OvStopPending = 3,
    OvRemovePending = 4,
    OvSurpriseRemoved = 5,
    OvRemoved = 6
} OV_DEVICE_STATE;

typedef enum _OV_WDM_VERSION {
    OvWinXpOrLater = 0,  // WDM 1.32
    OvWin2000 = 1,       // WDM 1.16
    OvWinMe = 2,         // WDM 1.05
    OvWin98 = 3          // WDM 1.0
} OV_WDM_VERSION;

typedef struct _OV_DEVICE_EXTENSION {
    PDEVICE_OBJECT FunctionalDeviceObject;
    PDEVICE_OBJECT LowerDeviceObject;
    PDEVICE_OBJECT PhysicalDeviceObject;

    UNICODE_STRING InterfaceName;  // symbolic link of the registered device interface
    DEVICE_CAPABILITIES DeviceCapabilities;

    PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor;  // whole, wTotalLength bytes
    PUSBD_INTERFACE_INFORMATION Interface;  // the first interface's pipes as selected
    PUCHAR PipeOpenFlags;                   // one byte per pipe of Interface
    // Counts the interfaces kept: a pipe handle records the one it was opened on, since a new
    // interface's information may lie where an old one's did.
    ULONG_PTR InterfaceGeneration;

    OV_DEVICE_STATE DeviceState;
    OV_DEVICE_STATE PreviousDeviceState;
    KSPIN_LOCK DeviceStateLock;

    KEVENT RemoveEvent;  // set when IoCount reaches 0
    KEVENT StopEvent;    // set while IoCount is 1 (a notification event)
    LONG IoCount;        // 1 while the device exists, + 1 per request being worked on
    KSPIN_LOCK IoCountLock;

    // Selective suspend.
    LONG SelectiveSuspendEnable;      // the "BulkUsbEnable" registry value
    LONG SelectiveSuspendRegistered;  // the idle machinery runs
    PIRP PendingIdleIrp;              // owned by whoever takes it (completion or canceller)
    PUSB_IDLE_CALLBACK_INFO IdleCallbackInfo;
    LONG IdleRequestPending;  // from submission until the idle request's end lets waiters go
    LONG IdleIrpFreeCount;    // shares of the idle request's end, 2 when sent; the last frees it
    KSPIN_LOCK IdleStateLock;
    KTIMER IdleTimer;
    KDPC IdleDpc;
    KEVENT NoDpcWorkPendingEvent;
    KEVENT NoIdleRequestPendingEvent;

    SYSTEM_POWER_STATE SystemPower;
    DEVICE_POWER_STATE DevicePower;

    // Wait-wake.
    PIRP WaitWakeIrp;           // owned by whoever takes it (completion or canceller)
    LONG WaitWakeArmed;         // a wait-wake request has been asked for and not finished
    LONG WaitWakeCancelRace;    // the second of completion and cancellation finishes it
    LONG WakeCapable;           // remote wakeup bit of the configuration's attributes
    KEVENT WaitWakeEndedEvent;  // set while no wait-wake request is outstanding

    DEVICE_POWER_STATE IdleDevicePower;  // the state an idle device is suspended to

    LONG OpenHandleCount;
    WMILIB_CONTEXT WmiLibInfo;
    OV_WDM_VERSION WdmVersion;
} OV_DEVICE_EXTENSION, *POV_DEVICE_EXTENSION;

// Driver-wide state.
extern UNICODE_STRING OvRegistryPath;
extern ULONG OvDebugLevel;

// Entry points.
DRIVER_INITIALIZE DriverEntry;
DRIVER_DISPATCH OvDispatchCreate;
DRIVER_DISPATCH OvDispatchClose;
DRIVER_DISPATCH OvDispatchCleanup;
DRIVER_DISPATCH OvDispatchReadWrite;
DRIVER_DISPATCH OvDispatchDeviceControl;
DRIVER_DISPATCH OvDispatchPower;
DRIVER_DISPATCH OvDispatchSystemControl;
DRIVER_DISPATCH OvDispatchPnp;

// I/O reference count.
LONG OvIoIncrement(POV_DEVICE_EXTENSION Extension);
LONG OvIoDecrement(POV_DEVICE_EXTENSION Extension);
// The count as it is now, read under its lock: other processors change it meanwhile.
LONG OvIoCount(POV_DEVICE_EXTENSION Extension);

// Device state, under its spin lock.
OV_DEVICE_STATE OvGetDeviceState(POV_DEVICE_EXTENSION Extension);
VOID OvSetDeviceState(POV_DEVICE_EXTENSION Extension, OV_DEVICE_STATE State);
VOID OvRestorePreviousDeviceState(POV_DEVICE_EXTENSION Extension);

NTSTATUS OvCompleteRequest(PIRP Irp, NTSTATUS Status, ULONG_PTR Information);

// Synchronous calls to the lower driver.
NTSTATUS OvForwardAndWait(POV_DEVICE_EXTENSION Extension, PIRP Irp);
NTSTATUS OvCallUsbSynchronously(POV_DEVICE_EXTENSION Extension, PURB Urb);
NTSTATUS OvInternalIoctlSynchronously(POV_DEVICE_EXTENSION Extension, ULONG IoControlCode,
                                      PVOID Argument1);

// USB configuration.
NTSTATUS OvConfigureDevice(POV_DEVICE_EXTENSION Extension);
NTSTATUS OvDeconfigureDevice(POV_DEVICE_EXTENSION Extension);
VOID OvFreeConfiguration(POV_DEVICE_EXTENSION Extension);
VOID OvAbortOpenPipes(POV_DEVICE_EXTENSION Extension);

// Plug and Play capabilities.
NTSTATUS OvHandleQueryCapabilities(POV_DEVICE_EXTENSION Extension, PIRP Irp);
DEVICE_POWER_STATE OvChooseIdleDevicePower(const DEVICE_CAPABILITIES* Capabilities);

// Pipes by name.
LONG OvParsePipeNumber(PCUNICODE_STRING Name);
PUSBD_PIPE_INFORMATION OvPipeFromName(POV_DEVICE_EXTENSION Extension, PCUNICODE_STRING Name,
                                      PULONG PipeIndex);
// The pipe of a handle, when it is one of the current interface's: a handle opened before a
// stop keeps a pointer into the interface information of then.
PUSBD_PIPE_INFORMATION OvPipeOfFile(POV_DEVICE_EXTENSION Extension, PFILE_OBJECT FileObject);

// Resets.
NTSTATUS OvResetPipe(POV_DEVICE_EXTENSION Extension, PUSBD_PIPE_INFORMATION Pipe);
NTSTATUS OvResetDevice(POV_DEVICE_EXTENSION Extension);

// Power.
NTSTATUS OvRequestDevicePower(POV_DEVICE_EXTENSION Extension, DEVICE_POWER_STATE State);
NTSTATUS OvArmWaitWake(POV_DEVICE_EXTENSION Extension);
VOID OvCancelWaitWake(POV_DEVICE_EXTENSION Extension);
NTSTATUS OvDispatchWaitWake(POV_DEVICE_EXTENSION Extension, PIRP Irp);

// Selective suspend.
// Whether the idle machinery runs: read as the interlocked writes write it, since the timer's
// DPC and the Plug and Play routines look at it on other processors.
FORCEINLINE LONG OvSelectiveSuspendRegistered(POV_DEVICE_EXTENSION Extension) {
    return InterlockedCompareExchange(&Extension->SelectiveSuspendRegistered, 0, 0);
}
VOID OvInitializeSelectiveSuspend(POV_DEVICE_EXTENSION Extension);
VOID OvStartIdleTimer(POV_DEVICE_EXTENSION Extension);
VOID OvStopSelectiveSuspend(POV_DEVICE_EXTENSION Extension);
VOID OvCancelSelectiveSuspend(POV_DEVICE_EXTENSION Extension);
VOID OvWaitUntilNoIdleRequest(POV_DEVICE_EXTENSION Extension);
NTSTATUS OvSubmitIdleRequest(POV_DEVICE_EXTENSION Extension);

// WMI.
NTSTATUS OvWmiRegister(POV_DEVICE_EXTENSION Extension);
VOID OvWmiDeregister(POV_DEVICE_EXTENSION Extension);

#ifdef __cplusplus
}
#endif
