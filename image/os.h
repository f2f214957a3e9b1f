// The few operating-system services the image buffer needs: physical memory
// size, the temporary folder and its free space, and delete-on-close
// temporary files for file-backed rows. Private to image/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace pravik {

// Total physical memory in bytes, or -1 when it cannot be found.
std::int64_t IETotalPhysicalMemory();

// A temporary file of a fixed size, removed by the system when closed and when
// the process ends, however it ends.
class TIETempFile {
 public:
  // Creates "<dir>IMG-XXXXXXXX.tmp" of exactly size bytes (zero-filled), or
  // returns null; never throws. dir empty means the system's temporary folder.
  static std::unique_ptr<TIETempFile> Create(const std::string& dir, std::int64_t size);
  ~TIETempFile();
  TIETempFile(const TIETempFile&) = delete;
  TIETempFile& operator=(const TIETempFile&) = delete;

  bool ReadAt(std::int64_t offset, void* buffer, std::size_t count);
  bool WriteAt(std::int64_t offset, const void* buffer, std::size_t count);
  const std::string& Name() const { return name_; }
  std::int64_t Size() const { return size_; }

 private:
  TIETempFile() = default;
  int fd_ = -1;
  std::string name_;
  std::int64_t size_ = 0;
};

}  // namespace pravik
