// Kernel files on POSIX descriptors.
#include "file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "strings.h"

namespace kernel {

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
    ssize_t n = ::write(handle, in + done, count - done);
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

int create_file_beside(const char* target, std::string* name) {
  if (!target || !*target || !name) return -1;
  std::string pattern = std::string(target) + ".kvsave-XXXXXX";
  int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  mode_t mode;
  if (::stat(target, &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  // A mode the file cannot get is no reason to fail: it keeps mkostemp's 0600.
  (void)::fchmod(fd, mode);
  *name = pattern;
  return fd;
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
  return handle >= 0 && ::fsync(handle) == 0;
}

bool rename_file(const char* from, const char* to) {
  return from && to && ::rename(from, to) == 0;
}

void remove_file(const char* name) {
  if (name) ::unlink(name);
}

}  // namespace kernel
