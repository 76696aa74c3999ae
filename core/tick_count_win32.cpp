#include "core/tick_widener.h"

#include <windows.h>

// The threads library of Debian's mingw-w64 calls GetTickCount64, which
// Windows XP lacks, so a program linking it would not start there. This
// defines the import slot it calls through, so the linker takes it instead
// of the one in kernel32; core/CMakeLists.txt makes sure it is linked in.
// The count comes from GetTickCount, widened past its 49.7-day wrap.

namespace {

constinit p2k::TickWidener widener;

ULONGLONG WINAPI tickCount64()
{
    return widener.widen(GetTickCount());
}

} // namespace

// The slot's name, as core/CMakeLists.txt also spells it.
#ifdef _WIN64
#define P2K_IMPORT_SLOT "__imp_GetTickCount64"
#else
#define P2K_IMPORT_SLOT "__imp__GetTickCount64@0"
#endif
extern "C" ULONGLONG(WINAPI* const p2kGetTickCount64)() __asm__(P2K_IMPORT_SLOT);
extern "C" ULONGLONG(WINAPI* const p2kGetTickCount64)() = tickCount64;
