#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <fstream>
#include <future>

#include "platform/host/LocalURLChannel.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

// The sender runs on its own thread, as the second process would; the main thread runs the
// event loop until the link has arrived.
std::vector<std::string> handOver(LocalURLChannel& channel, const std::filesystem::path& path,
                                  const std::vector<std::string>& urls, std::size_t expected,
                                  std::vector<bool>& sent) {
  std::vector<std::string> received;
  EXPECT_TRUE(channel.listen(path, [&](const std::string& url) {
    received.push_back(url);
    return url != "lumarin://refused";
  }));
  auto sender = std::async(std::launch::async, [&] {
    std::vector<bool> results;
    for (const auto& url : urls) {
      results.push_back(LocalURLChannel::send(path, url));
    }
    return results;
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while ((received.size() < expected ||
          sender.wait_for(std::chrono::seconds(0)) != std::future_status::ready) &&
         std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents, 50);
  }
  EXPECT_GE(received.size(), expected) << "the links did not arrive within 30 s";
  sent = sender.get();  // the sender's own connections time out on their own
  return received;
}

TEST(LocalURLChannelTest, ALinkReachesTheRunningInstanceAndStaleSocketsAreReplaced) {
  test::TempDir dir;
  const auto path = LocalURLChannel::socketPath(dir.path(), "com.kestova/Lumarin", 501);
  EXPECT_EQ(path.filename(), "com.kestova_Lumarin.501.url.socket");
  // Nobody listens: the second process learns it.
  EXPECT_FALSE(LocalURLChannel::send(path, "lumarin://auth?code=1"));
  // A file left behind by an instance that is gone does not stop the next one.
  std::ofstream(path) << "stale";
  LocalURLChannel channel;
  std::vector<bool> sent;
  const auto received = handOver(
      channel, path,
      {"lumarin://auth?code=1&state=2", std::string(9000, 'x'), "lumarin://refused", "lumarin://b"},
      3, sent);
  EXPECT_EQ(received, (std::vector<std::string>{"lumarin://auth?code=1&state=2",
                                                "lumarin://refused", "lumarin://b"}));
  // A line over the limit is refused by the sender already; a link the program did not take
  // is reported to the sender.
  EXPECT_EQ(sent, (std::vector<bool>{true, false, false, true}));
}

TEST(LocalURLChannelTest, TheSocketLivesInADirectoryOfTheUsersAlone) {
  test::TempDir dir;
  const unsigned uid = ::getuid();
  // A runtime directory that others may read is not used; a private one is.
  const auto open = dir.path() / "open";
  std::filesystem::create_directory(open);
  std::filesystem::permissions(open, std::filesystem::perms::all);
  EXPECT_EQ(LocalURLChannel::privateDirectory(open.string(), dir.path(), uid),
            dir.path() / ("lumarin-" + std::to_string(uid)));
  std::filesystem::permissions(open, std::filesystem::perms::owner_all);
  EXPECT_EQ(LocalURLChannel::privateDirectory(open.string(), dir.path(), uid), open);
  // Someone else's directory at our name is never used.
  EXPECT_TRUE(LocalURLChannel::privateDirectory(std::nullopt, dir.path(), uid + 1).empty());
}

}  // namespace
}  // namespace lumarin
