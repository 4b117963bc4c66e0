// The backend in force while none has been chosen: there is no receiver, every pipe open
// fails with kErrorFileNotFound and every call on a handle fails the same way. The program
// never reaches real hardware by default.
#pragma once

#include "pvrdisk/link/link_backend.h"

const LinkBackend& NoLinkBackend();
