#include "imageio/stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace pravik {

// ---- TStream -------------------------------------------------------------------

std::int64_t TStream::GetSize() {
  const std::int64_t pos = Seek(0, soCurrent);
  const std::int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size < 0 ? 0 : size;
}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count > 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(std::min<std::int64_t>(count, 1 << 16)));
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t n = std::min<std::int64_t>(count - done, static_cast<std::int64_t>(buf.size()));
    source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    done += n;
  }
  return done;
}

void SafeStreamWrite(TStream& Stream, bool& AbortFlag, const void* Buffer, std::int64_t Count) {
  if (Count <= 0) return;
  try {
    if (Stream.Write(Buffer, Count) < Count) AbortFlag = true;
  } catch (...) {
    AbortFlag = true;
  }
}

// ---- file-system helpers ----------------------------------------------------------

std::filesystem::path IEPathFromUTF8(const std::string& fileName) {
  return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(fileName.data()), fileName.size()));
}

std::string IEPathToUTF8(const std::filesystem::path& path) {
  const std::u8string u = path.u8string();
  return std::string(reinterpret_cast<const char*>(u.data()), u.size());
}

std::string IEExpandFileName(const std::string& fileName) {
  if (fileName.empty()) return fileName;
  std::error_code ec;
  const std::filesystem::path abs = std::filesystem::absolute(IEPathFromUTF8(fileName), ec);
  return ec ? fileName : IEPathToUTF8(abs);
}

bool IEFileExists(const std::string& fileName) {
  if (fileName.empty()) return false;
  std::error_code ec;
  return std::filesystem::is_regular_file(IEPathFromUTF8(fileName), ec);
}

bool IEDirectoryExists(const std::string& dirName) {
  if (dirName.empty()) return false;
  std::error_code ec;
  return std::filesystem::is_directory(IEPathFromUTF8(dirName), ec);
}

std::string IEExtractFileExt(const std::string& fileName) {
  const std::size_t dot = fileName.find_last_of('.');
  if (dot == std::string::npos) return {};
  const std::size_t sep = fileName.find_last_of("\\/:");
  if (sep != std::string::npos && sep > dot) return {};
  return fileName.substr(dot);
}

// ---- TFileStream ------------------------------------------------------------------

namespace {

std::string LastErrorText(int err) {
  return std::generic_category().message(err);
}

int Fseek64(std::FILE* f, std::int64_t offset, int whence) {
#ifdef _WIN32
  return _fseeki64(f, offset, whence);
#else
  return fseeko(f, static_cast<off_t>(offset), whence);
#endif
}

std::int64_t Ftell64(std::FILE* f) {
#ifdef _WIN32
  return _ftelli64(f);
#else
  return static_cast<std::int64_t>(ftello(f));
#endif
}

std::FILE* OpenFile(const std::string& fileName, TFileMode mode) {
#ifdef _WIN32
  const std::wstring wname = IEPathFromUTF8(fileName).wstring();
  switch (mode) {
    case TFileMode::fmOpenRead:
      return _wfsopen(wname.c_str(), L"rb", _SH_DENYWR);
    case TFileMode::fmCreate:
      return _wfsopen(wname.c_str(), L"w+b", _SH_DENYRW);
    case TFileMode::fmOpenReadWrite:
      return _wfsopen(wname.c_str(), L"r+b", _SH_DENYRW);
    case TFileMode::fmCreateNew: {
      int fd = -1;
      if (_wsopen_s(&fd, wname.c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY, _SH_DENYRW, _S_IREAD | _S_IWRITE) != 0)
        return nullptr;
      std::FILE* f = _fdopen(fd, "w+b");
      if (f == nullptr) _close(fd);
      return f;
    }
  }
  return nullptr;
#else
  // Other processes are not locked out here: POSIX locks are advisory only.
  switch (mode) {
    case TFileMode::fmOpenRead:
      return std::fopen(fileName.c_str(), "rb");
    case TFileMode::fmCreate:
      return std::fopen(fileName.c_str(), "w+b");
    case TFileMode::fmOpenReadWrite:
      return std::fopen(fileName.c_str(), "r+b");
    case TFileMode::fmCreateNew: {
      const int fd = ::open(fileName.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
      if (fd < 0) return nullptr;
      std::FILE* f = ::fdopen(fd, "w+b");
      if (f == nullptr) ::close(fd);
      return f;
    }
  }
  return nullptr;
#endif
}

}  // namespace

TFileStream::TFileStream(const std::string& fileName, TFileMode mode) : fileName_(fileName) {
  const bool creating = mode == TFileMode::fmCreate || mode == TFileMode::fmCreateNew;
  errno = 0;
  file_ = fileName.empty() ? nullptr : OpenFile(fileName, mode);
  if (file_ == nullptr) {
    const int err = errno != 0 ? errno : ENOENT;
    std::string text = creating ? "Cannot create file \"" : "Cannot open file \"";
    text += IEExpandFileName(fileName);
    text += "\". ";
    text += LastErrorText(err);
    if (creating) throw EFCreateError(text);
    throw EFOpenError(text);
  }
  if (!creating && Fseek64(file_, 0, SEEK_END) == 0) {
    size_ = std::max<std::int64_t>(0, Ftell64(file_));
    Fseek64(file_, 0, SEEK_SET);
  }
}

TFileStream::~TFileStream() { Close(); }

bool TFileStream::Close() {
  if (file_ == nullptr) return !writeFailed_;
  const bool ok = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!ok) writeFailed_ = true;
  return !writeFailed_;
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  if (file_ == nullptr || count <= 0) return 0;
  if (lastWasWrite_) {
    Fseek64(file_, position_, SEEK_SET);  // required between a write and a read
    lastWasWrite_ = false;
  }
  const std::size_t n = std::fread(buffer, 1, static_cast<std::size_t>(count), file_);
  position_ += static_cast<std::int64_t>(n);
  return static_cast<std::int64_t>(n);
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  if (file_ == nullptr || count <= 0) return 0;
  if (!lastWasWrite_) {
    Fseek64(file_, position_, SEEK_SET);  // required between a read and a write
    lastWasWrite_ = true;
  }
  const std::size_t n = std::fwrite(buffer, 1, static_cast<std::size_t>(count), file_);
  if (static_cast<std::int64_t>(n) < count) writeFailed_ = true;
  position_ += static_cast<std::int64_t>(n);
  size_ = std::max(size_, position_);
  return static_cast<std::int64_t>(n);
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  if (file_ == nullptr) return -1;
  std::int64_t target = offset;
  if (origin == soCurrent) target = position_ + offset;
  if (origin == soEnd) target = size_ + offset;
  if (target < 0) return -1;
  if (target == position_) return position_;
  if (Fseek64(file_, target, SEEK_SET) != 0) return -1;
  position_ = target;
  return position_;
}

std::int64_t TFileStream::GetSize() { return size_; }

// ---- TMemoryStream ------------------------------------------------------------------

TMemoryStream::TMemoryStream(const void* data, std::int64_t size) {
  if (size > 0) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    data_.assign(p, p + size);
  }
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  const std::int64_t size = GetSize();
  if (count <= 0 || position_ >= size) return 0;
  const std::int64_t n = std::min(count, size - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  std::int64_t n = count;
  if (WriteLimit >= 0) n = std::clamp<std::int64_t>(WriteLimit - position_, 0, count);
  if (n == 0) return 0;
  const std::int64_t endPos = position_ + n;
  if (endPos > GetSize()) data_.resize(static_cast<std::size_t>(endPos));
  std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(n));
  position_ = endPos;
  return n;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t target = offset;
  if (origin == soCurrent) target = position_ + offset;
  if (origin == soEnd) target = GetSize() + offset;
  if (target < 0) return -1;
  position_ = target;
  return position_;
}

void TMemoryStream::SetSize(std::int64_t size) {
  data_.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, size)));
  position_ = std::min(position_, GetSize());
}

void TMemoryStream::Clear() {
  data_.clear();
  position_ = 0;
}

// ---- TReadOnlyMemoryStream ------------------------------------------------------------

std::int64_t TReadOnlyMemoryStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  const std::int64_t n = std::min(count, size_ - position_);
  std::memcpy(buffer, data_ + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TReadOnlyMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t target = offset;
  if (origin == soCurrent) target = position_ + offset;
  if (origin == soEnd) target = size_ + offset;
  if (target < 0) return -1;
  position_ = target;
  return position_;
}

}  // namespace pravik
