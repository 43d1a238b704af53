#include "jukebox/song_sources.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include "support/dos_names.h"

namespace {

// A play list is text a person could write; anything far larger is no list.
constexpr qint64 kMaxListBytes = 16 << 20;

const QStringList kListSuffixes{QStringLiteral("m3u"), QStringLiteral("m3u8"), QStringLiteral("xspf")};

bool IsXspf(const QString& path) { return path.endsWith(QLatin1String(".xspf"), Qt::CaseInsensitive); }

// The folder's song files by name, then each subfolder's; a folder reached
// twice (through a link) is listed once.
void CollectFolder(const QString& folder, QSet<QString>& seen, QStringList& out) {
  const QString canonical = QFileInfo(folder).canonicalFilePath();
  if (canonical.isEmpty() || seen.contains(canonical)) return;
  seen.insert(canonical);
  const QDir dir(folder);
  const QDir::SortFlags order = QDir::Name | QDir::IgnoreCase;
  for (const QFileInfo& file : dir.entryInfoList(QGSongMasks(), QDir::Files, order))
    if (file.isFile()) out << file.absoluteFilePath();
  for (const QString& sub : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, order))
    CollectFolder(dir.filePath(sub), seen, out);
}

// An entry of a list as a file that exists: as written, with DOS separators
// as folders, then in any letter case.
QString ResolveEntry(QString entry, const QString& listFolder) {
  if (entry.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) entry = QUrl(entry).toLocalFile();
  if (entry.isEmpty()) return {};
  QStringList tries{entry};
  if (entry.contains(QLatin1Char('\\'))) tries << QString(entry).replace(QLatin1Char('\\'), QLatin1Char('/'));
  for (const QString& t : tries) {
    const QString path = QDir::cleanPath(QDir(listFolder).absoluteFilePath(t));
    if (QFileInfo(path).isFile()) return path;
    const QString found = QString::fromStdString(QGFindFileNoCase(path.toStdString()));
    if (!found.isEmpty() && QFileInfo(found).isFile()) return found;
  }
  return {};
}

bool HasScheme(const QString& entry) {
  const int colon = entry.indexOf(QLatin1Char(':'));
  return colon > 1 && !entry.startsWith(QLatin1String("file:"), Qt::CaseInsensitive) &&
         entry.left(colon).contains(QRegularExpression(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*$")));
}

QStringList M3uEntries(const QByteArray& bytes) {
  QString text = QString::fromUtf8(bytes);
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
  QStringList entries;
  for (QString line : text.split(QLatin1Char('\n'))) {
    line = line.trimmed();
    if (!line.isEmpty() && !line.startsWith(QLatin1Char('#'))) entries << line;
  }
  return entries;
}

QStringList XspfEntries(const QByteArray& bytes, QStringList* problems) {
  QStringList entries;
  QXmlStreamReader xml(bytes);
  bool inTrack = false;
  while (!xml.atEnd()) {
    xml.readNext();
    if (xml.isStartElement() && xml.name() == QLatin1String("track")) inTrack = true;
    if (xml.isEndElement() && xml.name() == QLatin1String("track")) inTrack = false;
    if (inTrack && xml.isStartElement() && xml.name() == QLatin1String("location"))
      entries << xml.readElementText().trimmed();
  }
  if (xml.hasError() && problems) *problems << QStringLiteral("not a valid XSPF list: ") + xml.errorString();
  return entries;
}

QString OneLine(QString text) { return text.replace(QLatin1Char('\n'), QLatin1Char(' ')).remove(QLatin1Char('\r')); }

QByteArray M3uText(const QStringList& songs, const QStringList& titles) {
  QByteArray out = "#EXTM3U\n";
  for (int i = 0; i < songs.size(); ++i) {
    const QString title = OneLine(titles.value(i));
    if (!title.isEmpty()) out += "#EXTINF:-1," + title.toUtf8() + '\n';
    out += songs[i].toUtf8() + '\n';
  }
  return out;
}

QByteArray XspfText(const QStringList& songs, const QStringList& titles) {
  QByteArray out;
  QXmlStreamWriter xml(&out);
  xml.setAutoFormatting(true);
  xml.writeStartDocument();
  xml.writeStartElement(QStringLiteral("playlist"));
  xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1"));
  xml.writeDefaultNamespace(QStringLiteral("http://xspf.org/ns/0/"));
  xml.writeStartElement(QStringLiteral("trackList"));
  for (int i = 0; i < songs.size(); ++i) {
    xml.writeStartElement(QStringLiteral("track"));
    xml.writeTextElement(QStringLiteral("location"), QString::fromUtf8(QUrl::fromLocalFile(songs[i]).toEncoded()));
    if (!titles.value(i).isEmpty()) xml.writeTextElement(QStringLiteral("title"), titles[i]);
    xml.writeEndElement();
  }
  xml.writeEndDocument();
  return out;
}

}  // namespace

QStringList QGSongMasks() {
  return {QStringLiteral("*.MID"), QStringLiteral("*.RCP"), QStringLiteral("*.R36"), QStringLiteral("*.G36"),
          QStringLiteral("*.G18")};
}

bool QGIsSongName(const QString& fileName) {
  for (const QString& mask : QGSongMasks())
    if (fileName.endsWith(mask.mid(1), Qt::CaseInsensitive)) return true;
  return false;
}

bool QGIsPlayListFile(const QString& path) {
  return kListSuffixes.contains(QFileInfo(path).suffix().toLower());
}

QStringList QGExpandSongArguments(const QStringList& arguments, const QString& workingFolder, QStringList* problems) {
  QStringList songs;
  QSet<QString> seenFolders;
  for (const QString& argument : arguments) {
    const QString path = argument.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)
                             ? QUrl(argument).toLocalFile()
                             : QDir::cleanPath(QDir(workingFolder).absoluteFilePath(argument));
    const QFileInfo info(path);
    if (info.isDir()) {
      CollectFolder(path, seenFolders, songs);
    } else if (info.isFile() && QGIsPlayListFile(path)) {
      songs << QGReadPlayListFile(path, problems);
    } else if (info.isFile()) {
      songs << info.absoluteFilePath();
    } else if (problems) {
      *problems << (info.exists() ? QStringLiteral("not a regular file: ") : QStringLiteral("no such file: ")) + argument;
    }
  }
  return songs;
}

QStringList QGReadPlayListFile(const QString& path, QStringList* problems) {
  QFile file(path);
  if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
    if (problems) *problems << QStringLiteral("cannot read the play list ") + path;
    return {};
  }
  if (file.size() > kMaxListBytes) {
    if (problems) *problems << QStringLiteral("too large for a play list: ") + path;
    return {};
  }
  const QByteArray bytes = file.readAll();
  const QString folder = QFileInfo(path).absolutePath();
  QStringList songs;
  for (const QString& entry : IsXspf(path) ? XspfEntries(bytes, problems) : M3uEntries(bytes)) {
    const QString song = HasScheme(entry) ? QString() : ResolveEntry(entry, folder);
    if (!song.isEmpty())
      songs << song;
    else if (problems)
      *problems << QStringLiteral("no such song: ") + entry;
  }
  return songs;
}

QString QGWritePlayListFile(const QString& path, const QStringList& songs, const QStringList& titles) {
  const QFileInfo target(path);
  if ((target.exists() || target.isSymLink()) && (!target.isFile() || target.isSymLink()))
    return QStringLiteral("not a regular file: ") + path;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return file.errorString();
  const QByteArray text = IsXspf(path) ? XspfText(songs, titles) : M3uText(songs, titles);
  if (file.write(text) != text.size() || !file.commit()) return file.errorString();
  return {};
}

QString QGArtistOfMemo(const QString& memo) {
  static const QRegularExpression line(QStringLiteral("\\s{2,}|[\\r\\n]+"));
  static const QRegularExpression named(
      QStringLiteral("^(?:artist|composer|composed by|music(?: by)?|作曲者?|作詞・?作曲|アーティスト)\\s*[:：=／/]?\\s*(\\S.*)$"),
      QRegularExpression::CaseInsensitiveOption);
  for (const QString& piece : memo.split(line, Qt::SkipEmptyParts)) {
    const QRegularExpressionMatch m = named.match(piece.trimmed());
    if (m.hasMatch()) return m.captured(1).trimmed();
  }
  return {};
}
