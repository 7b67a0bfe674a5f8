// Windows: the state behind the kernel bridges of platform/kernel.h.
#include "platform/kernel.h"

DWORD (*WinTickHook)();
