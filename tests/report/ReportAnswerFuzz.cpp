// Fuzz entry point of the judgement of the report server's answer (tests/fuzz/CorpusMain.cpp
// replays its corpus): returns 0, aborts when the judgement breaks its rule.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "report/ReportPoster.h"

int FuzzReportAnswer(const uint8_t* data, size_t size) {
    using namespace lumidex;
    // What the exchange judges: the bytes it keeps, as a C string holds them.
    std::string_view answer(reinterpret_cast<const char*>(data),
                            std::min<size_t>(size, kResponseMaxBytes));
    answer = answer.substr(0, answer.find('\0'));
    const int status = RecognizeStatus(answer);
    // The rule stated once more: "302 " anywhere wins over "200 OK" anywhere.
    const int expected = answer.find("302 ") != std::string_view::npos     ? kStatusFound
                         : answer.find("200 OK") != std::string_view::npos ? kStatusOk
                                                                           : kStatusNone;
    if (status != expected) {
        std::fprintf(stderr, "FuzzReportAnswer: the answer judged against its rule\n");
        std::abort();
    }
    return 0;
}
