// Helpers shared by the image I/O tests: a scratch folder, file contents,
// and a guard that swaps a codec slot for a fake one.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "imageio/codec_table.h"
#include "imageio/stream.h"

namespace pravik::testing {

class ScratchDir {
 public:
  ScratchDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("pravik-imageio-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
             std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  // UTF-8 name of a file in the folder.
  std::string File(const std::string& name) const { return IEPathToUTF8(path_ / IEPathFromUTF8(name)); }
  const std::filesystem::path& Path() const { return path_; }
  std::vector<std::string> Entries() const {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(path_)) out.push_back(IEPathToUTF8(e.path().filename()));
    return out;
  }

 private:
  std::filesystem::path path_;
};

inline void WriteBytes(const std::string& file, const std::vector<std::uint8_t>& bytes) {
  TFileStream s(file, TFileMode::fmCreate);
  s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

inline std::vector<std::uint8_t> ReadBytes(const std::string& file) {
  TFileStream s(file, TFileMode::fmOpenRead);
  std::vector<std::uint8_t> out(static_cast<std::size_t>(s.GetSize()));
  s.ReadBuffer(out.data(), static_cast<std::int64_t>(out.size()));
  return out;
}

inline std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// Puts a fake reader and writer into a format's slot for the guard's life.
class CodecSwap {
 public:
  CodecSwap(int fileType, TIECodecReadProc read, TIECodecWriteProc write)
      : slot_(IECodecFor(fileType)), saved_(slot_) {
    slot_.Read = read;
    slot_.Write = write;
  }
  ~CodecSwap() { slot_ = saved_; }
  CodecSwap(const CodecSwap&) = delete;
  CodecSwap& operator=(const CodecSwap&) = delete;

 private:
  TIECodec& slot_;
  TIECodec saved_;
};

}  // namespace pravik::testing
