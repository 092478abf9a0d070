#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "engine/DiagLog.h"
#include "engine/LogTestSupport.h"

namespace lumidex {
namespace {

using testing::Header;
using testing::LocalTime;
using testing::ReadAll;

constexpr const char* kPrefix = "2006-5-3 09:05:07 1 ";

// A long text, so that an interleaved write would cut it visibly; Chinese, so that it goes
// through the GBK conversion on every thread.
std::string Utf8Text(int thread, int index) {
    std::string text = "t" + std::to_string(thread) + " n" + std::to_string(index) + " ";
    for (int i = 0; i < 20; ++i) {
        text += "\xE6\x9C\xAC\xE5\x9C\xB0IP ";  // 本地IP
    }
    return text;
}

std::string GbkText(int thread, int index) {
    std::string text = "t" + std::to_string(thread) + " n" + std::to_string(index) + " ";
    for (int i = 0; i < 20; ++i) {
        text += "\xB1\xBE\xB5\xD8IP ";
    }
    return text;
}

// Splits the file into header and entries and checks that every entry is one of those written,
// whole, exactly once, and in each thread's own order.
void ExpectWholeEntries(const std::string& content, int threads, int perThread) {
    const std::string header = Header("2006-05-03");
    ASSERT_EQ(content.compare(0, header.size(), header), 0) << "header missing";
    std::vector<std::string> entries;
    std::size_t pos = header.size();
    while (pos < content.size()) {
        ASSERT_EQ(content.compare(pos, 2, "\r\n"), 0) << "entry not on its own line at " << pos;
        pos += 2;
        const std::size_t end = std::min(content.find("\r\n", pos), content.size());
        entries.push_back(content.substr(pos, end - pos));
        pos = end;
    }
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(threads * perThread));
    std::vector<int> next(threads, 0);
    for (const std::string& entry : entries) {
        ASSERT_EQ(entry.rfind(kPrefix, 0), 0u) << entry;
        const int thread = std::stoi(entry.substr(std::string(kPrefix).size() + 1));
        ASSERT_GE(thread, 0);
        ASSERT_LT(thread, threads);
        ASSERT_EQ(entry, kPrefix + GbkText(thread, next[thread])) << "interleaved or out of order";
        ++next[thread];
    }
}

TEST(DiagLogConcurrency, EightThreadsLeaveWholeEntries) {
    constexpr int kThreads = 8;
    constexpr int kPerThread = 500;
    testing::ScratchDir dir;
    const std::string file = dir / "Lumidex_log.txt";
    DiagLog log;
    log.SetClock([] { return LocalTime(2006, 5, 3, 9, 5, 7); });
    log.SetLevel(1);
    log.SetPath(file);

    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&log, t] {
            for (int i = 0; i < kPerThread; ++i) {
                log.Write(Utf8Text(t, i), 1);
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    ExpectWholeEntries(ReadAll(file), kThreads, kPerThread);
}

// Two writers that do not share a lock in memory (as two copies of the tool would not) must
// still agree on one header for an empty file.
TEST(DiagLogConcurrency, SeparateWritersOnOneFileWriteOneHeader) {
    constexpr int kRounds = 30;
    constexpr int kThreadsPerLog = 2;
    constexpr int kPerThread = 5;
    testing::ScratchDir dir;
    for (int round = 0; round < kRounds; ++round) {
        const std::string file = dir / ("round" + std::to_string(round) + ".txt");
        DiagLog first;
        DiagLog second;
        std::vector<std::thread> writers;
        for (DiagLog* log : {&first, &second}) {
            log->SetClock([] { return LocalTime(2006, 5, 3, 9, 5, 7); });
            log->SetLevel(1);
            log->SetPath(file);
        }
        for (int t = 0; t < 2 * kThreadsPerLog; ++t) {
            DiagLog& log = t % 2 == 0 ? first : second;
            writers.emplace_back([&log, t] {
                for (int i = 0; i < kPerThread; ++i) {
                    log.Write(Utf8Text(t, i), 1);
                }
            });
        }
        for (std::thread& writer : writers) {
            writer.join();
        }
        ExpectWholeEntries(ReadAll(file), 2 * kThreadsPerLog, kPerThread);
        if (HasFatalFailure()) {
            return;
        }
    }
}

// Start-up configures the log while other threads may already write; a race here shows
// under the thread sanitizer.
TEST(DiagLogConcurrency, ConfigurationChangesWhileWriting) {
    testing::ScratchDir dir;
    const std::string file = dir / "Lumidex_log.txt";
    DiagLog log;
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        while (!stop.load()) {
            log.Write("x", 1);
        }
    });
    for (int i = 0; i < 200; ++i) {
        log.SetPath(i % 2 == 0 ? file : "");
        log.SetLevel(i % 3);
        log.SetClock([] { return LocalTime(2006, 5, 3, 9, 5, 7); });
    }
    stop.store(true);
    writer.join();
    SUCCEED();
}

}  // namespace
}  // namespace lumidex
