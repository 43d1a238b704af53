// A song and the files that travel with it: copying, moving and deleting
// them together. Song collections come from DOS, so every companion is
// found in any letter case ("SONG.MID" with "song.wrd" and "Pic.Mag").
// No window is involved: the jukebox's dialogs call these and show the
// progress they report.
#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <functional>

// Companions named like the song (its base name plus one of these), in the
// order they are handled.
inline constexpr std::array<const char*, 27> kRelatedExtensions = {
    ".MID", ".RCP", ".R36", ".G36", ".G18", ".MM2", ".SNG", ".DOC", ".HED", ".TXT", ".MAG",
    ".WRD", ".COM", ".LST", ".UP",  ".CFG", ".BMP", ".PHO", ".BAK", ".DVS",
    ".CM6", ".GSD", ".LOG", ".MCP", ".PLG", ".MFF", ".SMF"};

// What the song itself names: its set-up files and its WRD script's pictures
// (names as written in the song and the script, DOS folders allowed).
struct TSongCompanions {
  QString cm6;
  QString gsd;
  bool hasWrd = false;
  QStringList pictures;
  QString gsdB;  // port B's GSD (RCP 3.0 songs), travelling with the GSD
};

// The file name up to its first "." ("A.B.MID" gives "A").
QString QGSongBaseName(const QString& fileName);
// The last part of a DOS or Unix path ("PIC\TITLE.MAG" gives "TITLE.MAG").
QString QGDosFileName(const QString& name);
// The regular file of folder named `name` in any letter case; "" when none.
QString QGFindInFolder(const QString& folder, const QString& name);

// Reports each file as it is handled (destination "" when deleting).
using TFileProgress = std::function<void(const QString& source, const QString& destination)>;

// What happened to the files of one song.
struct TFileReport {
  QStringList done;    // sources handled
  QStringList failed;  // sources that stayed as they were
};

// Creates `typed` when it is missing (one folder level only). The folder
// when it exists afterwards, else "".
QString QGPrepareDestination(const QString& typed);

// Copies the song and its companions into destFolder: related files, CM6,
// GSD (an existing file there stays), then the pictures (replaced).
TFileReport QGCopySong(const QString& songPath, const QString& destFolder, const TSongCompanions& song,
                       const TFileProgress& progress = {});
// Moves them in the order CM6, GSD, pictures, related files; nothing
// existing is replaced, and a file that cannot move stays where it was.
TFileReport QGMoveSong(const QString& songPath, const QString& destFolder, const TSongCompanions& song,
                       const TFileProgress& progress = {});
// Deletes CM6, GSD, pictures, then the related files; each goes to the
// user's trash when there is one.
TFileReport QGDeleteSong(const QString& songPath, const TSongCompanions& song, const TFileProgress& progress = {});

// Single files. None of them replaces an existing file unless it says so.
bool QGCopyFileKeep(const QString& source, const QString& destination);
bool QGCopyFileReplace(const QString& source, const QString& destination);
// Renames, or across file systems copies, checks the copy and removes the
// source; on any failure the source stays and no partial copy is left.
bool QGMoveFile(const QString& source, const QString& destination);
// The user's trash folder ($XDG_DATA_HOME/Trash with files/ and info/,
// made for the user alone when missing); "" when it cannot be made.
QString QGTrashFolder();
// Into the trash with its .trashinfo record; deleted for good only when no
// trash can be made (the caller asks the user first).
bool QGTrashOrDelete(const QString& path);
