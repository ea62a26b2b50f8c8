// The test side of fault_fs (scan/fault_fs.cpp): the bytes its files hold,
// and a mount that a test starts and that always goes away with it.
// POSIX only; a test skips with faultFsUnavailable()'s text where FUSE
// cannot be used.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

// The byte at `offset` of every fault_fs file: computed, never stored, so a
// file of any size costs nothing, and no two nearby blocks are alike.
inline uint8_t faultFsByte(int64_t offset) {
  uint64_t x = static_cast<uint64_t>(offset);
  return static_cast<uint8_t>((x * 131u) ^ (x >> 9) ^ (x >> 17) ^ 0x5a);
}

// Why FUSE cannot be used here (empty when it can): /dev/fuse cannot be
// opened, or fusermount3 is missing.
inline std::string faultFsUnavailable() {
  int fd = open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fd < 0) return "fault_fs needs /dev/fuse, which cannot be opened here";
  close(fd);
  if (std::system("command -v fusermount3 >/dev/null 2>&1") != 0) {
    return "fault_fs needs fusermount3 (package fuse3), which is missing";
  }
  return std::string();
}

// A fault_fs mounted on a fresh folder for the life of the object.
class FaultFsMount {
 public:
  FaultFsMount() = default;
  FaultFsMount(const FaultFsMount&) = delete;
  FaultFsMount& operator=(const FaultFsMount&) = delete;
  ~FaultFsMount() { stop(); }

  // Writes `config` beside a new mount point under `folder`, starts
  // `program` on them and waits until the mount is there. False, with
  // failure() saying why, when the program ends first or the mount does not
  // come within a minute.
  bool start(const std::string& program, const std::string& folder, const std::string& config) {
    mountPoint_ = folder + "/fault-mount";
    configFile_ = folder + "/fault-fs.conf";
    mkdir(mountPoint_.c_str(), 0755);
    std::ofstream(configFile_) << config;
    struct stat outside;
    if (stat(folder.c_str(), &outside) != 0) return fail("cannot see " + folder);
    pid_ = fork();
    if (pid_ == 0) {
      execl(program.c_str(), program.c_str(), mountPoint_.c_str(), configFile_.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid_ < 0) return fail("cannot start " + program);
    // Mounted when the mount point's device is no longer its parent's.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (std::chrono::steady_clock::now() < deadline) {
      struct stat inside;
      if (stat(mountPoint_.c_str(), &inside) == 0 && inside.st_dev != outside.st_dev) return true;
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return fail(program + " ended before mounting (status " + std::to_string(status) + ")");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return fail("the mount did not come within a minute");
  }

  // Unmounts and reaps the program; also done on destruction.
  void stop() {
    if (pid_ > 0) {
      std::string command = "fusermount3 -u '" + mountPoint_ + "' >/dev/null 2>&1";
      if (std::system(command.c_str()) != 0) kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
    if (!mountPoint_.empty()) rmdir(mountPoint_.c_str());
  }

  const std::string& mountPoint() const { return mountPoint_; }
  const std::string& failure() const { return failure_; }

 private:
  bool fail(const std::string& why) {
    failure_ = why;
    stop();
    return false;
  }

  std::string mountPoint_;
  std::string configFile_;
  std::string failure_;
  pid_t pid_ = -1;
};
