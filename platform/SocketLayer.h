// Process-wide socket set-up. On Linux there is no library to start; what matters is that a
// peer closing a connection mid-send must not kill the process with SIGPIPE.
#pragma once

namespace lumidex::platform {

// True when sockets can be used. Idempotent.
bool StartSocketLayer();
void StopSocketLayer();

}  // namespace lumidex::platform
