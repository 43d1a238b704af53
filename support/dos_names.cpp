#include "support/dos_names.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool pathExists(const fs::path& p) {
  struct stat st{};
  return ::stat(p.c_str(), &st) == 0;
}

// The entry of dir named like name ignoring case; empty when none.
fs::path matchInFolder(const fs::path& dir, const std::string& name) {
  std::error_code ec;
  fs::path exact = dir / name;
  if (pathExists(exact)) return exact;
  for (fs::directory_iterator it(dir.empty() ? fs::path(".") : dir, ec), end; !ec && it != end;
       it.increment(ec)) {
    std::string entry = it->path().filename().string();
    if (strcasecmp(entry.c_str(), name.c_str()) == 0) return dir / entry;
  }
  return {};
}

}  // namespace

std::string QGFindFileNoCase(const std::string& path) {
  if (path.empty()) return {};
  fs::path p(path);
  if (pathExists(p)) return path;
  fs::path current = p.is_absolute() ? p.root_path() : fs::path();
  for (const fs::path& part : p.relative_path()) {
    std::string name = part.string();
    if (name.empty() || name == ".") continue;
    if (name == "..") {
      current /= name;
      continue;
    }
    current = matchInFolder(current, name);
    if (current.empty()) return {};
  }
  return current.string();
}

std::string QGResolveDosName(const std::string& baseDir, const std::string& dosName) {
  std::string name = dosName;
  for (char& c : name)
    if (c == '\\') c = '/';
  // A DOS drive letter ("A:\PIC\X.MAG") means nothing here: drop it.
  if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0])))
    name = name.substr(2);
  fs::path p(name);
  if (p.is_absolute()) {
    std::string found = QGFindFileNoCase(p.string());
    if (!found.empty()) return found;
  }
  fs::path base = baseDir.empty() ? fs::path(".") : fs::path(baseDir);
  return QGFindFileNoCase((base / p.relative_path()).string());
}

std::string QGProgramPath() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.string();
}
