// Replays fuzz inputs as an ordinary test: every file under the folders given
// on the command line goes through the target once. A crash or sanitizer
// report fails the test; the inputs that found bugs live in fuzz/corpus/<target>.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  int files = 0;
  double slowest = 0;
  std::string slowestName;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    if (!fs::exists(argv[i], ec)) continue;
    for (auto it = fs::recursive_directory_iterator(argv[i], ec); it != fs::recursive_directory_iterator(); ++it) {
      if (!it->is_regular_file()) continue;
      std::ifstream in(it->path(), std::ios::binary);
      std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      const auto t0 = std::chrono::steady_clock::now();
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      if (s > slowest) {
        slowest = s;
        slowestName = it->path().string();
      }
      ++files;
    }
  }
  std::printf("replayed %d inputs; slowest %.3f s (%s)\n", files, slowest, slowestName.c_str());
  return 0;
}
