// WM_COPYDATA between processes. A window handle names a local endpoint: an abstract Unix
// datagram socket "lumidex-window-<handle>". One message is one datagram: dwData as 32-bit
// little-endian, then the text and its terminating NUL. The receiving window reads its
// endpoint on its own thread (poll Descriptor(), then Process()), so its handler runs where
// the window's handlers run.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/UniqueFd.h"
#include "platform/WindowHandle.h"

namespace lumidex::platform {

// The abstract socket name of a handle, without its leading NUL.
std::string CopyDataEndpointName(WindowHandle window);

// One message as a datagram carries it: dwData, then the text up to its NUL (a sender that
// left the NUL out gets the datagram's end).
struct CopyDataMessage {
    uint32_t dwData = 0;
    std::string_view text;
};
// Empty for a datagram without dwData or longer than a receiver accepts.
std::optional<CopyDataMessage> DecodeCopyData(std::string_view datagram);

// Sends one message to window. False when no window listens under that handle or the
// message is longer than a receiver accepts.
bool SendCopyData(WindowHandle window, uint32_t dwData, std::string_view text);

class CopyDataReceiver {
public:
    using Handler = std::function<void(uint32_t dwData, std::string_view text)>;

    // An endpoint under a handle of its own, derived from the process id (the next free
    // number when that is taken). Empty when no endpoint can be made.
    static std::optional<CopyDataReceiver> Open();
    // An endpoint under exactly this handle; empty when it is taken.
    static std::optional<CopyDataReceiver> OpenAs(WindowHandle window);

    WindowHandle Handle() const { return m_handle; }
    // Readable when messages wait.
    int Descriptor() const { return m_fd.get(); }

    // Hands every waiting message to handler, in arrival order, and returns how many it
    // handed. Never blocks. Messages from another user, without dwData or too long are
    // dropped: the endpoint's name is visible to every process on the machine.
    int Process(const Handler& handler);

private:
    CopyDataReceiver(UniqueFd fd, WindowHandle handle) : m_fd(std::move(fd)), m_handle(handle) {}

    UniqueFd m_fd;
    WindowHandle m_handle = kNoWindow;
};

}  // namespace lumidex::platform
