// SPDX-License-Identifier: MIT
// One open point store file (format and rules in hostrt/store.h).
#ifndef HOSTRT_SRC_STORE_FILE_H
#define HOSTRT_SRC_STORE_FILE_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "hostrt/store.h"

struct sqlite3;
struct sqlite3_stmt;

namespace hostrt::store {

// Why a call failed: a host error number and a message naming the file.
struct Failure {
  int code = 0;
  std::string message;
};

class StoreFile {
 public:
  // Opens the store at `path`, creating it when the file is missing or
  // empty. Returns null with `failure` filled when the file is refused.
  static std::unique_ptr<StoreFile> open(const std::string &path, Failure &failure);
  ~StoreFile();
  StoreFile(const StoreFile &) = delete;
  StoreFile &operator=(const StoreFile &) = delete;

  const std::string &path() const { return path_; }

  // The calls below lock the store; each returns the C call's result.
  int32_t read(int32_t index, DboperRecord &record, Failure &failure);
  int32_t write(int32_t index, int32_t selector, std::optional<int32_t> pointId, uint32_t status,
                double value, Failure &failure);
  int32_t clear(int32_t index, int32_t selector, Failure &failure);

 private:
  explicit StoreFile(std::string path) : path_(std::move(path)) {}
  bool start(Failure &failure);
  Failure sqlFailure(int rc, const std::string &what) const;

  std::string path_;
  std::mutex mutex_;
  sqlite3 *db_ = nullptr;
  sqlite3_stmt *read_ = nullptr;
  sqlite3_stmt *write_ = nullptr;
  sqlite3_stmt *clear_ = nullptr;
};

}  // namespace hostrt::store

#endif
