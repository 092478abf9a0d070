#include "platform/SocketLayer.h"

#include <csignal>

namespace lumidex::platform {

bool StartSocketLayer() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    return sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

void StopSocketLayer() {}

}  // namespace lumidex::platform
