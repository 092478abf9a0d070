// Runs the ICMP reply check's fuzz entry point over a corpus: icmp_reply_fuzz DIR|FILE...
#include "IcmpReplyFuzz.h"
#include "support/FuzzCorpus.h"

int main(int argc, char** argv) {
    return lumidex::testing::RunFuzzCorpusProgram(argc - 1, argv + 1, FuzzIcmpReply);
}
