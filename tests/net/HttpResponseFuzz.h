// The one harness that feeds the HTTP response reader in pieces, shared by its table test and
// its fuzz entry point: it feeds as a client does and records every promise the reader broke
// (a limit passed, bytes taken past the end, an ended response still wanting bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

#include "net/HttpResponseReader.h"

namespace lumidex::testing {

struct ResponseRead {
    ResponseReader::Progress progress = ResponseReader::Progress::NeedMore;  // before Finish
    std::size_t consumed = 0;
    int status = 0;
    std::string header;
    bool hasBody = false;
    std::string body;  // BodyLength bytes
    BodyMode mode = BodyMode::None;
    ReadError error = ReadError::None;
    std::string broken;  // the first broken promise, empty when none

    bool operator==(const ResponseRead&) const = default;
};

void PrintTo(const ResponseRead& read, std::ostream* os);

// Feeds input in pieces of pieceSize (after a first piece of firstCut bytes, when not 0),
// never more than MaxWanted at once, until the response ends or the input does; then Finish,
// as when the connection ends.
ResponseRead ReadResponseInPieces(std::string_view input, std::size_t firstCut,
                                  std::size_t pieceSize);
// The same, with the size of the n-th piece 1 + pattern[n % pattern.size()] % 64.
ResponseRead ReadResponseInPattern(std::string_view input, std::string_view pattern);

}  // namespace lumidex::testing

// Fuzz entry point of the HTTP response reader: returns 0 (under libFuzzer -1 for an input it
// does not read, to keep out of the corpus), aborts when the reader breaks a promise or when
// feeding in pieces (of sizes taken from the input) changes the result.
int FuzzHttpResponse(const uint8_t* data, size_t size);
