#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "bench/bare_os.h"
#include "bench/bare_tree.h"

// As the POSIX layer describes entries: a stat that does not follow links,
// and for a link one that does.
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
      bool link = S_ISLNK(st.st_mode);
      int64_t size = 0;
      if (!link || fstatat(dirfd(dir), name, &st, 0) == 0) {
        if (S_ISDIR(st.st_mode)) {
          if (!link) folders.push_back(folders[f] + name + "/");
          continue;
        }
        if (!S_ISREG(st.st_mode)) continue;
        size = st.st_size;
      }
      if (size <= 0 && !withEmpty) continue;
      ++count;
      if (files != nullptr) files->push_back({folders[f] + name, size});
    }
    closedir(dir);
  }
  return count;
}

intptr_t bareOpenFile(const std::string& path) { return bareOpen(path.c_str()); }
