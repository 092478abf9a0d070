// Starting programs the ShellExecuteA way, and copied-data messages between processes,
// together: the patch program is started one way and answers the other.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/CopyData.h"
#include "platform/ShellExecute.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace lumidex::platform {
namespace {

struct Message {
    uint32_t data;
    std::string text;
    bool operator==(const Message&) const = default;
};

// Collects what arrives within the guard, returning once `count` messages came.
std::vector<Message> Receive(CopyDataReceiver& receiver, std::size_t count,
                             std::chrono::milliseconds guard = std::chrono::seconds(10)) {
    std::vector<Message> got;
    const auto deadline = std::chrono::steady_clock::now() + guard;
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd fd{receiver.Descriptor(), POLLIN, 0};
        ::poll(&fd, 1, 50);
        receiver.Process([&](uint32_t data, std::string_view text) {
            got.push_back({data, std::string(text)});
        });
    }
    return got;
}

void SendRaw(WindowHandle window, const std::string& bytes) {
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = CopyDataEndpointName(window);
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&address),
             static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size()));
    ::close(fd);
}

TEST(CopyData, DatagramsBecomeMessagesInOrder) {
    auto receiver = CopyDataReceiver::Open();
    ASSERT_TRUE(receiver);
    EXPECT_GT(receiver->Handle(), 0);
    EXPECT_FALSE(CopyDataReceiver::OpenAs(receiver->Handle()));  // the handle is taken
    const WindowHandle window = receiver->Handle();
    EXPECT_TRUE(SendCopyData(window, 5890, "50|x"));
    EXPECT_TRUE(SendCopyData(window, 7, ""));
    SendRaw(window, std::string("\x02\x17\x00\x00no zero", 11));  // text to the end
    SendRaw(window, std::string("\x02\x17\x00\x00"
                                "a\0b",
                                7));                  // text to its zero
    SendRaw(window, std::string("\x02\x17\x00", 3));  // no dwData: dropped
    EXPECT_FALSE(SendCopyData(window, 1, std::string(70000, 'x')));
    const std::vector<Message> expected = {{5890, "50|x"}, {7, ""}, {5890, "no zero"}, {5890, "a"}};
    EXPECT_EQ(Receive(*receiver, 5, std::chrono::milliseconds(300)), expected);
    receiver.reset();
    EXPECT_FALSE(SendCopyData(window, 5890, "50|x"));  // nobody listens any more
}

TEST(CopyData, MessagesOfAnotherUserAreDropped) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to send as another user";
    }
    auto receiver = CopyDataReceiver::Open();
    ASSERT_TRUE(receiver);
    const pid_t child = ::fork();
    if (child == 0) {
        _exit(::setuid(65534) == 0 && SendCopyData(receiver->Handle(), 5890, "50|x") ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(Receive(*receiver, 1, std::chrono::milliseconds(200)).empty());
}

TEST(ShellExecute, ParametersAndUrls) {
    const struct {
        std::string parameters;
        std::vector<std::string> args;
    } rows[] = {
        {"", {}},
        {"getliminfo 1234", {"getliminfo", "1234"}},
        {"  a\t b  ", {"a", "b"}},
        {"\"C:\\Program Files\\x\" /y", {"C:\\Program Files\\x", "/y"}},
        {"\"\" x", {"", "x"}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(SplitParameters(row.parameters), row.args) << row.parameters;
    }
    EXPECT_TRUE(IsUrl("http://www.kelvora.com/help.htm"));
    EXPECT_TRUE(IsUrl("mailto:a@b"));
    EXPECT_FALSE(IsUrl("C:\\x.exe"));
    EXPECT_FALSE(IsUrl("/tmp/a://b"));
}

TEST(ShellExecute, StartsProgramsAndSaysWhyNot) {
    testing::TempDir dir;
    testing::WriteFile(dir / "notexe.exe", "MZ this is no program for this system");
    ::chmod((dir / "notexe.exe").c_str(), 0755);
    const struct {
        std::string file;
        intptr_t result;
    } rows[] = {
        {dir / "missing.exe", kSeFileNotFound},
        {dir / "missing/x.exe", kSePathNotFound},
        {dir / "notexe.exe/x", kSePathNotFound},
        {dir / "notexe.exe", kSeBadFormat},
        {"", kSeFileNotFound},
        {"Q:\\nowhere.exe", kSePathNotFound},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ShellExecuteA(kNoWindow, "open", row.file, "", nullptr, kSwHide), row.result)
            << row.file;
    }
}

TEST(ShellExecute, PatchStandInAnswersTheWindowItWasGiven) {
    testing::TempDir dir;
    auto receiver = CopyDataReceiver::Open();
    ASSERT_TRUE(receiver);
    ::setenv("LUMIDEX_PATCH_RECORD", (dir / "starts").c_str(), 1);
    ::setenv("LUMIDEX_PATCH_ANSWER", " 10|standin", 1);
    const std::string parameters = "getliminfo " + std::to_string(receiver->Handle());
    EXPECT_GT(ShellExecuteA(receiver->Handle(), "open", LUMIDEX_PATCH_STANDIN, parameters, nullptr,
                            kSwHide),
              kShellExecuteErrorMax);
    EXPECT_EQ(Receive(*receiver, 1), (std::vector<Message>{{5890, " 10|standin"}}));
    EXPECT_GT(ShellExecuteA(kNoWindow, nullptr, LUMIDEX_PATCH_STANDIN, "", nullptr, kSwShow),
              kShellExecuteErrorMax);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (testing::ReadAll(dir / "starts").find("start\n") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        ::poll(nullptr, 0, 20);
    }
    EXPECT_EQ(testing::ReadAll(dir / "starts"), parameters + "\nstart\n");
    ::unsetenv("LUMIDEX_PATCH_RECORD");
    ::unsetenv("LUMIDEX_PATCH_ANSWER");
}

}  // namespace
}  // namespace lumidex::platform
