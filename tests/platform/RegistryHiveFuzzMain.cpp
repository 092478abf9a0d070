// Runs the hive parser's fuzz entry point over a corpus: registry_hive_fuzz DIR|FILE...
#include "RegistryHiveFuzz.h"
#include "support/FuzzCorpus.h"

int main(int argc, char** argv) {
    return lumidex::testing::RunFuzzCorpusProgram(argc - 1, argv + 1, FuzzRegistryHive);
}
