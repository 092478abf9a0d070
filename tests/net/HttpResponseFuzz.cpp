#include "HttpResponseFuzz.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/HttpLimits.h"
#include "net/HttpResponseReader.h"

namespace {

using lumidex::http::ResponseReader;

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "FuzzHttpResponse: %s\n", what);
    std::abort();
}

struct Outcome {
    ResponseReader::Progress progress = ResponseReader::Progress::NeedMore;
    std::size_t consumed = 0;
    int status = 0;
    std::string header;
    bool hasBody = false;
    std::string body;
    lumidex::http::ReadError error = lumidex::http::ReadError::None;

    bool operator==(const Outcome&) const = default;
};

Outcome Read(std::string_view input, std::size_t firstCut, std::size_t pieceSize) {
    ResponseReader reader;
    Outcome out;
    std::size_t pos = 0;
    while (pos < input.size() && out.progress == ResponseReader::Progress::NeedMore) {
        const std::size_t limit = pos == 0 && firstCut > 0 ? firstCut : pieceSize;
        const std::size_t wanted = reader.MaxWanted();
        if (wanted == 0) {
            Broken("nothing wanted while the response goes on");
        }
        const std::size_t take = std::min({limit, input.size() - pos, wanted});
        std::size_t consumed = 0;
        out.progress = reader.Feed(input.substr(pos, take), consumed);
        if (consumed > take) {
            Broken("consumed more than it was given");
        }
        pos += consumed;
    }
    if (out.progress != ResponseReader::Progress::NeedMore && reader.MaxWanted() != 0) {
        Broken("an ended response still wants bytes");
    }
    reader.Finish();
    if (reader.HeaderText().size() >= lumidex::http::kHeaderBufferBytes) {
        Broken("header section past its buffer");
    }
    if (reader.BodyLength() < 0 ||
        static_cast<std::size_t>(reader.BodyLength()) > lumidex::http::kMaxBodyBytes) {
        Broken("body length outside 0 to the body limit");
    }
    out.consumed = pos;
    out.status = reader.Status();
    out.header = reader.HeaderText();
    out.hasBody = reader.Body() != nullptr;
    if (out.hasBody) {
        if (reader.Body()[reader.BodyLength()] != '\0') {
            Broken("body not NUL-terminated");
        }
        out.body.assign(reader.Body(), static_cast<std::size_t>(reader.BodyLength()));
    } else if (reader.BodyLength() != 0) {
        Broken("a length without a body");
    }
    out.error = reader.Error();
    return out;
}

}  // namespace

int FuzzHttpResponse(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const Outcome whole = Read(input, 0, size == 0 ? 1 : size);
    const std::size_t cut = size == 0 ? 0 : data[0] % size;
    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{64}}) {
        if (!(Read(input, cut, piece) == whole)) {
            Broken("feeding in pieces changed the result");
        }
    }
    return 0;
}
