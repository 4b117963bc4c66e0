// WMI registration flags, with the driver kit's names.
#pragma once

#define WMIREG_FLAG_INSTANCE_LIST 0x00000004
#define WMIREG_FLAG_INSTANCE_PDO 0x00000020
