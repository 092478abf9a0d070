// lumidex-console: the check run of the Lumidex window, in a terminal.
#include "console/ConsoleMain.h"

int main(int argc, char** argv) {
    return lumidex::RunConsole(argc, argv);
}
