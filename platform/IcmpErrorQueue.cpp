#include "platform/IcmpErrorQueue.h"

#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "platform/ByteReader.h"
#include "platform/SystemError.h"

namespace lumidex::platform {
namespace {

constexpr std::uint8_t kIcmpEchoRequest = 8;

std::array<std::uint8_t, 4> Bytes(const in_addr& address) {
    std::array<std::uint8_t, 4> bytes{};
    std::memcpy(bytes.data(), &address.s_addr, bytes.size());
    return bytes;
}

}  // namespace

std::optional<std::uint16_t> IcmpErrorEntry::EchoSequence() const {
    ByteReader reader(payload.data(), payloadSize);
    const std::uint8_t type = reader.U8();
    reader.Skip(5);  // code, checksum, identifier
    const std::uint16_t sequence = reader.U16Le();
    if (!reader.Ok() || type != kIcmpEchoRequest) {
        return std::nullopt;
    }
    return sequence;
}

bool EnableErrorQueue(int fd) {
    const int on = 1;
    return ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on) == 0;
}

ErrorQueueRead ReadErrorQueue(int fd, IcmpErrorEntry& entry) {
    entry = {};
    sockaddr_in destination{};
    iovec data{entry.payload.data(), entry.payload.size()};
    // Room for the extended error and its offender address, with the kernel's alignment.
    alignas(cmsghdr)
        std::uint8_t control[CMSG_SPACE(sizeof(sock_extended_err) + sizeof(sockaddr_in)) +
                             CMSG_SPACE(sizeof(int))];
    msghdr message{};
    message.msg_name = &destination;
    message.msg_namelen = sizeof destination;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got =
        RetryAfterSignal([&] { return ::recvmsg(fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT); });
    if (got < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK ? ErrorQueueRead::Empty
                                                       : ErrorQueueRead::Failed;
    }
    // A cut datagram is fine: only its start is wanted.
    entry.payloadSize = static_cast<std::size_t>(got);
    if (message.msg_namelen >= sizeof destination && destination.sin_family == AF_INET) {
        entry.destination = {Bytes(destination.sin_addr), ntohs(destination.sin_port)};
    }
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != IPPROTO_IP || header->cmsg_type != IP_RECVERR ||
            header->cmsg_len < CMSG_LEN(sizeof(sock_extended_err))) {
            continue;
        }
        sock_extended_err error{};
        std::memcpy(&error, CMSG_DATA(header), sizeof error);
        entry.error = static_cast<int>(error.ee_errno);
        entry.fromIcmp = error.ee_origin == SO_EE_ORIGIN_ICMP;
        entry.type = error.ee_type;
        entry.code = error.ee_code;
        // The offender follows the extended error in the same message.
        if (header->cmsg_len >= CMSG_LEN(sizeof error + sizeof(sockaddr_in))) {
            sockaddr_in offender{};
            std::memcpy(&offender, CMSG_DATA(header) + sizeof error, sizeof offender);
            if (offender.sin_family == AF_INET) {
                entry.offender = Bytes(offender.sin_addr);
            }
        }
        return ErrorQueueRead::Entry;
    }
    // A message without its extended error tells nothing; report it as read so the caller
    // moves on to the next one.
    return ErrorQueueRead::Entry;
}

}  // namespace lumidex::platform
