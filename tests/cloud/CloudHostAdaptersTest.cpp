// This machine's side of the account: which service URLs may be used, the secret store's file
// fallback, and the HTTP client's refusals.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <condition_variable>
#include <mutex>

#include "cloud/CloudConfig.h"
#include "platform/ServiceURL.h"
#include "platform/host/CurlHttpClient.h"
#include "platform/host/HostSecretStore.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimProcessInfo.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

TEST(ServiceURLTest, PlainHttpOnlyForLoopbackHosts) {
  for (const char* url :
       {"https://lumarin.kestova.example/", "HTTPS://Example.com", "http://127.0.0.1:8787/",
        "http://127.255.0.9/", "http://localhost/", "http://LOCALHOST:80", "http://[::1]:8787/",
        "http://127.0.0.1?x", "https://10.0.0.1/"}) {
    EXPECT_TRUE(isPermittedServiceURL(url)) << url;
  }
  for (const char* url :
       {"http://example.com/", "http://128.0.0.1/", "http://127.0.0.1.evil.example/",
        "http://127.0.0.1@evil.example/", "http://evil.example/127.0.0.1", "http://[::2]/",
        "http://localhost.evil.example/", "http://127.0.0/", "http://127.0.0.256/",
        "http://[::1]evil/", "ftp://127.0.0.1/", "https:///nohost", "", "127.0.0.1:8787"}) {
    EXPECT_FALSE(isPermittedServiceURL(url)) << url;
  }
}

TEST(CloudConfigTest, TheEnvironmentOverridesOnlyWithAPermittedURL) {
  SimProcessInfo process;
  EXPECT_EQ(CloudConfig::fromEnvironment(process).baseURL, CloudConfig::builtInBaseURL());
  EXPECT_TRUE(CloudConfig::builtInBaseURL().ends_with('/'));
  process.env["LUMARIN_SERVICE_URL"] = "http://127.0.0.1:8787";
  EXPECT_EQ(CloudConfig::fromEnvironment(process).baseURL, "http://127.0.0.1:8787/");
  process.env["LUMARIN_SERVICE_URL"] = "http://sync.example.com/";
  EXPECT_EQ(CloudConfig::fromEnvironment(process).baseURL, CloudConfig::builtInBaseURL());
  process.env["LUMARIN_SERVICE_URL"] = "";
  EXPECT_EQ(CloudConfig::fromEnvironment(process).baseURL, CloudConfig::builtInBaseURL());
}

TEST(HostSecretStoreTest, TheFileFallbackIsPrivateAndSurvivesAnotherInstance) {
  test::TempDir dir;
  const auto file = dir / "com.kestova.Lumarin" / "secrets.json";
  {
    HostSecretStore store("com.kestova.Lumarin", file, false);
    EXPECT_FALSE(store.get("cloudToken"));
    store.set("cloudToken", "tök\"en");
    store.set("cloudEmail", "a@example.com");
    store.remove("cloudEmail");
    store.remove("never-there");
    EXPECT_EQ(store.usesSecretService(), false);
  }
  HostSecretStore again("com.kestova.Lumarin", file, false);
  EXPECT_EQ(again.get("cloudToken"), "tök\"en");
  EXPECT_FALSE(again.get("cloudEmail"));
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // Nothing is left behind from the atomic writes.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(HostSecretStoreTest, AnUnreadableFileReadsAsEmptyAndIsReplacedOnWrite) {
  test::TempDir dir;
  const auto file = dir / "secrets.json";
  test::writeFile(file, "{\"cloudToken\": 5, ");
  HostSecretStore store("com.kestova.Lumarin", file, false);
  EXPECT_FALSE(store.get("cloudToken"));
  store.set("cloudDeviceId", "D");
  EXPECT_EQ(store.get("cloudDeviceId"), "D");
}

// Without a session bus (as in CI) the store falls back to the file by itself.
TEST(HostSecretStoreTest, WithoutASessionBusTheFileIsUsed) {
  const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const std::string saved = bus != nullptr ? bus : "";
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  test::TempDir dir;
  HostSecretStore store("com.kestova.Lumarin", dir / "secrets.json");
  store.set("cloudTier", "free");
  EXPECT_EQ(store.usesSecretService(), false);
  EXPECT_EQ(
      test::readFile(dir / "secrets.json").find("\"cloudTier\": \"free\"") != std::string::npos,
      true);
  if (bus != nullptr) {
    ::setenv("DBUS_SESSION_BUS_ADDRESS", saved.c_str(), 1);
  }
}

TEST(CurlHttpClientTest, PlainHttpToAnotherHostIsRefusedWithoutSending) {
  ManualScheduler scheduler;
  CurlHttpClient client;
  std::vector<int> statuses;
  for (const char* url : {"http://example.com/api/me", "ftp://127.0.0.1/", "file:///etc/passwd"}) {
    client.send(HttpRequest{"GET", url, {}, "", seconds(60)}, scheduler.mainQueue(),
                [&](HttpResponse response) { statuses.push_back(response.status); });
  }
  // Refusals are posted at once, not sent to the worker.
  scheduler.runUntilIdle();
  EXPECT_EQ(statuses, (std::vector<int>{0, 0, 0}));
}

}  // namespace
}  // namespace lumarin
