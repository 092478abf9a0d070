// Runs the HTTP response reader's fuzz entry point over a corpus: http_response_fuzz DIR|FILE...
#include "HttpResponseFuzz.h"
#include "support/FuzzCorpus.h"

int main(int argc, char** argv) {
    return lumidex::testing::RunFuzzCorpusProgram(argc - 1, argv + 1, FuzzHttpResponse);
}
