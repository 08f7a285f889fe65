// Page checksums for store files (ChecksumVfs.h).
//
// A page's checksum sits in its last 8 bytes, which SQLite leaves to the
// VFS when the database header (byte 20) reserves them. Whether a database
// is checksummed is learned from its first page, wherever SQLite reads or
// writes it: the header of the database file, or page 1 in the log, which
// a fresh database's first commit writes before any other page. A log's
// pages follow the setting of the database it belongs to.
//
// Checkpoints copy pages from the log into the database verbatim, neither
// checked nor summed again: a page damaged in the log keeps a checksum that
// fails, and is caught when the database's copy is read.
//
// SQLite sums each frame of the log, page included, before it writes the
// frame's header and then its page. A page summed here changes after that,
// so the frame's header is held back until its page comes, and the frame
// gets its sum made again (the log's format is SQLite's documented one).
//
// The frames of a commit are held back together and reach the file in one
// write when its last frame comes (the one that names the database's size
// after the commit), before SQLite goes on to publish them in the shared
// index. They go sooner before anything that needs the file as SQLite
// believes it is: a read, sync, truncation, size or close of the log, a
// write that doesn't follow them, a shared lock let go (another connection
// may write the log next), an error, or 120 KB held. SQLite may sync in
// the middle of a frame (when it pads a commit out to the disk's sector):
// the part that came is written as it is, and the frame again whole,
// summed, once its rest comes.
#include "platform/emulated/store/ChecksumVfs.h"

#include <sqlite3.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace corvane::platform::emulated::checksums {
namespace {

constexpr char kName[] = "corvane-checksums";
constexpr char kHeader[] = "SQLite format 3";  // with its NUL: 16 bytes
constexpr int kReservedByteOffset = 20;

constexpr int kLogHeaderSize = 32;
constexpr int kFrameHeaderSize = 24;

// The most a log holds back before it writes, besides the frame that
// takes it past.
constexpr int kHeldLimit = 120 * 1024;
constexpr int kLargestFrame = kFrameHeaderSize + 65536;
// The most the system's VFS writes in one call: it keeps only the low 17
// bits of the count.
constexpr int kLargestWrite = 0x1ffff;

struct File {
  sqlite3_file base;
  // A log: the database file it belongs to. A database: its log, while it
  // is open. Null otherwise.
  File* database;
  File* log;
  bool isDatabase;
  // A database whose pages carry checksums.
  bool checked;
  bool inCheckpoint;
  // A log: what SQLite wrote and the file doesn't have yet, from
  // `heldOffset` on: `held` bytes of whole frames, then `partial` bytes of
  // the frame after them (its header, or pieces of it cut at a sync), of
  // which the file has the first `partialWritten` (then `held` is 0).
  sqlite3_int64 heldOffset;
  int held;
  int partial;
  int partialWritten;
  // A log: the size of its frames, header and page, once one came whole.
  int frameSize;
  // A database: counts the times this connection took the log's write
  // lock. A log: the frame this connection wrote last, while it held that
  // lock (`epoch`): where the next one goes and the sum it continues.
  std::uint64_t epoch;
  sqlite3_int64 nextFrame;
  std::uint32_t lastSum[2];
  // A log: the salt of the frame written last, and whether that frame
  // ended a commit that reached the file whole, its frames' sums as this
  // connection made them. The next commit then continues from it, in a
  // later hold of the write lock too, if it goes right after it in a log
  // of the same salt: nobody wrote the log in between.
  unsigned char lastSalt[8];
  bool committed;
  // A database: the hold of the write lock (`epoch`) in which SQLite wrote
  // a page of the log again in place; it then makes the frames' sums
  // again itself, from the file.
  std::uint64_t rewroteEpoch;
  bool bigEndian;
  unsigned char* buffer;
  int capacity;
  // A database: the first region of its log's shared index, while mapped.
  const volatile void* index;
};

// The system's file sits right after ours.
constexpr std::size_t kFileSize = (sizeof(File) + 7) & ~std::size_t{7};

sqlite3_file* Real(sqlite3_file* file) {
  return reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) +
                                         kFileSize);
}
File* Ours(sqlite3_file* file) { return reinterpret_cast<File*>(file); }
sqlite3_file* Theirs(File* file) { return &file->base; }
sqlite3_vfs* RealVfs(sqlite3_vfs* vfs) {
  return static_cast<sqlite3_vfs*>(vfs->pAppData);
}

std::uint64_t Word(const unsigned char* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::big) {
    word = __builtin_bswap64(word);
  }
  return word;
}

void Store(unsigned char* page, int size) {
  std::uint64_t sum = PageSum(page, size);
  if constexpr (std::endian::native == std::endian::big) {
    sum = __builtin_bswap64(sum);
  }
  std::memcpy(page + size - kReservedBytes, &sum, sizeof sum);
}

bool Matches(const unsigned char* page, int size) {
  return Word(page + size - kReservedBytes) == PageSum(page, size);
}

std::uint32_t Big32(const unsigned char* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | bytes[3];
}
void PutBig32(unsigned char* bytes, std::uint32_t value) {
  bytes[0] = static_cast<unsigned char>(value >> 24);
  bytes[1] = static_cast<unsigned char>(value >> 16);
  bytes[2] = static_cast<unsigned char>(value >> 8);
  bytes[3] = static_cast<unsigned char>(value);
}

// The log's running sum (LogSum) in the machine's order of bytes, or in
// the other one (`kSwap`). Its two sums make one chain; grouped as here,
// two adds a step lie on it (s0 + s1 and s1 + x0 + x1 side by side, then
// each with what is left) where the plain form has four. The empty asm
// statements keep the compiler from regrouping them.
template <bool kSwap>
void LogSumWords(const unsigned char* bytes, int size, std::uint32_t sum[2]) {
  std::uint32_t s0 = sum[0], s1 = sum[1];
  for (int i = 0; i + 8 <= size; i += 8) {
    std::uint32_t x[2];
    std::memcpy(x, bytes + i, sizeof x);
    if constexpr (kSwap) {
      x[0] = __builtin_bswap32(x[0]);
      x[1] = __builtin_bswap32(x[1]);
    }
    std::uint32_t words = x[0] + x[1];
    asm("" : "+r"(words));
    std::uint32_t both = s0 + s1;
    std::uint32_t rest = s1 + words;
    asm("" : "+r"(both), "+r"(rest));
    s0 = both + x[0];  // s0 + x0 + s1
    s1 = both + rest;  // s1 + x1 + the new s0
  }
  sum[0] = s0;
  sum[1] = s1;
}

// Pages are a power of two of 512 bytes or more; the log's own header and
// its frames' headers are shorter.
bool IsPage(int amount) {
  return amount >= 512 && std::has_single_bit(static_cast<unsigned>(amount));
}

// Whether a log's `amount` bytes at `offset` are the page of a frame.
bool IsFramesPage(sqlite3_int64 offset, int amount) {
  const sqlite3_int64 at = offset - kLogHeaderSize - kFrameHeaderSize;
  return at >= 0 && at % (kFrameHeaderSize + amount) == 0;
}

// The database whose setting a file's pages follow.
File* DatabaseOf(File* file) {
  return file->isDatabase ? file : file->database;
}

// Page 1, seen in either file, tells whether the database is checksummed.
void Learn(File* database, const void* buffer, int amount) {
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  if (database != nullptr && amount >= 100 &&
      std::memcmp(bytes, kHeader, sizeof kHeader) == 0) {
    database->checked = bytes[kReservedByteOffset] == kReservedBytes;
  }
}

// Room for `size` bytes in `file`'s buffer.
bool Reserve(File* file, int size) {
  if (file->capacity >= size) return true;
  const int capacity =
      std::max(size, std::min(2 * file->capacity, kHeldLimit + kLargestFrame));
  auto* grown =
      static_cast<unsigned char*>(sqlite3_realloc(file->buffer, capacity));
  if (grown == nullptr) return false;
  file->buffer = grown;
  file->capacity = capacity;
  return true;
}

// Writes what a log holds back: in one write, unless it is more than the
// system's VFS takes in one. `keepPartial`: a frame not yet whole stays
// held once its part is written, to be written again whole when its rest
// comes. Whatever happens, no whole frame stays held: one that failed to
// reach the file is SQLite's to write again.
int Flush(sqlite3_file* file, bool keepPartial = false) {
  File* ours = Ours(file);
  const int from = ours->partialWritten;
  const int to = ours->held + ours->partial;
  int rc = SQLITE_OK;
  sqlite3_file* real = Real(file);
  for (int at = from; at < to && rc == SQLITE_OK; at += kLargestWrite) {
    rc = real->pMethods->xWrite(real, ours->buffer + at,
                                std::min(to - at, kLargestWrite),
                                ours->heldOffset + at);
  }
  if (rc == SQLITE_OK && keepPartial && ours->partial > 0) {
    std::memmove(ours->buffer, ours->buffer + ours->held, ours->partial);
    ours->heldOffset += ours->held;
    ours->held = 0;
    ours->partialWritten = ours->partial;
    return SQLITE_OK;
  }
  // A frame's header written as it came (SQLite makes the frames' sums
  // again after a page was written twice in one transaction), or frames
  // that never reached the file: the sum kept is not the last.
  if (ours->partial > 0 || rc != SQLITE_OK) ours->nextFrame = -1;
  ours->held = ours->partial = ours->partialWritten = 0;
  return rc;
}

// `amount` bytes after what `file` holds, as part of the frame after its
// whole ones.
int Append(sqlite3_file* file, const void* buffer, int amount) {
  File* ours = Ours(file);
  const int at = ours->held + ours->partial;
  if (!Reserve(ours, at + amount)) {
    const int rc = Flush(file);
    return rc != SQLITE_OK ? rc : SQLITE_NOMEM;
  }
  std::memcpy(ours->buffer + at, buffer, amount);
  ours->partial += amount;
  return SQLITE_OK;
}

// Whether a log's `amount` bytes at `offset` begin a frame: its header, or
// the first piece of one cut at a sync.
bool StartsFrame(const File* log, sqlite3_int64 offset, int amount) {
  if (offset < kLogHeaderSize) return false;
  if (amount == kFrameHeaderSize) return true;
  return log->frameSize > 0 && amount < log->frameSize &&
         (offset - kLogHeaderSize) % log->frameSize == 0;
}

// The sum the frame at `offset` continues: the frame's before it, or the
// log header's for the first one.
int SumBefore(sqlite3_file* file, sqlite3_int64 offset, std::uint32_t sum[2]) {
  File* ours = Ours(file);
  sqlite3_file* real = Real(file);
  unsigned char logHeader[kLogHeaderSize];
  int rc = real->pMethods->xRead(real, logHeader, kLogHeaderSize, 0);
  if (rc != SQLITE_OK) return rc;
  ours->bigEndian = (Big32(logHeader) & 1) != 0;
  const unsigned char* before = logHeader + 24;
  unsigned char read[8];
  if (offset > kLogHeaderSize) {
    const sqlite3_int64 at = offset - ours->frameSize + 16;
    if (at >= ours->heldOffset) {
      before = ours->buffer + (at - ours->heldOffset);
    } else {
      rc = real->pMethods->xRead(real, read, sizeof read, at);
      if (rc != SQLITE_OK) return rc;
      before = read;
    }
  }
  sum[0] = Big32(before);
  sum[1] = Big32(before + 4);
  return SQLITE_OK;
}

// The frame just made whole after `file`'s whole frames joins them.
// `summed`: its page is summed and the frame's sum made again. A commit's
// last frame, or a full buffer, sends them to the file.
int HoldFrame(sqlite3_file* file, bool summed) {
  File* ours = Ours(file);
  const sqlite3_int64 offset = ours->heldOffset + ours->held;
  const int size = ours->frameSize - kFrameHeaderSize;
  unsigned char* frame = ours->buffer + ours->held;
  if (summed) {
    std::uint32_t sum[2] = {ours->lastSum[0], ours->lastSum[1]};
    // No other connection writes the log while this one holds its write
    // lock: the frames of one commit continue from the one before. A
    // commit that starts where this connection's last one ended, in a log
    // of the same salt, continues from it as well: the log started over
    // (a new salt) or another commit came between (further on) otherwise.
    const bool continues =
        ours->nextFrame == offset &&
        (ours->epoch == ours->database->epoch ||
         (ours->committed && std::memcmp(ours->lastSalt, frame + 8, 8) == 0));
    if (!continues) {
      if (const int rc = SumBefore(file, offset, sum)) {
        Flush(file);
        return rc;
      }
    }
    Store(frame + kFrameHeaderSize, size);
    LogSum(ours->bigEndian, frame, 8, sum);
    LogSum(ours->bigEndian, frame + kFrameHeaderSize, size, sum);
    PutBig32(frame + 16, sum[0]);
    PutBig32(frame + 20, sum[1]);
    ours->lastSum[0] = sum[0];
    ours->lastSum[1] = sum[1];
    std::memcpy(ours->lastSalt, frame + 8, 8);
  }
  ours->epoch = ours->database->epoch;
  ours->nextFrame = summed ? offset + ours->frameSize : -1;
  ours->committed = false;
  ours->held += ours->frameSize;
  ours->partial = ours->partialWritten = 0;
  const bool commit = Big32(frame + 4) != 0;
  if (!commit && ours->held < kHeldLimit) return SQLITE_OK;
  const int rc = Flush(file);
  ours->committed = commit && rc == SQLITE_OK &&
                    ours->nextFrame == offset + ours->frameSize &&
                    ours->database->rewroteEpoch != ours->database->epoch;
  return rc;
}

// A write to a log: the pieces of frames are held back, anything else
// sends what is held to the file first.
int WriteLog(sqlite3_file* file, const void* buffer, int amount,
             sqlite3_int64 offset, bool summed) {
  File* ours = Ours(file);
  const int holding = ours->held + ours->partial;
  const bool follows =
      holding > 0 && offset == ours->heldOffset + ours->held + ours->partial;
  if (follows && ours->partial > 0) {
    // A frame's page after its header, or the rest of a frame cut short.
    if (ours->frameSize == 0 && ours->partial == kFrameHeaderSize &&
        IsPage(amount)) {
      ours->frameSize = kFrameHeaderSize + amount;
    }
    if (ours->frameSize > 0 && ours->partial + amount <= ours->frameSize) {
      if (const int rc = Append(file, buffer, amount)) return rc;
      if (ours->partial < ours->frameSize) return SQLITE_OK;
      return HoldFrame(file, summed);
    }
  } else if ((follows || holding == 0) && StartsFrame(ours, offset, amount)) {
    if (holding == 0) ours->heldOffset = offset;
    return Append(file, buffer, amount);
  }
  if (const int rc = Flush(file)) return rc;
  if (offset < kLogHeaderSize) ours->nextFrame = -1;  // the log starts over
  if (StartsFrame(ours, offset, amount)) {
    ours->heldOffset = offset;
    return Append(file, buffer, amount);
  }
  sqlite3_file* real = Real(file);
  if (summed && IsPage(amount) && IsFramesPage(offset, amount)) {
    // A page written again in place, into a frame of the transaction
    // being written (after SQLite wrote it early to free its cache). Its
    // frames' sums are made again at the commit, from what the file
    // holds.
    ours->database->rewroteEpoch = ours->database->epoch;
    ours->committed = false;
    if (!Reserve(ours, amount)) return SQLITE_NOMEM;
    std::memcpy(ours->buffer, buffer, amount);
    Store(ours->buffer, amount);
    return real->pMethods->xWrite(real, ours->buffer, amount, offset);
  }
  return real->pMethods->xWrite(real, buffer, amount, offset);
}

int Close(sqlite3_file* file) {
  File* ours = Ours(file);
  const int rc = Flush(file);
  sqlite3_free(ours->buffer);
  ours->buffer = nullptr;
  if (ours->database != nullptr && ours->database->log == ours) {
    ours->database->log = nullptr;
  }
  if (ours->log != nullptr) ours->log->database = nullptr;
  sqlite3_file* real = Real(file);
  const int closed =
      real->pMethods != nullptr ? real->pMethods->xClose(real) : SQLITE_OK;
  return rc != SQLITE_OK ? rc : closed;
}

int Read(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
  if (const int rc = Flush(file)) return rc;
  sqlite3_file* real = Real(file);
  const int rc = real->pMethods->xRead(real, buffer, amount, offset);
  if (rc != SQLITE_OK) return rc;
  File* database = DatabaseOf(Ours(file));
  Learn(database, buffer, amount);
  if (database != nullptr && database->checked && !database->inCheckpoint &&
      IsPage(amount) &&
      !Matches(static_cast<const unsigned char*>(buffer), amount)) {
    return SQLITE_IOERR_DATA;
  }
  return SQLITE_OK;
}

int Write(sqlite3_file* file, const void* buffer, int amount,
          sqlite3_int64 offset) {
  File* ours = Ours(file);
  File* database = DatabaseOf(ours);
  Learn(database, buffer, amount);
  const bool summed =
      database != nullptr && database->checked && !database->inCheckpoint;
  if (database != nullptr && !ours->isDatabase) {
    return WriteLog(file, buffer, amount, offset, summed);
  }
  if (summed && ours->isDatabase && IsPage(amount)) {
    // The reserved bytes are the VFS's to fill.
    Store(static_cast<unsigned char*>(const_cast<void*>(buffer)), amount);
  }
  sqlite3_file* real = Real(file);
  return real->pMethods->xWrite(real, buffer, amount, offset);
}

int Truncate(sqlite3_file* file, sqlite3_int64 size) {
  if (const int rc = Flush(file)) return rc;
  sqlite3_file* real = Real(file);
  return real->pMethods->xTruncate(real, size);
}
int Sync(sqlite3_file* file, int flags) {
  if (const int rc = Flush(file, true)) return rc;
  sqlite3_file* real = Real(file);
  return real->pMethods->xSync(real, flags);
}
int FileSize(sqlite3_file* file, sqlite3_int64* size) {
  if (const int rc = Flush(file)) return rc;
  sqlite3_file* real = Real(file);
  return real->pMethods->xFileSize(real, size);
}
int Lock(sqlite3_file* file, int level) {
  sqlite3_file* real = Real(file);
  return real->pMethods->xLock(real, level);
}
int Unlock(sqlite3_file* file, int level) {
  sqlite3_file* real = Real(file);
  return real->pMethods->xUnlock(real, level);
}
int CheckReservedLock(sqlite3_file* file, int* out) {
  sqlite3_file* real = Real(file);
  return real->pMethods->xCheckReservedLock(real, out);
}
int FileControl(sqlite3_file* file, int op, void* arg) {
  if (op == SQLITE_FCNTL_CKPT_START) Ours(file)->inCheckpoint = true;
  if (op == SQLITE_FCNTL_CKPT_DONE) Ours(file)->inCheckpoint = false;
  if (const int rc = Flush(file)) return rc;
  sqlite3_file* real = Real(file);
  return real->pMethods->xFileControl(real, op, arg);
}
int SectorSize(sqlite3_file* file) {
  sqlite3_file* real = Real(file);
  return real->pMethods->xSectorSize(real);
}
int DeviceCharacteristics(sqlite3_file* file) {
  sqlite3_file* real = Real(file);
  return real->pMethods->xDeviceCharacteristics(real);
}
int ShmMap(sqlite3_file* file, int region, int size, int extend,
           void volatile** out) {
  sqlite3_file* real = Real(file);
  const int rc = real->pMethods->xShmMap(real, region, size, extend, out);
  // Mapped read-only, SQLite reads the index all the same.
  if (region == 0 && (rc == SQLITE_OK || rc == SQLITE_READONLY)) {
    Ours(file)->index = *out;
  }
  return rc;
}
int ShmLock(sqlite3_file* file, int offset, int n, int flags) {
  File* ours = Ours(file);
  // Slot 0 is the log's write lock.
  if (offset == 0 && (flags & SQLITE_SHM_LOCK) != 0 &&
      (flags & SQLITE_SHM_EXCLUSIVE) != 0) {
    ++ours->epoch;
  }
  // Once a lock is let go, another connection may write the log.
  int flushed = SQLITE_OK;
  if ((flags & SQLITE_SHM_UNLOCK) != 0 && ours->log != nullptr) {
    flushed = Flush(Theirs(ours->log));
  }
  sqlite3_file* real = Real(file);
  const int rc = real->pMethods->xShmLock(real, offset, n, flags);
  return rc != SQLITE_OK ? rc : flushed;
}
void ShmBarrier(sqlite3_file* file) {
  sqlite3_file* real = Real(file);
  real->pMethods->xShmBarrier(real);
}
int ShmUnmap(sqlite3_file* file, int deleteFlag) {
  Ours(file)->index = nullptr;
  sqlite3_file* real = Real(file);
  return real->pMethods->xShmUnmap(real, deleteFlag);
}
// A mapped page would be read without passing through Read.
int Fetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** out) {
  File* database = DatabaseOf(Ours(file));
  if (database != nullptr && database->checked) {
    *out = nullptr;
    return SQLITE_OK;
  }
  sqlite3_file* real = Real(file);
  return real->pMethods->xFetch(real, offset, amount, out);
}
int Unfetch(sqlite3_file* file, sqlite3_int64 offset, void* page) {
  sqlite3_file* real = Real(file);
  return real->pMethods->xUnfetch(real, offset, page);
}

const sqlite3_io_methods kMethods = {
    3,
    Close,
    Read,
    Write,
    Truncate,
    Sync,
    FileSize,
    Lock,
    Unlock,
    CheckReservedLock,
    FileControl,
    SectorSize,
    DeviceCharacteristics,
    ShmMap,
    ShmLock,
    ShmBarrier,
    ShmUnmap,
    Fetch,
    Unfetch,
};

int Open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags,
         int* outFlags) {
  File* ours = Ours(file);
  std::memset(ours, 0, sizeof(File));
  sqlite3_file* real = Real(file);
  const int rc = RealVfs(vfs)->xOpen(RealVfs(vfs), name, real, flags, outFlags);
  if (rc != SQLITE_OK) {
    // SQLite closes a file that failed to open only through the methods
    // the open left; the system's file is closed here instead.
    if (real->pMethods != nullptr) real->pMethods->xClose(real);
    file->pMethods = nullptr;
    return rc;
  }
  ours->isDatabase = (flags & SQLITE_OPEN_MAIN_DB) != 0;
  if ((flags & SQLITE_OPEN_WAL) != 0) {
    ours->database = Ours(sqlite3_database_file_object(name));
    ours->database->log = ours;
  }
  file->pMethods = &kMethods;
  return SQLITE_OK;
}

int Delete(sqlite3_vfs* vfs, const char* name, int syncDir) {
  return RealVfs(vfs)->xDelete(RealVfs(vfs), name, syncDir);
}
int Access(sqlite3_vfs* vfs, const char* name, int flags, int* out) {
  return RealVfs(vfs)->xAccess(RealVfs(vfs), name, flags, out);
}
int FullPathname(sqlite3_vfs* vfs, const char* name, int size, char* out) {
  return RealVfs(vfs)->xFullPathname(RealVfs(vfs), name, size, out);
}
void* DlOpen(sqlite3_vfs* vfs, const char* path) {
  return RealVfs(vfs)->xDlOpen(RealVfs(vfs), path);
}
void DlError(sqlite3_vfs* vfs, int size, char* out) {
  RealVfs(vfs)->xDlError(RealVfs(vfs), size, out);
}
void (*DlSym(sqlite3_vfs* vfs, void* handle, const char* symbol))(void) {
  return RealVfs(vfs)->xDlSym(RealVfs(vfs), handle, symbol);
}
void DlClose(sqlite3_vfs* vfs, void* handle) {
  RealVfs(vfs)->xDlClose(RealVfs(vfs), handle);
}
int Randomness(sqlite3_vfs* vfs, int size, char* out) {
  return RealVfs(vfs)->xRandomness(RealVfs(vfs), size, out);
}
int Sleep(sqlite3_vfs* vfs, int microseconds) {
  return RealVfs(vfs)->xSleep(RealVfs(vfs), microseconds);
}
int CurrentTime(sqlite3_vfs* vfs, double* out) {
  return RealVfs(vfs)->xCurrentTime(RealVfs(vfs), out);
}
int GetLastError(sqlite3_vfs* vfs, int size, char* out) {
  return RealVfs(vfs)->xGetLastError(RealVfs(vfs), size, out);
}
int CurrentTimeInt64(sqlite3_vfs* vfs, sqlite3_int64* out) {
  return RealVfs(vfs)->xCurrentTimeInt64(RealVfs(vfs), out);
}

}  // namespace

std::uint64_t PageSum(const unsigned char* page, int size) {
  std::uint64_t s1 = 0x6372766e73756d31ull, s2 = static_cast<unsigned>(size);
  const int end = size - kReservedBytes;
  int i = 0;
  // Four words a step, the same sums: s1 grows by a + b + c + d, and s2 by
  // the four values s1 takes on the way, 4 s1 + 4a + 3b + 2c + d. Each sum
  // then waits on one add per four words, not one per word.
  for (; i + 32 <= end; i += 32) {
    const std::uint64_t a = Word(page + i), ab = a + Word(page + i + 8),
                        abc = ab + Word(page + i + 16),
                        abcd = abc + Word(page + i + 24);
    s2 += 4 * s1 + ((a + ab) + (abc + abcd));
    s1 += abcd;
  }
  for (; i + 8 <= end; i += 8) {
    s1 += Word(page + i);
    s2 += s1;
  }
  return s1 ^ (s2 * 0x9E3779B97F4A7C15ull);
}

const volatile void* SharedIndex(sqlite3* db) {
  sqlite3_file* file = nullptr;
  if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) !=
          SQLITE_OK ||
      file == nullptr || file->pMethods != &kMethods) {
    return nullptr;
  }
  return Ours(file)->index;
}

void LogSum(bool bigEndian, const unsigned char* bytes, int size,
            std::uint32_t sum[2]) {
  if (bigEndian == (std::endian::native == std::endian::big)) {
    LogSumWords<false>(bytes, size, sum);
  } else {
    LogSumWords<true>(bytes, size, sum);
  }
}

const char* VfsName() {
  static std::once_flag once;
  std::call_once(once, [] {
    static sqlite3_vfs vfs;
    sqlite3_vfs* real = sqlite3_vfs_find(nullptr);
    vfs.iVersion = 2;
    vfs.szOsFile = static_cast<int>(kFileSize) + real->szOsFile;
    vfs.mxPathname = real->mxPathname;
    vfs.zName = kName;
    vfs.pAppData = real;
    vfs.xOpen = Open;
    vfs.xDelete = Delete;
    vfs.xAccess = Access;
    vfs.xFullPathname = FullPathname;
    vfs.xDlOpen = DlOpen;
    vfs.xDlError = DlError;
    vfs.xDlSym = DlSym;
    vfs.xDlClose = DlClose;
    vfs.xRandomness = Randomness;
    vfs.xSleep = Sleep;
    vfs.xCurrentTime = CurrentTime;
    vfs.xGetLastError = GetLastError;
    vfs.xCurrentTimeInt64 = CurrentTimeInt64;
    sqlite3_vfs_register(&vfs, 0);
  });
  return kName;
}

}  // namespace corvane::platform::emulated::checksums
