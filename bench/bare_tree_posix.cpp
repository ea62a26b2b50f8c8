#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "bench/bare_os.h"
#include "bench/bare_tree.h"

// As the POSIX layer describes entries: a stat that does not follow links;
// a link, which the scan never follows or opens, is passed over.
int64_t bareListTree(const std::string& root, bool withEmpty, std::vector<BareFile>* files) {
  std::vector<std::string> folders = {root};
  int64_t count = 0;
  for (std::size_t f = 0; f < folders.size(); ++f) {
    DIR* dir = opendir(folders[f].c_str());
    if (dir == nullptr) continue;
    while (const dirent* d = readdir(dir)) {
      const char* name = d->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      struct stat st;
      if (fstatat(dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        folders.push_back(folders[f] + name + "/");
        continue;
      }
      if (!S_ISREG(st.st_mode)) continue;
      int64_t size = st.st_size;
      if (size <= 0 && !withEmpty) continue;
      ++count;
      if (files != nullptr) files->push_back({folders[f] + name, size});
    }
    closedir(dir);
  }
  return count;
}

intptr_t bareOpenFile(const std::string& path) { return bareOpen(path.c_str()); }
