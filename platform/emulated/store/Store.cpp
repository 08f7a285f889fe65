// The shared store as one (Store.h): binding to the store the environment
// names, and the order in which its parts open, write and commit.
#include "platform/emulated/store/Store.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

#include "platform/emulated/store/BuildAside.h"
#include "platform/emulated/store/Schema.h"
#include "platform/emulated/store/StorePaths.h"
#include "platform/emulated/store/WriteAccess.h"
#include "platform/emulated/system/SystemCalls.h"

namespace corvane::platform::emulated {
Store::Store() : boot_(schema::BootId()) {}

Store::~Store() { Disconnect(); }

void Store::Disconnect() {
  connection_.Close();
  counter_.Unmap();
}

void Store::Refuse(std::string problem) {
  connection_.Refuse(std::move(problem));
  counter_.Unmap();
}

LONG Store::Bind(bool& reopened) {
  reopened = false;
  // The common case, once per call: the variables that name the store are
  // as they were when it was last found the same, so the store is too.
  // Checked without searching the environment (which would cost a tenth of
  // a walk): see EnvironmentWatch.
  if (bound_ && environment_.AsSeen()) return Rebound();
  // Seen again only once the store it names is known to be the bound one:
  // setenv may hand back an earlier string for an earlier value.
  environment_.Forget();
  const char* named = std::getenv("CORVANE_REGISTRY");
  if (bound_ && named != nullptr && *named != '\0' && envPath_ == named) {
    environment_.See();
    return Rebound();
  }
  std::string env = StoreLocation();
  if (bound_ && env == envPath_) {
    environment_.See();
    return Rebound();
  }
  reopened = bound_;
  Disconnect();
  bound_ = true;
  envPath_ = env;
  connection_.Aim({});
  if (env.empty()) {
    connection_.Refuse("registry: neither CORVANE_REGISTRY nor HOME is set");
    return ERROR_BADDB;
  }
  std::error_code ec;
  const std::string absolute = std::filesystem::absolute(env, ec).string();
  if (!ec && absolute != env && named != nullptr && *named != '\0') {
    // Children started after a change of folder must find the same store.
    setenv("CORVANE_REGISTRY", absolute.c_str(), 1);
    envPath_ = absolute;
  }
  connection_.Aim(DatabasePathFor(ec ? env : absolute));
  return Open();
}

// Bound to the same store as before: reconnect if the connection was
// dropped, and leave the in-memory stand-in once the store exists.
LONG Store::Rebound() {
  if (!connection_.Problem().empty()) return ERROR_BADDB;
  if (!connection_.IsOpen()) return Open();
  if (connection_.InMemory()) {
    if (!Exists(connection_.Path())) return ERROR_SUCCESS;
    connection_.Close();
    return Open();
  }
  if (!counter_.Mapped()) counter_.Map(false);
  return ERROR_SUCCESS;
}

LONG Store::Open() {
  oldHive_.clear();
  unwritable_ = WhyNotWritable(connection_.Path());
  if (Exists(connection_.Path())) return OpenFile(false);
  if (envPath_ != connection_.Path() && Exists(envPath_)) oldHive_ = envPath_;
  return OpenMemory();
}

LONG Store::OpenMemory() {
  if (const LONG status = connection_.OpenMemory()) return status;
  return schema::CreateInMemory(connection_, boot_);
}

LONG Store::OpenFile(bool create) {
  // Two processes making or converting one store at the same moment can
  // find it locked outside SQLite's busy handler (while the other switches
  // it to WAL): that is a wait, not an unusable store.
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(Connection::WaitLimit());
  for (;;) {
    const LONG status = OpenFileOnce(create);
    if (status == ERROR_SUCCESS || !connection_.BusyFailure() ||
        std::chrono::steady_clock::now() >= deadline) {
      return status;
    }
    connection_.Aim(connection_.Path());
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

LONG Store::OpenFileOnce(bool create) {
  if (const LONG status = connection_.OpenFile(create)) return status;
  bool fresh = false;
  int version = 0;
  if (const LONG status = schema::CheckStamp(connection_, fresh, version)) {
    return status;
  }
  if (fresh) {
    if (const LONG status = schema::Format(connection_)) return status;
  }
  if (const LONG status = connection_.Configure()) return status;
  if (fresh) {
    if (const LONG status = schema::Create(connection_, boot_)) return status;
  } else if (version < schema::kVersion) {
    if (const LONG status = schema::Upgrade(connection_)) return status;
  }
  if (const LONG status = counter_.Map(create || fresh)) return status;
  if (const LONG status = connection_.Prepare()) return status;
  if (const LONG status = DropStaleVolatile()) return status;
  return AddViewKeys();
}

// A store made before the registry had two views gets their keys in one
// transaction of their own, seen by every process through the counter.
LONG Store::AddViewKeys() {
  if (!schema::LacksViewKeys(connection_)) return ERROR_SUCCESS;
  if (BeginWrite() != ERROR_SUCCESS) return ERROR_SUCCESS;  // next time
  bool added = false;
  if (schema::AddViewKeys(connection_, added) != ERROR_SUCCESS) {
    Rollback();
    return connection_.Problem().empty() ? ERROR_SUCCESS : ERROR_BADDB;
  }
  if (added) connection_.MarkWritten();
  std::uint64_t counter = 0;
  Commit(false, counter);
  return connection_.Problem().empty() ? ERROR_SUCCESS : ERROR_BADDB;
}

// Volatile keys and loaded hives live until the machine restarts: the first
// process of a new boot removes those of earlier ones, each hive once its
// file holds what was written to it.
LONG Store::DropStaleVolatile() {
  if (!schema::OfAnotherBoot(connection_, boot_)) return ERROR_SUCCESS;
  if (BeginWrite() != ERROR_SUCCESS) return ERROR_SUCCESS;  // next time
  if (mounts_.EndStale(rows_, subtree_) != ERROR_SUCCESS ||
      schema::DropStaleVolatile(connection_, boot_) != ERROR_SUCCESS) {
    Rollback();
    return connection_.Problem().empty() ? ERROR_SUCCESS : ERROR_BADDB;
  }
  connection_.MarkWritten();
  std::uint64_t counter = 0;
  Commit(false, counter);
  return connection_.Problem().empty() ? ERROR_SUCCESS : ERROR_BADDB;
}

LONG Store::BeginWrite() {
  connection_.EndRead();
  // As Windows answers a caller without write access.
  if (!unwritable_.empty()) return ERROR_ACCESS_DENIED;
  if (connection_.InMemory()) {
    if (const LONG status = MakeFile()) return status;
  }
  if (const LONG status = counter_.Map(true)) return status;
  rows_.ForgetLastKeyId();
  changes_.Clear();
  changes_.Everything();
  if (const LONG status = counter_.TakeTurn(true)) return status;
  const LONG status = connection_.BeginWrite();
  if (status != ERROR_SUCCESS) counter_.GiveTurn();
  return status;
}

LONG Store::Commit(bool durable, std::uint64_t& counter) {
  counter = counter_.Value();
  if (!connection_.InWrite()) {
    counter_.GiveTurn();
    return ERROR_SUCCESS;
  }
  if (!connection_.Written()) {
    Rollback();
    return ERROR_SUCCESS;
  }
  if (const LONG status = rows_.SaveLastKeyId()) {
    Rollback();
    return status;
  }
  // Odd while the commit is under way: nobody may trust a view from before
  // it until it is even again.
  const std::uint64_t odd = counter_.BeforeCommit(changes_);
  counter_.TellEarly(odd, changes_);
  if (whileCommitting) whileCommitting(false);
  const int rc = connection_.Commit(durable);
  if (rc != SQLITE_DONE) {
    counter_.Untell(odd);
    Rollback();
    return connection_.Status(rc);
  }
  rows_.ForgetLastKeyId();
  if (whileCommitting) whileCommitting(true);
  counter_.Tell(odd);
  counter = counter_.AfterCommit(odd);
  // Still this writer's turn: a log restarted now stays short, as no other
  // writer of the store adds to it meanwhile.
  connection_.CheckpointIfLong();
  counter_.GiveTurn();
  return ERROR_SUCCESS;
}

// The first write makes the store's file: built aside and moved into place
// whole, so that a write that can't be made (a full disk) leaves no file
// behind, and the registry as it was, fresh and in memory.
LONG Store::MakeFile() {
  const std::string db = connection_.Path();
  connection_.Close();
  if (!Exists(db)) {
    const std::string folder = std::filesystem::path(db).parent_path().string();
    if (const int error = CreateFolders(folder)) {
      connection_.Aim(db);
      return connection_.Fail(SQLITE_CANTOPEN,
                              std::generic_category().message(error));
    }
    // A build that couldn't be placed (a file system without links, a
    // sync that failed) leaves the store to be made in place, as SQLite
    // makes it.
    if (emulated::BuildAside(db, boot_, [](Rows&) { return true; }) ==
            Aside::kNotBuilt &&
        !Exists(db)) {
      connection_.Aim(db);
      if (const LONG status = OpenMemory()) return status;
      return ERROR_REGISTRY_IO_FAILED;
    }
  }
  oldHive_.clear();
  connection_.Aim(db);
  return OpenFile(true);
}

void Store::Rollback() {
  rows_.ForgetLastKeyId();
  connection_.Rollback();
  counter_.GiveTurn();
}

bool Store::BuildAside(const std::function<bool(Rows&)>& fill) {
  if (emulated::BuildAside(connection_.Path(), boot_, fill) != Aside::kPlaced) {
    return false;
  }
  // Readers cache only with a counter; this process moves to the file at
  // its next call, as every other one does.
  counter_.Map(true);
  return true;
}

}  // namespace corvane::platform::emulated
