// Where songs come from besides the list editor: the command line, a file
// manager's drop, the open dialog, and play list files (M3U/M3U8 and XSPF)
// read and written. Window-free: paths in, paths out.
#pragma once

#include <QString>
#include <QStringList>

// The song files the jukebox plays: "*.MID;*.RCP;*.R36;*.G36;*.G18" in any letter case.
QStringList QGSongMasks();
bool QGIsSongName(const QString& fileName);
// Play list files: .m3u, .m3u8, .xspf in any letter case.
bool QGIsPlayListFile(const QString& path);

// What the arguments name, in order: a song file is itself, a folder its
// song files (subfolders too, each folder's files by name), a play list file
// its entries. Relative arguments are taken from `workingFolder`. Arguments
// that name nothing usable are left out and reported in `problems`.
QStringList QGExpandSongArguments(const QStringList& arguments, const QString& workingFolder,
                                  QStringList* problems = nullptr);

// The entries of a play list file, as full paths of regular files that
// exist: M3U/M3U8 (UTF-8; comments and #EXT lines skipped, file:// URLs and
// DOS separators understood, relative entries from the list's folder) or
// XSPF (file:// locations). `problems` gets the entries left out.
QStringList QGReadPlayListFile(const QString& path, QStringList* problems = nullptr);

// Writes songs (with their titles, "" when unknown) as an extended M3U in
// UTF-8, or as XSPF when the name ends in .xspf; through a temporary file,
// so that a failure leaves an existing list as it was. "" or what failed.
QString QGWritePlayListFile(const QString& path, const QStringList& songs, const QStringList& titles);

// The artist a song's memo names in one of its lines (the engine joins a
// memo's lines with two blanks): "Artist: NAME", "Composer: NAME",
// "作曲：NAME", "アーティスト：NAME" and the like; "" when none does.
QString QGArtistOfMemo(const QString& memo);
