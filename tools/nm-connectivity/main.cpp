// Prints the desktop's connectivity verdict as Lumidex reads it: the state's name, or
// "absent (why)". For the lab's tests; never installed.
#include <cstdio>

#include "platform/DesktopConnectivity.h"

int main() {
    using namespace lumidex::platform;
    const DesktopConnectivityReading reading = ReadDesktopConnectivityReading();
    if (reading.state) {
        std::printf("%s\n", DesktopConnectivityName(*reading.state));
        return 0;
    }
    std::printf("absent (%s)\n", DescribeDesktopSilence(reading.silence));
    return 0;
}
