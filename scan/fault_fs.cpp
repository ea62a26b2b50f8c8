// fault_fs MOUNTPOINT CONFIGFILE: a read-only FUSE file system for the tests
// that fails chosen reads and opens the way a failing disk does, so that the
// engine meets real medium errors through the kernel. It stays in the
// foreground until it is unmounted (fusermount3 -u MOUNTPOINT) or signalled.
//
// CONFIGFILE lines, paths relative to the mount point, without blanks:
//   folder <relpath>
//   file <relpath> <size>                    content: faultFsByte(offset)
//   eio <relpath> <offset> <length>          a read overlapping the range fails with EIO
//   stall <relpath> <offset> <length> <ms>   a read overlapping it waits that long, then succeeds
//   openeio <relpath>                        every open fails with EIO
// The folders above a file or folder are made as needed. Every read reaches
// the file system (direct_io) and no attribute is cached, so a test sees
// each of its reads fail where it asked.
#define FUSE_USE_VERSION 31

#include <fuse.h>

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "scan/fault_fs_support.h"

namespace {

struct Range {
  int64_t offset;
  int64_t length;
  int64_t stallMs;  // 0: the range fails with EIO
};

struct Node {
  std::string path;    // "" for the root, else "a/b" without a leading '/'
  std::string parent;  // the folder's path
  std::string name;
  bool folder = false;
  int64_t size = 0;
  bool openFails = false;
  std::vector<Range> ranges;
};

// Built before the mount and read-only afterwards: the callbacks, which run
// on several threads, never change it.
std::vector<Node> Nodes;

Node* find(const std::string& path) {
  for (Node& n : Nodes) {
    if (n.path == path) return &n;
  }
  return nullptr;
}

// The node for a FUSE path ("/a/b").
Node* lookUp(const char* fusePath) { return find(std::string(fusePath[0] == '/' ? fusePath + 1 : fusePath)); }

Node* add(const std::string& path, bool folder) {
  if (Node* n = find(path)) return n;
  std::size_t slash = path.rfind('/');
  std::string parent = slash == std::string::npos ? "" : path.substr(0, slash);
  add(parent, true);
  Node n;
  n.path = path;
  n.parent = parent;
  n.name = slash == std::string::npos ? path : path.substr(slash + 1);
  n.folder = folder;
  Nodes.push_back(n);
  return &Nodes.back();
}

bool readConfig(const char* name) {
  Node root;
  root.folder = true;
  Nodes.push_back(root);
  std::ifstream in(name);
  if (!in) return false;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::istringstream words(line);
    std::string kind, path;
    if (!(words >> kind) || kind[0] == '#') continue;
    bool ok = static_cast<bool>(words >> path);
    if (ok && kind == "folder") {
      add(path, true);
    } else if (ok && kind == "file") {
      int64_t size = 0;
      ok = static_cast<bool>(words >> size) && size >= 0;
      if (ok) add(path, false)->size = size;
    } else if (ok && (kind == "eio" || kind == "stall")) {
      Range r{0, 0, 0};
      ok = static_cast<bool>(words >> r.offset >> r.length);
      if (ok && kind == "stall") ok = static_cast<bool>(words >> r.stallMs) && r.stallMs > 0;
      Node* n = find(path);
      ok = ok && n != nullptr && !n->folder;
      if (ok) n->ranges.push_back(r);
    } else if (ok && kind == "openeio") {
      Node* n = find(path);
      ok = n != nullptr;
      if (ok) n->openFails = true;
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "fault_fs: %s:%d: cannot use \"%s\" (a file must come before its ranges)\n", name, number,
                   line.c_str());
      return false;
    }
  }
  return true;
}

void* init(fuse_conn_info*, fuse_config* config) {
  config->direct_io = 1;
  config->kernel_cache = 0;
  config->entry_timeout = 0;
  config->attr_timeout = 0;
  config->negative_timeout = 0;
  config->use_ino = 0;
  return nullptr;
}

int getAttributes(const char* path, struct stat* st, fuse_file_info*) {
  const Node* n = lookUp(path);
  if (n == nullptr) return -ENOENT;
  *st = {};
  st->st_nlink = 1;
  if (n->folder) {
    st->st_mode = S_IFDIR | 0555;
  } else {
    st->st_mode = S_IFREG | 0444;
    st->st_size = n->size;
    st->st_blocks = (n->size + 511) / 512;
  }
  st->st_blksize = 4096;
  return 0;
}

int listFolder(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
  const Node* folder = lookUp(path);
  if (folder == nullptr) return -ENOENT;
  if (!folder->folder) return -ENOTDIR;
  fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  for (const Node& n : Nodes) {
    if (!n.path.empty() && n.parent == folder->path) {
      fill(buffer, n.name.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    }
  }
  return 0;
}

int openFile(const char* path, fuse_file_info* fi) {
  const Node* n = lookUp(path);
  if (n == nullptr) return -ENOENT;
  if (n->folder) return -EISDIR;
  if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  if (n->openFails) return -EIO;
  fi->direct_io = 1;
  fi->keep_cache = 0;
  return 0;
}

int readFile(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info*) {
  const Node* n = lookUp(path);
  if (n == nullptr) return -ENOENT;
  if (offset >= n->size) return 0;
  int64_t length = std::min<int64_t>(static_cast<int64_t>(size), n->size - offset);
  for (const Range& r : n->ranges) {
    if (offset >= r.offset + r.length || offset + length <= r.offset) continue;
    if (r.stallMs == 0) return -EIO;
    timespec wait{static_cast<time_t>(r.stallMs / 1000), static_cast<long>(r.stallMs % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
  }
  for (int64_t i = 0; i < length; ++i) buffer[i] = static_cast<char>(faultFsByte(offset + i));
  return static_cast<int>(length);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fault_fs MOUNTPOINT CONFIGFILE\n");
    return 2;
  }
  if (!readConfig(argv[2])) {
    std::fprintf(stderr, "fault_fs: cannot read the configuration %s\n", argv[2]);
    return 2;
  }
  fuse_operations operations = {};
  operations.init = init;
  operations.getattr = getAttributes;
  operations.readdir = listFolder;
  operations.open = openFile;
  operations.read = readFile;
  // Foreground, read-only; "-o allow_other" would need fuse.conf, and the
  // tests mount as the user who reads.
  char foreground[] = "-f";
  char option[] = "-o";
  char mountOptions[] = "ro,fsname=fault_fs,subtype=fault_fs";
  char* fuseArgs[] = {argv[0], foreground, option, mountOptions, argv[1], nullptr};
  return fuse_main(5, fuseArgs, &operations, nullptr);
}
