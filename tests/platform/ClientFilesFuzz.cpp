// Fuzz entry points of the readers the search for the client uses: the bounded scan of a
// machine hive for the uninstall entry, and the kernel's socket tables (tests/fuzz/
// CorpusMain.cpp replays their corpora). Each returns 0 and aborts when a reader breaks a
// promise.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/ClientProcess.h"
#include "platform/UninstallScan.h"

namespace {

using namespace lumidex::platform;

[[noreturn]] void Broken(const char* target, const char* what) {
    std::fprintf(stderr, "%s: %s\n", target, what);
    std::abort();
}

UninstallScanResult Scan(std::string_view text, std::size_t cut) {
    UninstallScanner scanner("Kelvora_is1");
    scanner.Feed(text.substr(0, cut));
    if (!scanner.Done()) {
        scanner.Feed(text.substr(cut));
    }
    return scanner.Finish();
}

}  // namespace

// The answer does not depend on where the file was cut into pieces.
int FuzzUninstallScan(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const UninstallScanResult whole = Scan(text, text.size());
    const UninstallScanResult cut = Scan(text, size == 0 ? 0 : data[0] % size);
    if (whole.status != cut.status || whole.installLocation != cut.installLocation) {
        Broken("FuzzUninstallScan", "a different answer when fed in two pieces");
    }
    if (whole.status == ScanStatus::Found && whole.installLocation.size() > kMaxScanLineBytes) {
        Broken("FuzzUninstallScan", "a location longer than a line may be");
    }
    return 0;
}

int FuzzSocketTable(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::size_t lines =
        static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    if (ParseSocketTable(text).size() > lines) {
        Broken("FuzzSocketTable", "more sockets than lines");
    }
    return 0;
}
