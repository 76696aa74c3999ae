// p2kfm-cli: the command-line front end. For now it runs the demo session.

#include "app/demo_session.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

void printUsage()
{
    std::fputs("usage: p2kfm-cli --demo session\n"
               "  Runs a short session with the built-in demo phone and prints\n"
               "  every control transfer in hex, the log texts and the results.\n",
               stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--demo") == 0 && std::strcmp(argv[2], "session") == 0) {
        return p2k::runDemoSession([](std::string_view text) {
            std::fwrite(text.data(), 1, text.size(), stdout);
            std::fflush(stdout);
        });
    }
    printUsage();
    return argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) ? 0 : 1;
}
