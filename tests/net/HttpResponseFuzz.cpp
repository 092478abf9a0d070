#include "HttpResponseFuzz.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "net/HttpLimits.h"

namespace lumidex::testing {

void PrintTo(const ResponseRead& read, std::ostream* os) {
    *os << "{progress " << static_cast<int>(read.progress) << ", consumed " << read.consumed
        << ", status " << read.status
        << (read.hasBody ? ", body \"" + read.body + "\"" : ", no body") << ", mode "
        << static_cast<int>(read.mode) << ", " << DescribeReadError(read.error)
        << (read.broken.empty() ? "" : ", broke: " + read.broken) << "}";
}

namespace {

// pieceLimit(n): the most the n-th piece may hold.
ResponseRead ReadWithPieces(std::string_view input,
                            const std::function<std::size_t(std::size_t)>& pieceLimit) {
    ResponseReader reader;
    ResponseRead out;
    const auto broke = [&out](const char* what) {
        if (out.broken.empty()) {
            out.broken = what;
        }
    };
    std::size_t pos = 0;
    for (std::size_t turn = 0;
         pos < input.size() && out.progress == ResponseReader::Progress::NeedMore; ++turn) {
        const std::size_t limit = pieceLimit(turn);
        const std::size_t wanted = reader.MaxWanted();
        if (wanted == 0) {
            broke("nothing wanted while the response goes on");
            break;
        }
        const std::size_t take = std::min({limit, input.size() - pos, wanted});
        std::size_t consumed = 0;
        out.progress = reader.Feed(input.substr(pos, take), consumed);
        if (consumed > take) {
            broke("consumed more than it was given");
        }
        pos += std::min(consumed, take);
    }
    if (out.progress != ResponseReader::Progress::NeedMore && reader.MaxWanted() != 0) {
        broke("an ended response still wants bytes");
    }
    reader.Finish();
    if (reader.HeaderText().size() >= kHeaderBufferBytes) {
        broke("header section past its buffer");
    }
    if (reader.BodyLength() < 0 || static_cast<std::size_t>(reader.BodyLength()) > kMaxBodyBytes) {
        broke("body length outside 0 to the body limit");
    }
    out.consumed = pos;
    out.status = reader.Status();
    out.header = reader.HeaderText();
    out.hasBody = reader.Body() != nullptr;
    if (out.hasBody) {
        if (reader.Body()[reader.BodyLength()] != '\0') {
            broke("body not NUL-terminated");
        }
        out.body.assign(reader.Body(), static_cast<std::size_t>(reader.BodyLength()));
    } else if (reader.BodyLength() != 0) {
        broke("a length without a body");
    }
    out.mode = reader.Mode();
    out.error = reader.Error();
    return out;
}

}  // namespace

ResponseRead ReadResponseInPieces(std::string_view input, std::size_t firstCut,
                                  std::size_t pieceSize) {
    return ReadWithPieces(
        input, [&](std::size_t turn) { return turn == 0 && firstCut > 0 ? firstCut : pieceSize; });
}

ResponseRead ReadResponseInPattern(std::string_view input, std::string_view pattern) {
    return ReadWithPieces(input, [&](std::size_t turn) -> std::size_t {
        return pattern.empty()
                   ? 1
                   : 1 + static_cast<unsigned char>(pattern[turn % pattern.size()]) % 64;
    });
}

}  // namespace lumidex::testing

namespace {

#ifdef LUMIDEX_LIBFUZZER
// The reader reserves as much as a Content-Length or a chunk size names, up to 64 MiB, and fills
// a body cut short up to its announced length: by design, and bounded. Under the sanitizer one
// such input costs milliseconds of page faults, and the fuzzer's number mutations make them
// often enough to cut the rate to a tenth. So an input naming a number of a million or more
// (decimal or hexadecimal, leading zeros aside) is not read, and libFuzzer keeps it out of the
// corpus (-1); the corpus replayed by the tests, and the reader's own tests at and one past
// each limit, still read such inputs.
bool NamesLargeNumber(std::string_view input) {
    constexpr std::size_t kDigits = 6;  // 0x100000 = 1 MiB; decimal 100000 and up
    std::size_t run = 0;
    for (const char c : input) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        run = !hex ? 0 : run == 0 && c == '0' ? 0 : run + 1;
        if (run >= kDigits) {
            return true;
        }
    }
    return false;
}
#endif

[[noreturn]] void Broken(const std::string& what) {
    std::fprintf(stderr, "FuzzHttpResponse: %s\n", what.c_str());
    std::abort();
}

}  // namespace

int FuzzHttpResponse(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
#ifdef LUMIDEX_LIBFUZZER
    if (NamesLargeNumber(input)) {
        return -1;
    }
#endif
    const lumidex::testing::ResponseRead whole =
        lumidex::testing::ReadResponseInPieces(input, 0, size == 0 ? 1 : size);
    if (!whole.broken.empty()) {
        Broken(whole.broken);
    }
    // One split whose cuts the input decides: over many inputs every cut is tried, at a
    // fraction of the cost of feeding each input byte by byte.
    const lumidex::testing::ResponseRead pieces =
        lumidex::testing::ReadResponseInPattern(input, input);
    if (!pieces.broken.empty()) {
        Broken(pieces.broken);
    }
    if (!(pieces == whole)) {
        Broken("feeding in pieces changed the result");
    }
    return 0;
}
