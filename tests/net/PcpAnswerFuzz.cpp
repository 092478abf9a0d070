// Fuzz entry point of the PCP answer reader (tests/fuzz/CorpusMain.cpp replays its corpus):
// returns 0, aborts when the reader breaks a promise.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "net/PcpMessage.h"

namespace {

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "FuzzPcpAnswer: %s\n", what);
    std::abort();
}

}  // namespace

int FuzzPcpAnswer(const uint8_t* data, size_t size) {
    using lumidex::PcpAnswerError;
    const std::span<const std::uint8_t> bytes(data, size);
    const lumidex::PcpAnswer answer = lumidex::ParsePcpAnswer(bytes);
    if (lumidex::DescribePcpAnswerError(answer.error) == nullptr) {
        Broken("an error without a description");
    }
    if (answer.error != PcpAnswerError::None) {
        return 0;
    }
    if (size < lumidex::kPcpHeaderBytes || size > lumidex::kPcpMaxMessageBytes || size % 4 != 0) {
        Broken("accepted a datagram of a length no answer has");
    }
    if (data[0] != lumidex::kPcpVersion || data[1] != 0x80 || answer.resultCode != data[3]) {
        Broken("accepted another header than an ANNOUNCE answer's");
    }
    // Options after the header are not read: the header alone gives the same answer.
    const lumidex::PcpAnswer header =
        lumidex::ParsePcpAnswer(bytes.first(lumidex::kPcpHeaderBytes));
    if (header.error != answer.error || header.resultCode != answer.resultCode ||
        header.epoch != answer.epoch || header.lifetime != answer.lifetime) {
        Broken("the options changed the answer");
    }
    return 0;
}
