#include "jukebox/song_files.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QUrl>

#include <cerrno>

#include "support/dos_names.h"
#include "support/file_record.h"
#include "support/trace.h"

namespace {

enum class TStep { Related, Cm6, Gsd, Pictures };

QByteArray Native(const QString& path) { return QFile::encodeName(path); }

bool Exists(const QString& path) {
  struct stat st {};
  return ::lstat(Native(path).constData(), &st) == 0;
}

bool SameFile(const QString& a, const QString& b) {
  struct stat sa {}, sb {};
  if (::stat(Native(a).constData(), &sa) != 0 || ::stat(Native(b).constData(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

QString FolderOf(const QString& path) { return QFileInfo(path).absolutePath(); }

// The name a file gets in folder: an existing entry of any letter case is
// the same file to a DOS collection, so it is the one that is kept or replaced.
QString DestinationFor(const QString& folder, const QString& fileName) {
  QString existing = QGFindInFolder(folder, fileName);
  return existing.isEmpty() ? folder + QLatin1Char('/') + fileName : existing;
}

// The existing files of one step, found in the song's folder now (an
// earlier step of a move may have taken some away).
QStringList StepSources(const QString& songPath, const TSongCompanions& song, TStep step) {
  const QString folder = FolderOf(songPath);
  QStringList names;
  switch (step) {
    case TStep::Related: {
      const QString base = QGSongBaseName(QFileInfo(songPath).fileName());
      for (const char* ext : kRelatedExtensions) names << base + QLatin1String(ext);
      break;
    }
    case TStep::Cm6:
      if (!song.cm6.isEmpty()) names << QGDosFileName(song.cm6);
      break;
    case TStep::Gsd:
      for (const QString& gsd : {song.gsd, song.gsdB})
        if (!gsd.isEmpty()) names << QGDosFileName(gsd);
      break;
    case TStep::Pictures:
      if (song.hasWrd)
        for (const QString& p : song.pictures)
          if (!p.isEmpty()) names << QGDosFileName(p);
      break;
  }
  QStringList found;
  // A song whose name has more than one "." ("A.B.MID") is not among its
  // base name's files, yet it is the file the user asked for.
  if (step == TStep::Related && QFileInfo(songPath).isFile()) found << QFileInfo(songPath).absoluteFilePath();
  for (const QString& name : names) {
    QString path = QGFindInFolder(folder, name);
    if (!path.isEmpty() && !found.contains(path)) found << path;
  }
  return found;
}

using TFileAction = std::function<bool(const QString& source, const QString& destination)>;

void RunSteps(const QString& songPath, const QString& destFolder, const TSongCompanions& song,
              std::initializer_list<TStep> steps, const TFileAction& act, const TFileProgress& progress,
              const char* traceName, TFileReport& report) {
  for (TStep step : steps) {
    for (const QString& source : StepSources(songPath, song, step)) {
      QString destination = destFolder.isNull() ? QString() : DestinationFor(destFolder, QFileInfo(source).fileName());
      if (progress) progress(source, destination);
      if (act(source, destination)) {
        report.done << source;
      } else {
        report.failed << source;
        QGTrText(std::string(traceName) + source.toStdString());
      }
    }
  }
}

// Opens path for reading only when it is a regular file, never waiting on a
// FIFO or device put where a companion file was.
bool OpenRegular(const QString& path, QFile* file) {
  const int fd = QGOpenRegularFile(path.toStdString());
  if (fd < 0) return false;
  if (file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) return true;
  ::close(fd);
  return false;
}

bool SameBytes(const QString& a, const QString& b) {
  QFile fa, fb;
  if (!OpenRegular(a, &fa) || !OpenRegular(b, &fb)) return false;
  if (fa.size() != fb.size()) return false;
  while (!fa.atEnd()) {
    if (fa.read(1 << 16) != fb.read(1 << 16)) return false;
  }
  return fb.atEnd();
}

// Copies source into a new hidden file of folder and checks it byte for
// byte; the temporary file's path, or "" (nothing left behind).
QString CheckedCopyInto(const QString& source, const QString& folder) {
  QFile in;
  if (!OpenRegular(source, &in)) return {};
  QTemporaryFile out(folder + QStringLiteral("/.qmidi-copy-XXXXXX"));
  out.setAutoRemove(false);
  if (!out.open()) return {};
  bool ok = true;
  while (ok && !in.atEnd()) {
    QByteArray chunk = in.read(1 << 16);
    ok = in.error() == QFileDevice::NoError && out.write(chunk) == chunk.size();
  }
  ok = ok && out.flush() && ::fsync(out.handle()) == 0;
  const QString temp = out.fileName();
  out.close();
  ok = ok && SameBytes(source, temp);
  if (ok) {
    QFile::setPermissions(temp, QFile::permissions(source));
    QFile copy(temp);
    if (copy.open(QIODevice::ReadWrite))
      copy.setFileTime(QFileInfo(source).lastModified(), QFileDevice::FileModificationTime);
  }
  if (!ok) QFile::remove(temp);
  return ok ? temp : QString();
}

// rename() that never replaces: fails with EEXIST when destination exists.
bool RenameNoReplace(const QString& from, const QString& to) {
  const QByteArray f = Native(from), t = Native(to);
  if (::renameat2(AT_FDCWD, f.constData(), AT_FDCWD, t.constData(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: a hard link is just as exclusive.
  if (::link(f.constData(), t.constData()) == 0) {
    if (::unlink(f.constData()) == 0) return true;
    ::unlink(t.constData());
    return false;
  }
  if (errno != EPERM) return false;
  return !Exists(to) && ::rename(f.constData(), t.constData()) == 0;
}

}  // namespace

QString QGSongBaseName(const QString& fileName) {
  const int dot = fileName.indexOf(QLatin1Char('.'));
  return dot < 0 ? fileName : fileName.left(dot);
}

QString QGDosFileName(const QString& name) {
  const int cut = std::max(name.lastIndexOf(QLatin1Char('\\')), name.lastIndexOf(QLatin1Char('/')));
  return name.mid(cut + 1);
}

QString QGFindInFolder(const QString& folder, const QString& name) {
  if (name.isEmpty() || folder.isEmpty()) return {};
  const std::string found = QGFindFileNoCase((folder + QLatin1Char('/') + name).toStdString());
  if (found.empty()) return {};
  const QString path = QString::fromStdString(found);
  return QFileInfo(path).isFile() ? path : QString();
}

QString QGPrepareDestination(const QString& typed) {
  if (typed.isEmpty()) return {};
  if (!QFileInfo(typed).isDir()) QDir().mkdir(typed);
  QFileInfo folder(typed);
  return folder.isDir() ? QDir::cleanPath(folder.absoluteFilePath()) : QString();
}

bool QGCopyFileKeep(const QString& source, const QString& destination) {
  if (Exists(destination)) return false;
  const QString temp = CheckedCopyInto(source, FolderOf(destination));
  if (temp.isEmpty()) return false;
  if (RenameNoReplace(temp, destination)) return true;
  QFile::remove(temp);
  return false;
}

bool QGCopyFileReplace(const QString& source, const QString& destination) {
  if (SameFile(source, destination)) return true;  // already there; replacing would empty it
  // Only a file is replaced, never a link, FIFO, device or folder of that name.
  const QFileInfo there(destination);
  if ((there.exists() || there.isSymLink()) && (there.isSymLink() || !there.isFile())) return false;
  const QString temp = CheckedCopyInto(source, FolderOf(destination));
  if (temp.isEmpty()) return false;
  if (::rename(Native(temp).constData(), Native(destination).constData()) == 0) return true;
  QFile::remove(temp);
  return false;
}

bool QGMoveFile(const QString& source, const QString& destination) {
  if (Exists(destination) || !QFileInfo(source).isFile()) return false;
  if (RenameNoReplace(source, destination)) return true;
  if (errno != EXDEV) return false;
  if (!QGCopyFileKeep(source, destination)) return false;
  if (QFile::remove(source)) return true;
  QFile::remove(destination);  // the source could not go: no second copy stays
  return false;
}

namespace {

// A folder of the trash, made for the user alone when missing.
bool PrivateFolder(const QString& path) {
  if (QFileInfo(path).isDir()) return true;
  return ::mkdir(Native(path).constData(), 0700) == 0 || QFileInfo(path).isDir();
}

}  // namespace

QString QGTrashFolder() {
  QString data = qEnvironmentVariable("XDG_DATA_HOME");
  if (data.isEmpty()) data = QDir::homePath() + QStringLiteral("/.local/share");
  const QString trash = data + QStringLiteral("/Trash");
  // A fresh account has none yet: it is made as the desktop's trash is.
  if (!QFileInfo(trash).isDir() && !QDir().mkpath(data)) return {};
  for (const QString& folder : {trash, trash + QStringLiteral("/files"), trash + QStringLiteral("/info")})
    if (!PrivateFolder(folder)) return {};
  return trash;
}

bool QGTrashOrDelete(const QString& path) {
  if (!QFileInfo(path).isFile()) return false;
  const QString trash = QGTrashFolder();
  if (trash.isEmpty()) return QFile::remove(path);
  const QFileInfo file(path);
  const QByteArray record = "[Trash Info]\nPath=" + QUrl::toPercentEncoding(file.absoluteFilePath(), "/") +
                            "\nDeletionDate=" +
                            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")).toLatin1() +
                            "\n";
  for (int n = 1; n < 10000; ++n) {
    const QString name = n == 1 ? file.fileName() : QStringLiteral("%1.%2").arg(file.fileName()).arg(n);
    const QString info = trash + QStringLiteral("/info/") + name + QStringLiteral(".trashinfo");
    // The record is claimed first and exclusively, as the trash's users expect.
    const int fd = ::open(Native(info).constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    const bool written = ::write(fd, record.constData(), size_t(record.size())) == record.size();
    ::close(fd);
    const QString target = trash + QStringLiteral("/files/") + name;
    if (written && QGMoveFile(path, target)) return true;
    QFile::remove(info);
    if (!written || !Exists(target)) return false;  // a name taken in files/ only: try the next
  }
  return false;
}

TFileReport QGCopySong(const QString& songPath, const QString& destFolder, const TSongCompanions& song,
                       const TFileProgress& progress) {
  TFileReport report;
  RunSteps(songPath, destFolder, song, {TStep::Related, TStep::Cm6, TStep::Gsd}, QGCopyFileKeep, progress,
           "QGCopySong ", report);
  RunSteps(songPath, destFolder, song, {TStep::Pictures}, QGCopyFileReplace, progress, "QGCopySong ", report);
  return report;
}

TFileReport QGMoveSong(const QString& songPath, const QString& destFolder, const TSongCompanions& song,
                       const TFileProgress& progress) {
  TFileReport report;
  RunSteps(songPath, destFolder, song, {TStep::Cm6, TStep::Gsd, TStep::Pictures, TStep::Related}, QGMoveFile,
           progress, "QGMoveSong ", report);
  return report;
}

TFileReport QGDeleteSong(const QString& songPath, const TSongCompanions& song, const TFileProgress& progress) {
  TFileReport report;
  auto trash = [](const QString& source, const QString&) { return QGTrashOrDelete(source); };
  RunSteps(songPath, QString(), song, {TStep::Cm6, TStep::Gsd, TStep::Pictures, TStep::Related}, trash, progress,
           "QGDeleteSong ", report);
  return report;
}
