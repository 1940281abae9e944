#include "service/Store.h"

#include "service/PostgresStore.h"
#include "service/SqliteStore.h"

namespace lumarin::service {

namespace {

bool isPostgresLocation(const std::string& location) {
  return location.starts_with("postgresql://") || location.starts_with("postgres://") ||
         location.find("dbname=") != std::string::npos;
}

}  // namespace

Result<std::unique_ptr<Store>> Store::open(const std::string& location) {
  if (isPostgresLocation(location)) {
    auto store = PostgresStore::open(location);
    if (!store) {
      return store.error();
    }
    return std::unique_ptr<Store>(std::move(store).value());
  }
  auto store = SqliteStore::open(location);
  if (!store) {
    return store.error();
  }
  return std::unique_ptr<Store>(std::move(store).value());
}

}  // namespace lumarin::service
