// Windows: the system timer period is winmm's own.
#pragma once

#include "platform/win32.h"

#include <mmsystem.h>
