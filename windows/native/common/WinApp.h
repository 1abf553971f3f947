#pragma once

#include <new>

#include "app.h"

namespace app {

// app::launch for a Windows GUI program: a logging run gets a console (its
// parent's, or a new one), and the error that ends the launcher function is
// also shown in a message box captioned with the executable's file name.
int wlaunch(const std::nothrow_t&, LauncherFunc launcher);

}  // namespace app
