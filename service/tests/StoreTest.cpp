// Both stores against real databases: the same cases run on an SQLite file and on a
// PostgreSQL server started for the test process.
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

#include "PostgresServer.h"
#include "service/Store.h"
#include "support/TempDir.h"

namespace lumarin::service {
namespace {

class ServiceStoreTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "postgresql") {
      std::string whyNot;
      auto* server = test::PostgresServer::shared(whyNot);
      if (server == nullptr) {
        if (whyNot.starts_with("PostgreSQL server programs")) {
          GTEST_SKIP() << whyNot;
        }
        FAIL() << whyNot;
      }
      location_ = server->freshDatabase();
    } else {
      location_ = (dir_ / "service.db").string();
    }
    store_ = openStore();
    ASSERT_TRUE(store_);
  }

  std::unique_ptr<Store> openStore() {
    auto store = Store::open(location_);
    EXPECT_TRUE(store.ok()) << (store.ok() ? "" : store.error().message);
    return store.ok() ? std::move(store).value() : nullptr;
  }

  std::int64_t newAccount(const std::string& email) {
    auto id = store_->createAccount(email, "hash", "free", 1000);
    EXPECT_TRUE(id.ok());
    return id.valueOr(0);
  }

  test::TempDir dir_;
  std::string location_;
  std::unique_ptr<Store> store_;
};

TEST_P(ServiceStoreTest, AccountsAreUniqueByEmailAndTokensResolveUntilRevoked) {
  const auto id = newAccount("ada@example.com");
  auto duplicate = store_->createAccount("ada@example.com", "other", "free", 1001);
  ASSERT_FALSE(duplicate.ok());
  EXPECT_EQ(duplicate.error().code, Store::kDuplicate);

  auto found = store_->accountByEmail("ada@example.com");
  ASSERT_TRUE(found.ok() && found.value());
  EXPECT_EQ(found.value()->id, id);
  EXPECT_EQ(found.value()->passwordHash, "hash");
  EXPECT_FALSE(store_->accountByEmail("bob@example.com").value().has_value());

  ASSERT_TRUE(store_->saveToken("t-hash", id, "DEVICE", 1002).ok());
  EXPECT_EQ(store_->accountForToken("t-hash", 1003, 0).value()->email, "ada@example.com");
  EXPECT_FALSE(store_->accountForToken("other", 1003, 0).value().has_value());
  EXPECT_TRUE(store_->revokeToken("t-hash").value());
  EXPECT_FALSE(store_->revokeToken("t-hash").value());
  EXPECT_FALSE(store_->accountForToken("t-hash", 1003, 0).value().has_value());
}

TEST_P(ServiceStoreTest, CodeIsTakenOnceAndExpiredOnesArePurgedAtTheirExpiry) {
  const auto id = newAccount("ada@example.com");
  ASSERT_TRUE(store_->saveCode("c1", AuthCode{id, "challenge", 1600}).ok());
  ASSERT_TRUE(store_->saveCode("c2", AuthCode{id, "challenge", 1601}).ok());

  auto taken = store_->takeCode("c1");
  ASSERT_TRUE(taken.ok() && taken.value());
  EXPECT_EQ(taken.value()->accountId, id);
  EXPECT_EQ(taken.value()->challenge, "challenge");
  EXPECT_EQ(taken.value()->expiresAt, 1600);
  EXPECT_FALSE(store_->takeCode("c1").value().has_value());

  // A code expiring at 1601 is gone at 1601, not before.
  EXPECT_EQ(store_->purgeExpiredCodes(1600).value(), 0);
  EXPECT_EQ(store_->purgeExpiredCodes(1601).value(), 1);
  EXPECT_FALSE(store_->takeCode("c2").value().has_value());
}

TEST_P(ServiceStoreTest, BlobVersionsMoveOnlyFromTheCurrentBase) {
  const auto id = newAccount("ada@example.com");
  EXPECT_FALSE(store_->blob(id).value().has_value());

  // Nothing stored: only base 0 is current.
  auto stale = store_->putBlob(id, 3, "x", "D", 1);
  ASSERT_TRUE(stale.ok());
  EXPECT_FALSE(stale->stored);
  EXPECT_EQ(stale->version, 0);

  const std::string text = R"({"defaultStyle":"red","languageCode":"ja","note":"\"日本\"\n"})";
  auto first = store_->putBlob(id, 0, text, "D1", 10);
  ASSERT_TRUE(first.ok());
  EXPECT_TRUE(first->stored);
  EXPECT_EQ(first->version, 1);

  auto again = store_->putBlob(id, 0, "lost", "D2", 11);
  EXPECT_FALSE(again->stored);
  EXPECT_EQ(again->version, 1);

  auto second = store_->putBlob(id, 1, "{}", "D2", 12);
  EXPECT_TRUE(second->stored);
  EXPECT_EQ(second->version, 2);

  auto read = store_->blob(id).value();
  ASSERT_TRUE(read);
  EXPECT_EQ(read->version, 2);
  EXPECT_EQ(read->blob, "{}");
  EXPECT_EQ(read->deviceId, "D2");

  // The blob is kept byte for byte.
  const auto other = newAccount("bob@example.com");
  ASSERT_TRUE(store_->putBlob(other, 0, text, "D1", 13)->stored);
  EXPECT_EQ(store_->blob(other).value()->blob, text);

  auto listed = store_->blobs().value();
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0].email, "ada@example.com");
  EXPECT_EQ(listed[1].version, 1);
}

// The lost-update guard: writers on the same base through several connections (as from several
// service processes) leave exactly one winner, and the version counts every win.
TEST_P(ServiceStoreTest, ConcurrentWritersOnOneBaseHaveExactlyOneWinner) {
  const auto id = newAccount("ada@example.com");
  auto secondProcess = openStore();
  ASSERT_TRUE(secondProcess);
  constexpr int kWriters = 12;
  constexpr int kRounds = 4;
  for (int round = 0; round < kRounds; ++round) {
    std::latch ready(kWriters);
    std::atomic<int> wins{0};
    std::atomic<int> conflicts{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
      Store& store = (w % 2 == 0) ? *store_ : *secondProcess;
      writers.emplace_back([&, w] {
        ready.arrive_and_wait();
        auto outcome = store.putBlob(
            id, round, "round " + std::to_string(round) + " writer " + std::to_string(w), "D",
            round);
        ASSERT_TRUE(outcome.ok()) << outcome.error().message;
        if (outcome->stored) {
          EXPECT_EQ(outcome->version, round + 1);
          ++wins;
        } else {
          EXPECT_EQ(outcome->version, round + 1);
          ++conflicts;
        }
      });
    }
    for (auto& t : writers) {
      t.join();
    }
    EXPECT_EQ(wins.load(), 1) << "round " << round;
    EXPECT_EQ(conflicts.load(), kWriters - 1);
  }
  EXPECT_EQ(store_->blob(id).value()->version, kRounds);
}

TEST_P(ServiceStoreTest, ConcurrentExchangesOfOneCodeGetItOnce) {
  const auto id = newAccount("ada@example.com");
  auto secondProcess = openStore();
  ASSERT_TRUE(secondProcess);
  ASSERT_TRUE(store_->saveCode("code", AuthCode{id, "c", 99}).ok());
  constexpr int kTakers = 8;
  std::latch ready(kTakers);
  std::atomic<int> got{0};
  std::vector<std::thread> takers;
  for (int i = 0; i < kTakers; ++i) {
    Store& store = (i % 2 == 0) ? *store_ : *secondProcess;
    takers.emplace_back([&] {
      ready.arrive_and_wait();
      auto code = store.takeCode("code");
      ASSERT_TRUE(code.ok());
      if (code.value()) {
        ++got;
      }
    });
  }
  for (auto& t : takers) {
    t.join();
  }
  EXPECT_EQ(got.load(), 1);
}

TEST_P(ServiceStoreTest, ReportsKeepTheirKindAccountAndOrder) {
  const auto id = newAccount("ada@example.com");
  ASSERT_TRUE(store_->addReport(Report{0, "improve", id, "INSTALL", R"({"events":[]})", 5}).ok());
  ASSERT_TRUE(
      store_->addReport(Report{0, "crash", std::nullopt, "", R"({"type":"crash"})", 6}).ok());
  auto reports = store_->reports().value();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].kind, "improve");
  EXPECT_EQ(reports[0].accountId, id);
  EXPECT_EQ(reports[0].installId, "INSTALL");
  EXPECT_EQ(reports[1].kind, "crash");
  EXPECT_FALSE(reports[1].accountId.has_value());
  EXPECT_EQ(reports[1].body, R"({"type":"crash"})");
  EXPECT_LT(reports[0].id, reports[1].id);
}

// Statements stay prepared from one call to the next: a read that stopped at its first row must
// not keep its snapshot, so what another process wrote since is seen, and written after.
TEST_P(ServiceStoreTest, KeptStatementsSeeAndFollowAnotherProcessesWrites) {
  const auto id = newAccount("ada@example.com");
  ASSERT_TRUE(store_->saveToken("t-hash", id, "D", 1000).ok());
  ASSERT_TRUE(store_->putBlob(id, 0, "one", "D", 1000)->stored);
  EXPECT_EQ(store_->accountForToken("t-hash", 1000, 0).value()->id, id);
  EXPECT_EQ(store_->blob(id).value()->version, 1);

  auto secondProcess = openStore();
  ASSERT_TRUE(secondProcess);
  ASSERT_TRUE(secondProcess->putBlob(id, 1, "two", "D", 1001)->stored);
  ASSERT_TRUE(secondProcess->revokeToken("t-hash").value());

  auto read = store_->blob(id);
  ASSERT_TRUE(read.ok() && read.value());
  EXPECT_EQ(read.value()->blob, "two");
  EXPECT_EQ(read.value()->version, 2);
  EXPECT_FALSE(store_->accountForToken("t-hash", 1001, 0).value().has_value());
  auto third = store_->putBlob(id, 2, "three", "D", 1002);
  ASSERT_TRUE(third.ok()) << third.error().message;
  EXPECT_TRUE(third->stored);
  EXPECT_EQ(secondProcess->blob(id).value()->blob, "three");
}

// The server ends the store's connections (a restart, an administrator): the call that finds
// its connection gone fails, and the connection opened in its place prepares its statements
// again instead of naming ones that died with the old one.
TEST_P(ServiceStoreTest, AConnectionTheServerDroppedIsReplacedWithItsStatements) {
  if (GetParam() != "postgresql") {
    GTEST_SKIP() << "PostgreSQL only: the SQLite store has no server";
  }
  const auto id = newAccount("ada@example.com");
  ASSERT_TRUE(store_->putBlob(id, 0, "one", "D", 1000)->stored);
  EXPECT_EQ(store_->blob(id).value()->version, 1);

  PGconn* admin = PQconnectdb(location_.c_str());
  ASSERT_EQ(PQstatus(admin), CONNECTION_OK) << PQerrorMessage(admin);
  PGresult* ended = PQexec(admin,
                           "SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                           "WHERE datname = current_database() AND pid <> pg_backend_pid()");
  EXPECT_EQ(PQresultStatus(ended), PGRES_TUPLES_OK) << PQresultErrorMessage(ended);
  EXPECT_GE(PQntuples(ended), 1);
  PQclear(ended);
  PQfinish(admin);

  int failed = 0;
  Result<std::optional<SyncBlob>> read = Error{"not read"};
  for (int attempt = 0; attempt < 3; ++attempt) {
    read = store_->blob(id);
    if (read.ok()) {
      break;
    }
    ++failed;
  }
  ASSERT_TRUE(read.ok()) << read.error().message;
  EXPECT_LE(failed, 1);
  EXPECT_EQ(read.value()->blob, "one");
  auto second = store_->putBlob(id, 1, "two", "D", 1001);
  ASSERT_TRUE(second.ok()) << second.error().message;
  EXPECT_TRUE(second->stored);
  EXPECT_EQ(store_->blob(id).value()->version, 2);
}

std::string backendName(const ::testing::TestParamInfo<std::string>& param) { return param.param; }

INSTANTIATE_TEST_SUITE_P(Backends, ServiceStoreTest, ::testing::Values("sqlite", "postgresql"),
                         backendName);

TEST(ServiceStoreOpenTest, UnusableLocationsAreErrorsNotCrashes) {
  auto sqlite = Store::open("/nonexistent-dir/for/sure/service.db");
  ASSERT_FALSE(sqlite.ok());
  EXPECT_NE(sqlite.error().message.find("cannot open"), std::string::npos);

  // A socket directory where no server listens.
  auto postgres = Store::open("host=/nonexistent-dir dbname=lumarin connect_timeout=1");
  ASSERT_FALSE(postgres.ok());
  EXPECT_NE(postgres.error().message.find("postgresql"), std::string::npos);
}

}  // namespace
}  // namespace lumarin::service
