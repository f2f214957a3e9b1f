// Seekable byte streams: what every reader and writer works on.
//
// File names are UTF-8 on every platform; on Windows they are converted to
// wide characters before the file is opened, so any Unicode name works.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace pravik {

// ---- errors ------------------------------------------------------------------
// Platform errors are exceptions; bad data is reported through the abort flag.
class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// "Cannot open file \"%s\". %s"
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
// "Cannot create file \"%s\". %s"
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
// ReadBuffer found fewer bytes than asked for.
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
// WriteBuffer could not write every byte.
class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

enum TSeekOrigin : std::uint8_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };

// ---- TStream -----------------------------------------------------------------
class TStream {
 public:
  virtual ~TStream() = default;

  // Reads up to count bytes; returns how many were read (0 at the end).
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  // Writes up to count bytes; returns how many were taken.
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  // Moves the position; returns the new one, or -1 (position unchanged) when
  // the target would be negative or the platform refuses. Seeking past the end
  // is allowed; a later write fills the gap with zeros.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
  virtual std::int64_t GetSize();

  std::int64_t GetPosition() { return Seek(0, soCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, soBeginning); }

  // All-or-nothing forms: raise EReadError / EWriteError on a short transfer.
  void ReadBuffer(void* buffer, std::int64_t count);
  void WriteBuffer(const void* buffer, std::int64_t count);
  // Copies count bytes (all that remain when count is 0) from source; returns
  // the number copied. Raises EReadError / EWriteError on a short transfer.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

// Writes Count bytes of Buffer; when the stream takes fewer, sets AbortFlag.
// Raises nothing and does not stop by itself (a throwing stream also just
// sets the flag).
void SafeStreamWrite(TStream& Stream, bool& AbortFlag, const void* Buffer, std::int64_t Count);

// ---- files -------------------------------------------------------------------
enum class TFileMode : std::uint8_t {
  fmOpenRead,   // read only; others may read, not write; must exist
  fmCreate,     // read and write; no sharing; created, an existing file truncated
  fmCreateNew,  // as fmCreate, but fails when the file already exists
  fmOpenReadWrite,  // read and write an existing file; no sharing
};

class TFileStream final : public TStream {
 public:
  // Raises EFOpenError (read modes) or EFCreateError (create modes).
  TFileStream(const std::string& fileName, TFileMode mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t GetSize() override;

  // Flushes and closes now; returns false when buffered data could not be
  // written (disk full). Later calls on the stream read and write nothing.
  bool Close();
  const std::string& FileName() const { return fileName_; }

 private:
  std::FILE* file_ = nullptr;
  std::string fileName_;
  std::int64_t position_ = 0;
  std::int64_t size_ = 0;
  bool lastWasWrite_ = false;
  bool writeFailed_ = false;
};

// ---- memory ------------------------------------------------------------------
// A growable in-memory stream that owns its bytes.
class TMemoryStream final : public TStream {
 public:
  TMemoryStream() = default;
  TMemoryStream(const void* data, std::int64_t size);
  explicit TMemoryStream(std::vector<std::uint8_t> bytes) : data_(std::move(bytes)) {}

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t GetSize() override { return static_cast<std::int64_t>(data_.size()); }

  void SetSize(std::int64_t size);
  void Clear();
  std::uint8_t* Memory() { return data_.data(); }
  const std::vector<std::uint8_t>& Bytes() const { return data_; }
  std::vector<std::uint8_t>& Bytes() { return data_; }
  // Refuses writes that would grow the stream past this many bytes (for tests
  // of short writes, and as a budget). -1: no limit.
  std::int64_t WriteLimit = -1;

 private:
  std::vector<std::uint8_t> data_;
  std::int64_t position_ = 0;
};

// A read-only view of bytes owned elsewhere (embedded blocks, fuzz inputs).
// Writes take nothing.
class TReadOnlyMemoryStream final : public TStream {
 public:
  TReadOnlyMemoryStream(const void* data, std::int64_t size)
      : data_(static_cast<const std::uint8_t*>(data)), size_(size < 0 ? 0 : size) {}

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t GetSize() override { return size_; }

 private:
  const std::uint8_t* data_;
  std::int64_t size_;
  std::int64_t position_ = 0;
};

// ---- file-system helpers (UTF-8 names) ---------------------------------------
std::filesystem::path IEPathFromUTF8(const std::string& fileName);
std::string IEPathToUTF8(const std::filesystem::path& path);
// The absolute form of a name, as error messages quote it.
std::string IEExpandFileName(const std::string& fileName);
// True for an existing regular file (directories do not count).
bool IEFileExists(const std::string& fileName);
bool IEDirectoryExists(const std::string& dirName);
// The extension with its dot ("a.b.JPG" -> ".JPG"), empty when there is none.
std::string IEExtractFileExt(const std::string& fileName);

}  // namespace pravik
