#include "transfer/progress.h"

bool UsbFailure = false;
bool DeviceConnected = false;
