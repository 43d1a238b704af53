#include "support/file_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
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

bool isRegularFile(const std::string& name) {
  struct stat st{};
  return ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool readAll(int fd, uint8_t* dest, uint32_t count) {
  uint32_t done = 0;
  while (done < count) {
    ssize_t n = ::read(fd, dest + done, count - done);
    if (n <= 0) return false;
    done += static_cast<uint32_t>(n);
  }
  return true;
}

QGFILE* newRecord(const std::string& name, uint32_t access) {
  auto* rec = static_cast<QGFILE*>(QGGlobalAllocPtr(kQGFileRecordTag, GPTR, sizeof(QGFILE)));
  if (!rec) return nullptr;
  rec->access = access;
  std::memcpy(rec->nameText, name.data(), name.size());
  rec->nameText[name.size()] = 0;
  rec->name = rec->nameText;
  return rec;
}

enum class Fill { Read, Empty, Failed };

// Reads the file into the record; nothing is held unless it gives Read.
Fill fillRecord(QGFILE* rec, uint32_t maximum) {
  int fd = ::open(rec->nameText, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fill::Failed;
  struct stat st{};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
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
    if (name.size() > 255 || name.find('\0') != std::string::npos) {
      QGTrText("QGOpenFile ");
      return nullptr;
    }
    QGFILE* rec = newRecord(name, access);
    if (!rec) return nullptr;
    if (access != QG_GENERIC_READ) {
      QGGlobalFreePtr(kQGFileRecordTag, rec);
      return nullptr;
    }
    if (!isRegularFile(name)) {
      QGTrNumHex(639, static_cast<uint32_t>(QGGetURL(name)));
      QGGlobalFreePtr(kQGFileRecordTag, rec);
      return nullptr;
    }
    std::this_thread::yield();
    Fill fill = fillRecord(rec, maximum);
    if (fill == Fill::Read) return rec;
    QGGlobalFreePtr(402, rec);
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
    if (!isRegularFile(name) || ::stat(name.c_str(), &st) != 0) return 0;
    if (st.st_size < 0) return 0;
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
