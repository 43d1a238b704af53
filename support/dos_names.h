// Names written inside songs and scripts come from DOS: '\' separates
// folders and case does not matter. Real collections mix "SONG.MID" with
// "song.wrd", so companion files are looked up case-insensitively.
#pragma once

#include <string>

// The path of an existing file: the exact name if it exists, otherwise the
// single entry of its folder whose name matches ignoring ASCII case (each
// folder of the path is matched the same way). "" when nothing matches.
std::string QGFindFileNoCase(const std::string& path);

// A DOS name relative to baseDir ('\' or '/' separators; an absolute Unix
// path is taken as it is), resolved with QGFindFileNoCase.
std::string QGResolveDosName(const std::string& baseDir, const std::string& dosName);

// The program file of this process (from /proc/self/exe).
std::string QGProgramPath();
