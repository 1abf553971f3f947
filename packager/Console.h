#pragma once

#include <cstdio>

#include "tstrings.h"

// Text output of the packaging tool: UTF-16 to a console window, UTF-8 to a
// file or pipe (as under Wine, or when the output is redirected).
namespace Console {

void out(const tstring& line);
void err(const tstring& line);

}  // namespace Console
