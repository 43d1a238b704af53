#include "support/dos_names.h"

#include <strings.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool pathExists(const fs::path& p) {
  struct stat st{};
  return ::stat(p.c_str(), &st) == 0;
}

std::string lowerAscii(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A folder's entries by their lower-case names, kept while the folder is
// unchanged (same inode and modification time): a collection of a thousand
// songs in one folder is looked through once, not once per song. A folder
// changed in the last two seconds is not kept, because file systems stamp
// times coarsely and a change within the same tick would go unseen.
struct FolderListing {
  std::string folder;
  dev_t device = 0;
  ino_t inode = 0;
  timespec modified{};
  std::unordered_map<std::string, std::string> byLowerName;
};

bool sameState(const FolderListing& l, const struct stat& st) {
  return l.device == st.st_dev && l.inode == st.st_ino && l.modified.tv_sec == st.st_mtim.tv_sec &&
         l.modified.tv_nsec == st.st_mtim.tv_nsec;
}

std::string findInListing(const fs::path& dir, const std::string& name) {
  static std::mutex mutex;
  static std::vector<FolderListing> cache;  // the most recent folders, newest last
  constexpr size_t kFolders = 8;
  const fs::path folder = dir.empty() ? fs::path(".") : dir;
  struct stat st{};
  if (::stat(folder.c_str(), &st) != 0) return {};
  std::lock_guard lock(mutex);
  auto it = std::find_if(cache.begin(), cache.end(), [&](const FolderListing& l) { return l.folder == folder.string(); });
  if (it != cache.end() && sameState(*it, st)) {
    auto found = it->byLowerName.find(lowerAscii(name));
    return found == it->byLowerName.end() ? std::string() : found->second;
  }
  if (it != cache.end()) cache.erase(it);
  FolderListing l{folder.string(), st.st_dev, st.st_ino, st.st_mtim, {}};
  std::error_code ec;
  for (fs::directory_iterator e(folder, ec), end; !ec && e != end; e.increment(ec)) {
    std::string entry = e->path().filename().string();
    l.byLowerName.emplace(lowerAscii(entry), entry);  // the first of names differing only in case
  }
  auto found = l.byLowerName.find(lowerAscii(name));
  std::string result = found == l.byLowerName.end() ? std::string() : found->second;
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  if (now.tv_sec - st.st_mtim.tv_sec > 2) {
    if (cache.size() == kFolders) cache.erase(cache.begin());
    cache.push_back(std::move(l));
  }
  return result;
}

// The entry of dir named like name ignoring case; empty when none.
fs::path matchInFolder(const fs::path& dir, const std::string& name) {
  fs::path exact = dir / name;
  if (pathExists(exact)) return exact;
  const std::string entry = findInListing(dir, name);
  return entry.empty() ? fs::path() : dir / entry;
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
