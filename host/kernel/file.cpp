// Kernel files on POSIX descriptors.
//
// The tests compile this file a second time into their own executable with
// KVNTF_FILE_FAULTS, where file_faults.h decides which write, sync, link or rename
// fails and with what errno, and whether unnamed files can be made; the library is
// built without the seam.
#include "file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "strings.h"

#ifdef KVNTF_FILE_FAULTS
#include "file_faults.h"
#define KV_FAULT(call) file_faults::fault(file_faults::Call::call)
#else
#define KV_FAULT(call) 0
#endif

namespace kernel {
namespace {

// A system call that sets errno, or the error the tests' seam makes up in its place.
template <class F>
auto call_or_fault(int fault, F f) -> decltype(f()) {
  if (fault) {
    errno = fault;
    return -1;
  }
  return f();
}

std::string folder_of(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : target.substr(0, slash);
}

// A name beside the target nobody else uses at this moment.
std::string temporary_name(const char* target) {
  static std::atomic<unsigned> counter{0};
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, ".kvsave-%d-%u", static_cast<int>(::getpid()),
                counter.fetch_add(1));
  return std::string(target) + suffix;
}

bool sync_folder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int r = call_or_fault(KV_FAULT(kSync), [&] { return ::fsync(fd); });
  // Some file systems cannot sync a folder; they keep no folder state worth syncing.
  bool ok = r == 0 || errno == EINVAL;
  ::close(fd);
  return ok;
}

}  // namespace

int open_file_utf8(const char* name, int mode, int permission) {
  if (!name) return -1;
  int flags = O_CLOEXEC;
  mode_t create_mode = 0;
  if (mode == kModeWrite) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
    create_mode = (permission & kPermWrite) ? 0666 : 0444;
  } else {
    flags |= O_RDONLY;
  }
  int fd;
  do {
    fd = ::open(name, flags, create_mode);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? -1 : fd;
}

int open_file(const wchar_t* name, int mode, int permission) {
  std::string utf8;
  if (!name || !utf8_from_wide(name, &utf8)) return -1;
  return open_file_utf8(utf8.c_str(), mode, permission);
}

void close_file(int handle) {
  if (handle >= 0) ::close(handle);
}

std::size_t read_file(int handle, void* buffer, std::size_t count) {
  if (handle < 0) return 0;
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    ssize_t n = ::read(handle, out + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::size_t write_file(int handle, const void* buffer, std::size_t count) {
  if (handle < 0) return 0;
  auto* in = static_cast<const unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    ssize_t n =
        call_or_fault(KV_FAULT(kWrite), [&] { return ::write(handle, in + done, count - done); });
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::int64_t seek_file(int handle, std::int64_t offset, int origin) {
  if (handle < 0) return -1;
  int whence = origin == kSeekCurrent ? SEEK_CUR : origin == kSeekEnd ? SEEK_END : SEEK_SET;
  off_t at = ::lseek(handle, static_cast<off_t>(offset), whence);
  return at < 0 ? -1 : static_cast<std::int64_t>(at);
}

std::int64_t file_size(int handle) {
  struct stat st;
  if (handle < 0 || ::fstat(handle, &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool file_exists(const wchar_t* name) {
  std::string utf8;
  if (!name || !utf8_from_wide(name, &utf8)) return false;
  return ::access(utf8.c_str(), F_OK) == 0;
}

bool create_file_beside(const char* target, NewFile* file) {
  if (!target || !*target || !file) return false;
  *file = NewFile{};
  file->folder = folder_of(target);
  struct stat st;
  mode_t mode;
  if (::stat(target, &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  int fd = call_or_fault(KV_FAULT(kUnnamed), [&] {
    return ::open(file->folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  });
  if (fd < 0) {
    // File systems without unnamed files (and kernels before 3.11): a named temporary.
    std::string pattern = std::string(target) + ".kvsave-XXXXXX";
    fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return false;
    file->name = pattern;
  }
  // A mode the file cannot get is no reason to fail: it keeps 0600.
  (void)::fchmod(fd, mode);
  file->handle = fd;
  return true;
}

// An unnamed file gets a name by linkat through /proc (linkat with AT_EMPTY_PATH would
// need CAP_DAC_READ_SEARCH). linkat never replaces a name, and the target must change
// in one step, so the file is linked to a fresh temporary name and renamed over the
// target: a process killed between the two calls leaves that name behind, complete;
// everywhere else it leaves nothing. A target that does not exist yet is linked
// directly.
bool replace_file(NewFile* file, const char* target, bool* replaced) {
  *replaced = false;
  if (!file || file->handle < 0 || !target) return false;
  if (file->name.empty()) {
    char proc[48];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", file->handle);
    auto link_to = [&](const std::string& name) {
      return call_or_fault(KV_FAULT(kLink), [&] {
        return ::linkat(AT_FDCWD, proc, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
      });
    };
    struct stat st;
    if (::lstat(target, &st) != 0 && errno == ENOENT) {
      if (link_to(target) == 0) {
        *replaced = true;
        return sync_folder(file->folder);
      }
      if (errno != EEXIST) return false;
    }
    for (int attempt = 0; file->name.empty(); ++attempt) {
      std::string name = temporary_name(target);
      if (link_to(name) == 0)
        file->name = name;
      else if (errno != EEXIST || attempt == 8)
        return false;
    }
  }
  const int handle = file->handle;
  file->handle = -1;
  if (::close(handle) != 0) return false;
  if (call_or_fault(KV_FAULT(kRename), [&] { return ::rename(file->name.c_str(), target); }) != 0)
    return false;
  file->name.clear();
  *replaced = true;
  return sync_folder(file->folder);
}

void discard_file(NewFile* file) {
  if (!file) return;
  if (file->handle >= 0) ::close(file->handle);
  if (!file->name.empty()) ::unlink(file->name.c_str());
  *file = NewFile{};
}

std::string final_name(const char* name) {
  struct stat st;
  if (!name || ::lstat(name, &st) != 0 || !S_ISLNK(st.st_mode)) return name ? name : "";
  char* resolved = ::realpath(name, nullptr);
  if (!resolved) return name;  // a dangling link is replaced by the new file
  std::string out = resolved;
  std::free(resolved);
  return out;
}

bool flush_file(int handle) {
  return handle >= 0 && call_or_fault(KV_FAULT(kSync), [&] { return ::fsync(handle); }) == 0;
}

void remove_file(const char* name) {
  if (name) ::unlink(name);
}

}  // namespace kernel
