// Kernel files: POSIX descriptors behind the module's open, read, write and seek.
// Names arrive as wide strings and are converted to UTF-8 before they reach the file
// system. Reads and writes report the bytes moved; callers compare with what they
// asked for and turn a shortfall into RET_FILE_READ or RET_FILE_WRITE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kernel {

// Open modes and permissions as callers pass them.
constexpr int kModeRead = 0x8000;   // binary read
constexpr int kModeWrite = 0x8302;  // binary, create, truncate, read-write
constexpr int kPermRead = 0x100;
constexpr int kPermWrite = 0x80;

enum SeekOrigin : int { kSeekSet = 0, kSeekCurrent = 1, kSeekEnd = 2 };

int open_file(const wchar_t* name, int mode, int permission);  // -1 on failure
int open_file_utf8(const char* name, int mode, int permission);
void close_file(int handle);
// Bytes moved (0 on error or end of file); never more than `count`.
std::size_t read_file(int handle, void* buffer, std::size_t count);
std::size_t write_file(int handle, const void* buffer, std::size_t count);
// New position from the start, or -1 when the seek fails (bad handle, negative target).
std::int64_t seek_file(int handle, std::int64_t offset, int origin);
// Current size of the open file, or -1.
std::int64_t file_size(int handle);
bool file_exists(const wchar_t* name);

// Replacing a file safely: a new file is written in the target's folder and takes the
// target's name only once complete and synced, so the target is either the whole old
// file or the whole new one, also after a crash or a power cut.
struct NewFile {
  int handle = -1;
  std::string name;  // the named temporary; empty while the file has no name
  std::string folder;
};
// An empty file in the target's folder (mode of the target when it exists, else 0666
// less the umask): unnamed where the file system makes one (nothing is left behind when
// the process dies), else a named temporary beside the target. False when the folder
// does not take new files.
bool create_file_beside(const char* target, NewFile* file);
// The written file, synced by the caller, under the target's name; then the folder
// synced so that the new name survives a power cut. False on any failure; the target
// then keeps the old file unless only the folder's sync failed (*replaced tells).
bool replace_file(NewFile* file, const char* target, bool* replaced);
// Closes the file and removes its temporary name if it still has one.
void discard_file(NewFile* file);
// The file a name stands for: a symbolic link is followed to its final target, so that
// a replacement changes the file and keeps the link; any other name is returned as is.
std::string final_name(const char* name);
// Pushes written data to the disk; false when the file system reports an error.
bool flush_file(int handle);
void remove_file(const char* name);

}  // namespace kernel
