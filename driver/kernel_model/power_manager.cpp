// The power manager: power IRPs requested by drivers, power-state reports, and PoCallDriver.
#include "driver/kernel_model/kernel_model.h"
#include "driver/kernel_model/model_state.h"

namespace kernel_model {
namespace {

struct PowerRequest {
    PDEVICE_OBJECT target;
    UCHAR minor;
    POWER_STATE state;
    PREQUEST_POWER_COMPLETE completion;
    PVOID context;
};

// The power manager's own stack location: reports the result to the requester and frees the
// request.
NTSTATUS NTAPI PowerRequestDone(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context) {
    (void)DeviceObject;
    PowerRequest* request = static_cast<PowerRequest*>(Context);
    if (request->completion != nullptr)
        request->completion(request->target, request->minor, request->state, request->context,
                            &Irp->IoStatus);
    delete request;
    IoFreeIrp(Irp);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace
}  // namespace kernel_model

using namespace kernel_model;

extern "C" {

NTSTATUS NTAPI PoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    return IoCallDriver(DeviceObject, Irp);
}

VOID NTAPI PoStartNextPowerIrp(PIRP Irp) {
    RecordStartNextPowerIrp(Irp);
}

POWER_STATE NTAPI PoSetPowerState(PDEVICE_OBJECT DeviceObject, POWER_STATE_TYPE Type,
                                  POWER_STATE State) {
    POWER_STATE previous;
    previous.DeviceState = ReportedDevicePower(DeviceObject);
    if (Type == DevicePowerState) RecordReportedPower(DeviceObject, State.DeviceState);
    return previous;
}

NTSTATUS NTAPI PoRequestPowerIrp(PDEVICE_OBJECT DeviceObject, UCHAR MinorFunction,
                                 POWER_STATE PowerState, PREQUEST_POWER_COMPLETE CompletionFunction,
                                 PVOID Context, PIRP* Irp) {
    if (MinorFunction != IRP_MN_SET_POWER && MinorFunction != IRP_MN_QUERY_POWER &&
        MinorFunction != IRP_MN_WAIT_WAKE) {
        RecordFault("PoRequestPowerIrp with a minor function it does not send");
        return STATUS_INVALID_PARAMETER;
    }
    PDEVICE_OBJECT top = DeviceObject;
    while (top->AttachedDevice != nullptr) top = top->AttachedDevice;
    // One location more than the stack needs: the power manager's own, for its completion.
    PIRP irp = IoAllocateIrp(static_cast<CCHAR>(top->StackSize + 1), FALSE);
    if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    IoSetNextIrpStackLocation(irp);
    auto* request =
        new PowerRequest{DeviceObject, MinorFunction, PowerState, CompletionFunction, Context};
    IoSetCompletionRoutine(irp, PowerRequestDone, request, TRUE, TRUE, TRUE);

    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_POWER;
    next->MinorFunction = MinorFunction;
    if (MinorFunction == IRP_MN_WAIT_WAKE) {
        next->Parameters.WaitWake.PowerState = PowerState.SystemState;
    } else {
        next->Parameters.Power.Type = DevicePowerState;
        next->Parameters.Power.State = PowerState;
    }
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    if (Irp != nullptr) *Irp = irp;
    PoCallDriver(top, irp);
    return STATUS_PENDING;
}

}  // extern "C"
