// Fuzz entry point of the STUN Binding answer parser (tests/fuzz/CorpusMain.cpp replays its
// corpus): returns 0, aborts when the parser breaks a promise.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "net/StunMessage.h"

namespace {

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "FuzzStunAnswer: %s\n", what);
    std::abort();
}

}  // namespace

int FuzzStunAnswer(const uint8_t* data, size_t size) {
    using namespace lumidex::stun;
    const std::span<const std::uint8_t> bytes(data, size);
    const AnswerResult result = ParseBindingAnswer(bytes);
    if (DescribeAnswerError(result.error) == nullptr) {
        Broken("an error without a description");
    }
    if (result.error != AnswerError::None) {
        if (result.offset > size) {
            Broken("an error offset beyond the datagram");
        }
        return 0;
    }
    if (size < kHeaderBytes || size > kMaxAnswerBytes || size % 4 != 0 || (data[0] & 0xC0) != 0) {
        Broken("accepted a datagram its header rules out");
    }
    // Written out again, the answer reads back the same.
    const BindingAnswer& answer = result.answer;
    // The class has three bits: a code from 800 up is not one a server can write.
    if (answer.errorCode && *answer.errorCode >= 800) {
        return 0;
    }
    const AnswerFields fields{answer.id,     answer.success,   answer.mapped, answer.other,
                              answer.origin, answer.errorCode, false};
    const AnswerResult again = ParseBindingAnswer(WriteBindingAnswer(fields));
    if (again.error != AnswerError::None || again.answer.id != answer.id ||
        again.answer.success != answer.success || again.answer.mapped != answer.mapped ||
        again.answer.other != answer.other || again.answer.origin != answer.origin ||
        again.answer.errorCode != answer.errorCode) {
        Broken("the answer does not read back the same");
    }
    // A datagram longer than what was read can never be a whole answer.
    if (ParseBindingAnswer(bytes, size + 1).error == AnswerError::None) {
        Broken("accepted an answer the receive cut short");
    }
    return 0;
}
