// The one file of image/ that talks to the operating system directly.
#include "image/os.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <share.h>
#include <windows.h>  // GlobalMemoryStatusEx only
#else
#include <unistd.h>
#endif

namespace pravik {

std::int64_t IETotalPhysicalMemory() {
#ifdef _WIN32
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return -1;
  return static_cast<std::int64_t>(status.ullTotalPhys);
#else
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return -1;
  return static_cast<std::int64_t>(pages) * pageSize;
#endif
}

namespace {

// Reserve kept free on the temporary drive, so file-backed images never fill it.
constexpr std::uint64_t kDiskReserve = 128'000'000;

std::filesystem::path TempDir(const std::string& dir) {
  std::error_code ec;
  if (!dir.empty()) return std::filesystem::path(std::u8string(dir.begin(), dir.end()));
  auto p = std::filesystem::temp_directory_path(ec);
  return ec ? std::filesystem::path(".") : p;
}

int OpenExclusive(const std::filesystem::path& path) {
#ifdef _WIN32
  int fd = -1;
  // _O_TEMPORARY: the system deletes the file when the last handle closes,
  // including when the process dies.
  _wsopen_s(&fd, path.wstring().c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_TEMPORARY | _O_SHORT_LIVED,
            _SH_DENYRW, _S_IREAD | _S_IWRITE);
  return fd;
#else
  return ::open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
#endif
}

}  // namespace

std::unique_ptr<TIETempFile> TIETempFile::Create(const std::string& dir, std::int64_t size) {
  try {
    if (size < 0) return nullptr;
    const std::filesystem::path folder = TempDir(dir);
    std::error_code ec;
    const auto space = std::filesystem::space(folder, ec);
    if (ec) return nullptr;
    // Compared as unsigned: a drive with less than the reserve free refuses everything.
    if (space.available - kDiskReserve < static_cast<std::uint64_t>(size)) return nullptr;

    std::random_device seed;
    std::mt19937 gen(seed());
    std::uniform_int_distribution<std::uint32_t> dist(0, 2147483646u);
    for (int attempt = 0; attempt < 100; ++attempt) {
      char leaf[32];
      std::snprintf(leaf, sizeof leaf, "IMG-%08X.tmp", dist(gen));
      const std::filesystem::path path = folder / leaf;
      const int fd = OpenExclusive(path);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        return nullptr;
      }
      std::unique_ptr<TIETempFile> file(new TIETempFile);
      file->fd_ = fd;
      {
        const std::u8string u8 = path.u8string();
        file->name_.assign(u8.begin(), u8.end());
      }
      file->size_ = size;
#ifdef _WIN32
      if (_chsize_s(fd, size) != 0) return nullptr;
#else
      // Unlinked at once: the rows stay reachable through fd, and nothing is
      // left behind if the process ends early.
      ::unlink(path.c_str());
      if (::ftruncate(fd, size) != 0) return nullptr;
#endif
      return file;
    }
  } catch (...) {
  }
  return nullptr;
}

TIETempFile::~TIETempFile() {
  if (fd_ >= 0) {
#ifdef _WIN32
    _close(fd_);
#else
    ::close(fd_);
#endif
  }
}

namespace {

// One read or write of up to count bytes at offset: the bytes moved, or <= 0.
// The CRT has no positioned I/O and takes an unsigned count: seek, then move
// at most 1 GiB.
#ifdef _WIN32
unsigned Chunk(std::size_t count) { return static_cast<unsigned>(count > (1u << 30) ? (1u << 30) : count); }
std::int64_t ReadSome(int fd, char* p, std::size_t count, std::int64_t offset) {
  return _lseeki64(fd, offset, SEEK_SET) == offset ? _read(fd, p, Chunk(count)) : -1;
}
std::int64_t WriteSome(int fd, const char* p, std::size_t count, std::int64_t offset) {
  return _lseeki64(fd, offset, SEEK_SET) == offset ? _write(fd, p, Chunk(count)) : -1;
}
#else
std::int64_t ReadSome(int fd, char* p, std::size_t count, std::int64_t offset) { return ::pread(fd, p, count, offset); }
std::int64_t WriteSome(int fd, const char* p, std::size_t count, std::int64_t offset) {
  return ::pwrite(fd, p, count, offset);
}
#endif

// Repeats a short read or write until all count bytes have moved.
template <class Byte, class Op>
bool MoveAll(int fd, Byte* p, std::size_t count, std::int64_t offset, Op op) {
  while (count > 0) {
    const std::int64_t n = op(fd, p, count, offset);
    if (n <= 0) return false;
    p += n;
    offset += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool TIETempFile::ReadAt(std::int64_t offset, void* buffer, std::size_t count) {
  if (offset < 0 || offset + static_cast<std::int64_t>(count) > size_) return false;
  return MoveAll(fd_, static_cast<char*>(buffer), count, offset, ReadSome);
}

bool TIETempFile::WriteAt(std::int64_t offset, const void* buffer, std::size_t count) {
  if (offset < 0 || offset + static_cast<std::int64_t>(count) > size_) return false;
  return MoveAll(fd_, static_cast<const char*>(buffer), count, offset, WriteSome);
}

}  // namespace pravik
