// File records: a file is opened by name, read whole into tracked memory and
// closed at once; parsers then read it from memory by offset or sequentially.
#pragma once

#include <cstdint>
#include <string>

constexpr uint32_t QG_GENERIC_READ = 0x80000000u;
constexpr uint32_t kQGDefaultMaxBytes = 9999999;
constexpr int32_t kQGFileRecordTag = 40;
constexpr int32_t kQGFileDataTag = 41;

struct QGFILE {
  uint32_t access;      // only generic read is served
  uint8_t* data;        // the file's contents (tracked memory)
  uint32_t bufferSize;  // data size rounded up to a multiple of 8
  uint32_t dataSize;    // bytes held: the file size, at most the maximum asked for
  uint32_t readPos;     // next byte for QGReadFile
  char* name;           // the file name, zero-terminated, right after the record
  uint32_t reserved;
  // (Windows kept the name in 256 bytes of the record and refused longer
  // names; here it follows the record at whatever length the system opens,
  // since UTF-8 folder names pass 255 bytes at about 85 Japanese characters.)
};

// Opens and reads at most maximum bytes of the file. Null when the access is
// not generic read, the file is missing (a URL request is started for it),
// is not a regular file, is empty, or cannot be read. Only a regular file is
// ever read: the name is opened without waiting (a FIFO or device swapped in
// for a song never holds the caller) and checked on the opened descriptor.
QGFILE* QGOpenFile(const std::string& name, uint32_t access, uint32_t maximum);
QGFILE* QGOpenFile(const std::string& name, uint32_t access);

// Copies min(count, dataSize - offset) bytes from offset; 0 past the end.
uint32_t QGGetFile(const QGFILE* file, void* destination, uint32_t offset, uint32_t count);
// Copies from the read position and advances it; 0 at the end.
uint32_t QGReadFile(QGFILE* file, void* destination, uint32_t count);
// Size in bytes, 0 when the file cannot be opened.
uint32_t QGGetFileSize(const std::string& name);
// Frees the data and the record through the tracked memory; null is ignored.
void QGCloseFile(int32_t tag, QGFILE* file);

// The same with their own failure traps.
uint32_t QWGetFile(const QGFILE* file, void* destination, uint32_t offset, uint32_t count);
uint32_t QWGetFileSize(const std::string& name);

// Hands an http(s) name to the platform's URL request; returns its status
// (0 = started). Any other name starts nothing and gives a non-zero status.
int32_t QGGetURL(const std::string& url);

// What keeps a named input from being read, in words for a message ("no such
// file", "is a folder", "is not a regular file", "is empty", "cannot be read:
// Permission denied"); empty when it is a readable, non-empty regular file.
std::string QGFileProblem(const std::string& name);

// A descriptor open for reading when name is a regular file, else -1: the
// open never waits on a FIFO or device, and the type is checked on the
// opened descriptor, so a file swapped in between is refused too.
int QGOpenRegularFile(const std::string& name);

// Where an output named path is written: a symbolic link is followed to the
// file it names (made when missing); anything else that exists and is not a
// regular file (a FIFO, a device, a folder) is refused, so that writing and
// renaming over it never replaces it. False with *error in words.
bool QGOutputTarget(const std::string& path, std::string* target, std::string* error);
