#pragma once

#include "commands/pc_files.h"

namespace p2k {

// The PC's files through the Win32 file functions, with UTF-16 paths.
std::unique_ptr<PcFiles> makeWin32PcFiles();

} // namespace p2k
