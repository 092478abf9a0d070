#include "platform/CopyData.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "platform/StandInLimits.h"
#include "platform/SystemError.h"

namespace lumidex::platform {
namespace {

constexpr std::size_t kDwDataBytes = 4;
// Handles tried after the process id's before Open gives up.
constexpr int kHandleAttempts = 64;

socklen_t EndpointAddress(WindowHandle window, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const std::string name = CopyDataEndpointName(window);
    // Abstract namespace: a leading NUL, and the name's length says where it ends.
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

UniqueFd DatagramSocket() {
    return UniqueFd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
}

// The sender's user from the credentials the kernel attached; -1 when there are none.
long SenderUid(msghdr& message) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS &&
            c->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
            ucred credentials{};
            std::memcpy(&credentials, CMSG_DATA(c), sizeof credentials);
            return static_cast<long>(credentials.uid);
        }
    }
    return -1;
}

}  // namespace

std::string CopyDataEndpointName(WindowHandle window) {
    return "lumidex-window-" + std::to_string(window);
}

std::optional<CopyDataMessage> DecodeCopyData(std::string_view datagram) {
    if (datagram.size() < kDwDataBytes || datagram.size() > kCopyDataMaxBytes) {
        return std::nullopt;
    }
    CopyDataMessage message;
    for (std::size_t i = 0; i < kDwDataBytes; ++i) {
        message.dwData |= uint32_t{static_cast<unsigned char>(datagram[i])} << (8 * i);
    }
    message.text = datagram.substr(kDwDataBytes);
    message.text = message.text.substr(0, message.text.find('\0'));
    return message;
}

bool SendCopyData(WindowHandle window, uint32_t dwData, std::string_view text) {
    if (kDwDataBytes + text.size() + 1 > kCopyDataMaxBytes) {
        return false;
    }
    const UniqueFd fd = DatagramSocket();
    if (!fd) {
        return false;
    }
    std::string datagram(kDwDataBytes, '\0');
    for (std::size_t i = 0; i < kDwDataBytes; ++i) {
        datagram[i] = static_cast<char>((dwData >> (8 * i)) & 0xff);
    }
    datagram.append(text);
    datagram += '\0';
    sockaddr_un address{};
    const socklen_t length = EndpointAddress(window, address);
    const ssize_t sent = RetryAfterSignal([&] {
        return ::sendto(fd.get(), datagram.data(), datagram.size(), 0,
                        reinterpret_cast<const sockaddr*>(&address), length);
    });
    return sent == static_cast<ssize_t>(datagram.size());
}

std::optional<CopyDataReceiver> CopyDataReceiver::OpenAs(WindowHandle window) {
    UniqueFd fd = DatagramSocket();
    if (!fd) {
        return std::nullopt;
    }
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
    sockaddr_un address{};
    const socklen_t length = EndpointAddress(window, address);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        return std::nullopt;
    }
    return CopyDataReceiver(std::move(fd), window);
}

std::optional<CopyDataReceiver> CopyDataReceiver::Open() {
    // Handles are printed as signed decimals; keep them positive and away from 0.
    const WindowHandle base = static_cast<WindowHandle>(::getpid() & 0x3fffffff) + 1;
    for (int i = 0; i < kHandleAttempts; ++i) {
        if (auto receiver = OpenAs(base + i)) {
            return receiver;
        }
    }
    return std::nullopt;
}

int CopyDataReceiver::Process(const Handler& handler) {
    int handed = 0;
    std::vector<char> buffer(kCopyDataMaxBytes);
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    const long ownUid = static_cast<long>(::getuid());
    for (;;) {
        iovec io{buffer.data(), buffer.size()};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n =
            RetryAfterSignal([&] { return ::recvmsg(m_fd.get(), &message, MSG_TRUNC); });
        if (n < 0) {
            return handed;  // EAGAIN: nothing more waits
        }
        // MSG_TRUNC: a datagram longer than the buffer shows its whole length, and is dropped.
        const auto size = static_cast<std::size_t>(n);
        const auto decoded = size <= buffer.size()
                                 ? DecodeCopyData(std::string_view(buffer.data(), size))
                                 : std::nullopt;
        if (!decoded || SenderUid(message) != ownUid) {
            continue;
        }
        handler(decoded->dwData, decoded->text);
        ++handed;
    }
}

}  // namespace lumidex::platform
