#include "platform/SocketErrorQueue.h"

#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace lumidex::platform {

bool EnableErrorQueue(int fd) {
    const int on = 1;
    return ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on) == 0;
}

std::optional<ErrorQueueEntry> ReadErrorQueueEntry(int fd) {
    // The queued datagram's own bytes are not needed; the control message says it all. Room
    // for the extended error and the offender address that follows it, and a spare.
    std::uint8_t payload[64];
    alignas(cmsghdr)
        std::uint8_t control[CMSG_SPACE(sizeof(sock_extended_err) + sizeof(sockaddr_in)) + 64];
    sockaddr_in destination{};
    iovec io{payload, sizeof payload};
    msghdr message{};
    message.msg_name = &destination;
    message.msg_namelen = sizeof destination;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    if (::recvmsg(fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) {
        return std::nullopt;
    }
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != IPPROTO_IP || header->cmsg_type != IP_RECVERR) {
            continue;
        }
        sock_extended_err error{};
        std::memcpy(&error, CMSG_DATA(header), sizeof error);
        ErrorQueueEntry entry;
        entry.fromIcmp = error.ee_origin == SO_EE_ORIGIN_ICMP;
        entry.icmpType = error.ee_type;
        entry.icmpCode = error.ee_code;
        entry.error = static_cast<int>(error.ee_errno);
        // SO_EE_OFFENDER: the address stored right after the extended error.
        const std::size_t offenderAt = sizeof error;
        if (header->cmsg_len >= CMSG_LEN(offenderAt + sizeof(sockaddr_in))) {
            sockaddr_in offender{};
            std::memcpy(&offender, CMSG_DATA(header) + offenderAt, sizeof offender);
            if (offender.sin_family == AF_INET) {
                std::memcpy(entry.offender.data(), &offender.sin_addr, 4);
            }
        }
        if (message.msg_namelen >= sizeof destination && destination.sin_family == AF_INET) {
            std::memcpy(entry.destination.address.data(), &destination.sin_addr, 4);
            entry.destination.port = ntohs(destination.sin_port);
        }
        return entry;
    }
    return std::nullopt;
}

}  // namespace lumidex::platform
