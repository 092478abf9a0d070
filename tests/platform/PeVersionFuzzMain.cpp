// Runs the PE version reader's fuzz entry point over a corpus: pe_version_fuzz DIR|FILE...
#include "PeVersionFuzz.h"
#include "support/FuzzCorpus.h"

int main(int argc, char** argv) {
    return lumidex::testing::RunFuzzCorpusProgram(argc - 1, argv + 1, FuzzPeVersion);
}
