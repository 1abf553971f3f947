#pragma once

#include <windows.h>

#include "tstrings.h"

namespace SysInfo {

HMODULE getCurrentModuleHandle();
tstring getCurrentModulePath();

}  // namespace SysInfo
