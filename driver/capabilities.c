// Query capabilities: the bus driver's record, kept with surprise removal allowed, and the
// device power state chosen for an idle device.
#include "driver/ovpvrusb.h"

_Static_assert(sizeof(DEVICE_CAPABILITIES) == 64, "the capabilities record is 64 bytes");

DEVICE_POWER_STATE OvChooseIdleDevicePower(const DEVICE_CAPABILITIES* Capabilities) {
    DEVICE_POWER_STATE chosen = PowerDeviceUnspecified;
    // The last of S1 to S3 that maps to a state shallower than D3 wins.
    for (int sleeping = PowerSystemSleeping1; sleeping <= PowerSystemSleeping3; sleeping++) {
        const DEVICE_POWER_STATE mapped = Capabilities->DeviceState[sleeping];
        if (mapped < PowerDeviceD3) chosen = mapped;
    }
    if (chosen == PowerDeviceUnspecified || chosen == PowerDeviceD0) chosen = PowerDeviceD2;
    return chosen;
}

NTSTATUS OvHandleQueryCapabilities(POV_DEVICE_EXTENSION Extension, PIRP Irp) {
    PDEVICE_CAPABILITIES capabilities =
        IoGetCurrentIrpStackLocation(Irp)->Parameters.DeviceCapabilities.Capabilities;
    if (capabilities->Version < 1 || capabilities->Size < sizeof(DEVICE_CAPABILITIES))
        return OvCompleteRequest(Irp, STATUS_UNSUCCESSFUL, 0);

    capabilities->SurpriseRemovalOK = TRUE;
    const NTSTATUS status = OvForwardAndWait(Extension, Irp);
    if (NT_SUCCESS(status)) {
        // The bus driver may have cleared it.
        capabilities->SurpriseRemovalOK = TRUE;
        RtlCopyMemory(&Extension->DeviceCapabilities, capabilities, sizeof(DEVICE_CAPABILITIES));
    }
    Extension->IdleDevicePower = OvChooseIdleDevicePower(&Extension->DeviceCapabilities);
    Irp->IoStatus.Status = status;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return status;
}
