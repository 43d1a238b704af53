#include "support/file_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

#include "support/guard.h"
#include "support/tracked_memory.h"
#include "support/url_request.h"

namespace {

class DroppingRequester final : public QUrlRequester {
 public:
  int32_t start(std::string_view) override { return 0; }
};

DroppingRequester g_defaultRequester;
std::atomic<QUrlRequester*> g_requester{nullptr};

bool readAll(int fd, uint8_t* dest, uint32_t count) {
  uint32_t done = 0;
  while (done < count) {
    ssize_t n = ::read(fd, dest + done, count - done);
    if (n <= 0) return false;
    done += static_cast<uint32_t>(n);
  }
  return true;
}

// The record with its name right behind it, in one block.
QGFILE* newRecord(const std::string& name, uint32_t access) {
  auto* rec = static_cast<QGFILE*>(QGGlobalAllocPtr(kQGFileRecordTag, GPTR, sizeof(QGFILE) + name.size() + 1));
  if (!rec) return nullptr;
  rec->access = access;
  rec->name = reinterpret_cast<char*>(rec + 1);
  std::memcpy(rec->name, name.data(), name.size());
  rec->name[name.size()] = 0;
  return rec;
}

enum class Fill { Read, Empty, NoFile, Failed };

// Opens name for reading only when it is a regular file: the open never
// waits (O_NONBLOCK: a FIFO or a device opens at once or fails) and the
// type is checked on the descriptor, so that a file swapped for something
// else between a look and the open is still refused. -1 with *why NoFile
// (missing, or not a regular file) or Failed (not readable).
int openRegularFile(const char* name, Fill* why) {
  int fd = ::open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *why = errno == ENOENT || errno == ENOTDIR ? Fill::NoFile : Fill::Failed;
    return -1;
  }
  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    *why = Fill::NoFile;
    return -1;
  }
  return fd;
}

// Reads the file into the record; nothing is held unless it gives Read.
Fill fillRecord(QGFILE* rec, uint32_t maximum) {
  Fill why = Fill::Failed;
  int fd = openRegularFile(rec->name, &why);
  if (fd < 0) return why;
  struct stat st{};
  bool ok = ::fstat(fd, &st) == 0;
  if (ok) {
    uint64_t size = static_cast<uint64_t>(std::max<off_t>(st.st_size, 0));
    rec->dataSize = static_cast<uint32_t>(std::min<uint64_t>(size, maximum));
    if (rec->dataSize > 0) {
      rec->bufferSize = (rec->dataSize + 7u) & ~7u;
      if (rec->bufferSize < rec->dataSize) rec->bufferSize = rec->dataSize;  // near 4 GiB
      rec->data = static_cast<uint8_t*>(QGGlobalAllocPtr(kQGFileDataTag, GPTR, rec->bufferSize));
      ok = rec->data && readAll(fd, rec->data, rec->dataSize);
      if (!ok && rec->data) {
        QGGlobalFreePtr(401, rec->data);
        rec->data = nullptr;
      }
    }
  }
  ::close(fd);
  if (!ok) return Fill::Failed;
  return rec->dataSize > 0 ? Fill::Read : Fill::Empty;
}

}  // namespace

void QGSetUrlRequester(QUrlRequester* requester) { g_requester.store(requester); }

QGFILE* QGOpenFile(const std::string& name, uint32_t access, uint32_t maximum) {
  return QGuard("QGOpenFile ", static_cast<QGFILE*>(nullptr), [&]() -> QGFILE* {
    std::this_thread::yield();
    if (name.find('\0') != std::string::npos) {
      QGTrText("QGOpenFile ");
      return nullptr;
    }
    QGFILE* rec = newRecord(name, access);
    if (!rec) return nullptr;
    if (access != QG_GENERIC_READ) {
      QGGlobalFreePtr(kQGFileRecordTag, rec);
      return nullptr;
    }
    Fill fill = fillRecord(rec, maximum);
    if (fill == Fill::Read) return rec;
    QGGlobalFreePtr(402, rec);
    // A name that is no file may be a URL: the platform is asked for it.
    if (fill == Fill::NoFile) QGTrNumHex(639, static_cast<uint32_t>(QGGetURL(name)));
    if (fill == Fill::Failed) QGTrText("QGOpenFile ");
    return nullptr;
  });
}

QGFILE* QGOpenFile(const std::string& name, uint32_t access) {
  return QGOpenFile(name, access, kQGDefaultMaxBytes);
}

uint32_t QGGetFile(const QGFILE* file, void* destination, uint32_t offset, uint32_t count) {
  return QGuard("QGGetFile ", 0u, [&]() -> uint32_t {
    if (!file || !file->data || !destination || offset >= file->dataSize) return 0;
    uint32_t n = std::min(count, file->dataSize - offset);
    std::memcpy(destination, file->data + offset, n);
    return n;
  });
}

uint32_t QGReadFile(QGFILE* file, void* destination, uint32_t count) {
  return QGuard("QGReadFile ", 0u, [&]() -> uint32_t {
    if (!file) return 0;
    uint32_t n = QGGetFile(file, destination, file->readPos, count);
    file->readPos += n;
    return n;
  });
}

uint32_t QGGetFileSize(const std::string& name) {
  return QGuard("QGGetFileSize ", 0u, [&]() -> uint32_t {
    std::this_thread::yield();
    struct stat st{};
    if (::stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return 0;
    return static_cast<uint32_t>(std::min<uint64_t>(static_cast<uint64_t>(st.st_size), UINT32_MAX));
  });
}

void QGCloseFile(int32_t tag, QGFILE* file) {
  QGuardVoid("QGCloseFile ", [&] {
    if (!file) return;
    if (file->data) QGGlobalFreePtr(tag, file->data);
    QGGlobalFreePtr(tag, file);
  });
}

uint32_t QWGetFile(const QGFILE* file, void* destination, uint32_t offset, uint32_t count) {
  return QGuard("QWGetFile ", 0u, [&] { return QGGetFile(file, destination, offset, count); });
}

uint32_t QWGetFileSize(const std::string& name) {
  return QGuard("QWGetFileSize ", 0u, [&] { return QGGetFileSize(name); });
}

int32_t QGGetURL(const std::string& url) {
  return QGuard("QGGetURL ", kQGUrlNotStarted, [&]() -> int32_t {
    bool isUrl = url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
    if (!isUrl) return kQGUrlNotStarted;
    QUrlRequester* r = g_requester.load();
    int32_t status = (r ? r : &g_defaultRequester)->start(url);
    QGTrNumHex(609, static_cast<uint32_t>(status));
    return status;
  });
}

int QGOpenRegularFile(const std::string& name) {
  Fill why = Fill::Failed;
  return openRegularFile(name.c_str(), &why);
}

std::string QGFileProblem(const std::string& name) {
  struct stat st{};
  if (::stat(name.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return "no such file";
    return std::string("cannot be read: ") + std::strerror(errno);
  }
  if (S_ISDIR(st.st_mode)) return "is a folder, not a file";
  Fill why = Fill::Failed;
  int fd = openRegularFile(name.c_str(), &why);
  if (fd < 0) return why == Fill::NoFile ? "is not a regular file" : std::string("cannot be read: ") + std::strerror(errno);
  ::close(fd);
  if (st.st_size == 0) return "is empty";
  return {};
}

bool QGOutputTarget(const std::string& path, std::string* target, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path p(path);
  // Follow a chain of links (at most 40, as the system does) to what it names.
  for (int hops = 0; fs::is_symlink(fs::symlink_status(p, ec)); ++hops) {
    if (hops == 40) {
      *error = "\"" + path + "\" is a loop of symbolic links";
      return false;
    }
    fs::path next = fs::read_symlink(p, ec);
    if (ec) {
      *error = "cannot follow the symbolic link \"" + p.string() + "\": " + ec.message();
      return false;
    }
    p = next.is_absolute() ? next : p.parent_path() / next;
  }
  const fs::file_status st = fs::symlink_status(p, ec);
  if (fs::exists(st) && !fs::is_regular_file(st)) {
    *error = "\"" + p.string() + "\" exists and is not a regular file; it is left as it is";
    return false;
  }
  *target = p.string();
  return true;
}
