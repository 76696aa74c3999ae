// p2kfm-demo.exe until the window exists: the demo session in a console.

#include "app/demo_session.h"

#include <windows.h>

#include <string>

namespace {

void writeConsole(std::string_view text)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

} // namespace

int main()
{
    SetConsoleOutputCP(CP_UTF8);
    return p2k::runDemoSession(writeConsole);
}
