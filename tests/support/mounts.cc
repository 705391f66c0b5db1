#include "support/mounts.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace twinmere::testing {
namespace {

// Runs a shell command line whose words are all plain (temporary paths).
bool Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

bool Executable(const char* path) {
  return access(path, X_OK) == 0;
}

std::string FuseMissing() {
  if (!IsRoot()) return "mounting needs root";
  if (access("/dev/fuse", R_OK | W_OK) != 0) return "no /dev/fuse";
  return "";
}

void Unmount(const std::string& mount_point) {
  if (!Shell("fusermount -u '" + mount_point + "'")) umount2(mount_point.c_str(), MNT_DETACH);
}

// A port of 127.0.0.1 that was free a moment ago.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

}  // namespace

VfatMount::VfatMount(TempTree& tree, const std::string& folder, int kilobytes)
    : mount_point_(tree.Path(folder)) {
  skip_ = FuseMissing();
  if (!skip_.empty()) return;
  const std::string image = tree.Path(folder + ".img");
  tree.MakeFolder(folder);
  if (!Shell("mkfs.vfat -C '" + image + "' " + std::to_string(kilobytes))) {
    skip_ = "mkfs.vfat is not available";
  } else if (!Shell("fusefat -o rw+ '" + image + "' '" + mount_point_ + "'")) {
    skip_ = "fusefat cannot mount";
  }
}

VfatMount::~VfatMount() {
  if (skip_.empty()) Unmount(mount_point_);
}

FuseExt4Mount::FuseExt4Mount(TempTree& tree, const std::string& folder, int kilobytes)
    : mount_point_(tree.Path(folder)) {
  skip_ = FuseMissing();
  if (!skip_.empty()) return;
  const std::string image = tree.Path(folder + ".img");
  tree.MakeFolder(folder);
  if (!Executable("/usr/bin/fuse2fs")) {
    skip_ = "fuse2fs is not installed";
  } else if (!Shell("mkfs.ext4 -q -F '" + image + "' " + std::to_string(kilobytes) + "k")) {
    skip_ = "mkfs.ext4 is not available";
  } else if (!Shell("fuse2fs '" + image + "' '" + mount_point_ + "'")) {
    skip_ = "fuse2fs cannot mount";
  }
}

FuseExt4Mount::~FuseExt4Mount() {
  if (skip_.empty()) Unmount(mount_point_);
}

TmpfsMount::TmpfsMount(TempTree& tree, const std::string& folder, const std::string& size)
    : mount_point_(tree.Path(folder)) {
  tree.MakeFolder(folder);
  if (!IsRoot()) {
    skip_ = "mounting a tmpfs needs root";
  } else if (mount("tmpfs", mount_point_.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0) {
    skip_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
  }
}

TmpfsMount::~TmpfsMount() {
  if (skip_.empty()) umount2(mount_point_.c_str(), MNT_DETACH);
}

SshfsMount::SshfsMount(TempTree& tree, const std::string& remote, const std::string& folder)
    : mount_point_(tree.Path(folder)) {
  skip_ = FuseMissing();
  if (skip_.empty()) skip_ = Start(tree, remote);
}

std::string SshfsMount::Start(TempTree& tree, const std::string& remote) {
  for (const char* tool : {"/usr/sbin/sshd", "/usr/bin/sshfs", "/usr/bin/ssh-keygen"})
    if (!Executable(tool)) return std::string(tool) + " is missing";
  // sshd insists on its privilege separation folder, as its package makes it.
  if (mkdir("/run/sshd", 0755) == 0) {
    made_privsep_folder_ = true;
  } else if (errno != EEXIST) {
    return "cannot make /run/sshd";
  }
  const std::string work_folder = ".ssh-" + mount_point_.substr(tree.Root().size() + 1);
  const std::string work = tree.Path(work_folder);
  tree.MakeFolder(work_folder);
  tree.MakeFolder(remote);
  tree.MakeFolder(mount_point_.substr(tree.Root().size() + 1));
  if (!Shell("ssh-keygen -q -t ed25519 -N '' -f '" + work + "/host'") ||
      !Shell("ssh-keygen -q -t ed25519 -N '' -f '" + work + "/user'"))
    return "ssh-keygen failed";
  tree.WriteFile(work_folder + "/authorized_keys", tree.ReadFile(work_folder + "/user.pub"));
  const int port = FreePort();
  if (port < 0) return "no free port on 127.0.0.1";
  tree.WriteFile(work_folder + "/sshd_config",
                 "Port " + std::to_string(port) + "\nListenAddress 127.0.0.1\nHostKey " + work +
                     "/host\nAuthorizedKeysFile " + work +
                     "/authorized_keys\nPidFile none\nStrictModes no\nUsePAM no\n"
                     "PasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                     "PermitRootLogin prohibit-password\nSubsystem sftp internal-sftp\n");
  const std::string config = work + "/sshd_config";
  const std::string log = work + "/sshd.log";
  sshd_ = fork();
  if (sshd_ == 0) {
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out >= 0) {
      dup2(out, STDOUT_FILENO);
      dup2(out, STDERR_FILENO);
    }
    execl("/usr/sbin/sshd", "/usr/sbin/sshd", "-D", "-e", "-f", config.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  if (sshd_ < 0) return "cannot start sshd";
  // Ready when it accepts connections; gone when it refused the setup.
  for (int i = 0; i < 500 && !Accepts(port); ++i) {
    if (waitpid(sshd_, nullptr, WNOHANG) == sshd_) {
      sshd_ = -1;
      return "sshd did not start: " + tree.ReadFile(work_folder + "/sshd.log");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!Shell("sshfs -o IdentityFile='" + work + "/user',StrictHostKeyChecking=no," +
             "UserKnownHostsFile=/dev/null,BatchMode=yes,port=" + std::to_string(port) +
             " 'root@127.0.0.1:" + tree.Path(remote) + "' '" + mount_point_ + "'"))
    return "sshfs cannot mount: " + tree.ReadFile(work_folder + "/sshd.log");
  mounted_ = true;
  return "";
}

SshfsMount::~SshfsMount() {
  if (mounted_) Unmount(mount_point_);
  if (sshd_ > 0) {
    kill(sshd_, SIGTERM);
    waitpid(sshd_, nullptr, 0);
  }
  if (made_privsep_folder_) rmdir("/run/sshd");
}

}  // namespace twinmere::testing
