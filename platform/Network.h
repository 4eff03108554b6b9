// The network adapters the program identifies the computer by.
#pragma once

#include <array>

#include "WinTypes.h"

// The hardware address of the first adapter, in interface-index order, that is not the
// loopback one and has a six-byte address that is not all zero, read below the sysfs
// root of the hooks. False when none.
bool FirstAdapterAddress(std::array<BYTE, 6>& address);
