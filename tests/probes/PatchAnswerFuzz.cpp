// Fuzz entry point of the patch program's answer, a copied-data datagram whose text is
// "<blanks><digits>|..." (tests/fuzz/CorpusMain.cpp replays its corpus): returns 0, aborts
// when the decoding or the answer's parser breaks a promise.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/AsciiChar.h"
#include "platform/CopyData.h"
#include "probes/XpSp2Patch.h"

namespace {

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "FuzzPatchAnswer: %s\n", what);
    std::abort();
}

}  // namespace

int FuzzPatchAnswer(const uint8_t* data, size_t size) {
    const std::string_view datagram(reinterpret_cast<const char*>(data), size);
    const auto message = lumidex::platform::DecodeCopyData(datagram);
    if (!message) {
        return 0;
    }
    const std::string_view text = message->text;
    if (text.find('\0') != std::string_view::npos || text.data() != datagram.data() + 4) {
        Broken("a text that is not the datagram's, up to its NUL");
    }
    std::string limitText;
    int limit = 0;
    const size_t bar = text.find('|');
    if (lumidex::ParsePatchAnswer(text, limitText, limit) !=
        (bar != std::string_view::npos && bar != 0)) {
        Broken("an answer taken or refused against the bar rule");
    }
    if (!text.substr(0, bar).ends_with(limitText) ||
        (!limitText.empty() && lumidex::platform::IsSpace(limitText.front()))) {
        Broken("a limit text that is not the text before the bar without its blanks");
    }
    return 0;
}
