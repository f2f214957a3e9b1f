// Every file of the shared corpus goes through content detection and the load
// front: no crash, no sanitizer report, a bounded time. Where the reference
// decoder (the manifest) read the file and so do we, the sizes agree, except
// for the files listed in expectations.tsv with the reason we differ.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "corpus_manifest.h"
#include "imageio/imageio.h"
#include "imageio/registry.h"

namespace pravik {
namespace {

const std::string kCorpus = CorpusDir();

struct Expectation {
  int width = -1, height = -1;  // -1: the load must fail
  std::string reason;
};

// tests/conformance/expectations.tsv: path, width, height, reason (tab-separated;
// "#" starts a comment line).
const std::map<std::string, Expectation>& Expectations() {
  static const std::map<std::string, Expectation> table = [] {
    std::map<std::string, Expectation> t;
    std::ifstream in(std::string(PRAVIK_SOURCE_DIR) + "/tests/conformance/expectations.tsv");
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream cols(line);
      std::string path, w, h, reason;
      std::getline(cols, path, '\t');
      std::getline(cols, w, '\t');
      std::getline(cols, h, '\t');
      std::getline(cols, reason);
      t[path] = Expectation{std::atoi(w.c_str()), std::atoi(h.c_str()), reason};
    }
    return t;
  }();
  return table;
}

class CorpusTest : public ::testing::TestWithParam<CorpusFile> {};

TEST_P(CorpusTest, DetectsAndLoadsWithinBounds) {
  const CorpusFile& f = GetParam();
  const std::string full = kCorpus + f.path;
  const auto t0 = std::chrono::steady_clock::now();

  const int detected = FindFileFormat(full, false);
  TImageIO io;
  bool raised = false;
  try {
    io.LoadFromFileAuto(full);
  } catch (const std::exception&) {
    raised = true;  // platform errors only; a codec's bad data sets the abort flag
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  // Generous for the sanitizer build; a release build takes milliseconds.
  EXPECT_LT(seconds, 20.0) << f.path;

  const bool loaded = !raised && !io.AbortFlag && io.IOParams().FILETYPE != 0;
  if (loaded) {
    EXPECT_EQ(io.IEBitmap().GetWidth(), io.IOParams().WIDTH) << f.path;
    EXPECT_EQ(io.IEBitmap().GetHeight(), io.IOParams().HEIGHT) << f.path;
  }
  auto it = Expectations().find(f.path);
  if (it != Expectations().end()) {
    const Expectation& e = it->second;
    if (e.width < 0) {
      EXPECT_FALSE(loaded) << f.path << ": " << e.reason;
    } else {
      ASSERT_TRUE(loaded) << f.path << ": " << e.reason << " (" << io.AbortReason << ")";
      EXPECT_EQ(io.IEBitmap().GetWidth(), e.width) << f.path << ": " << e.reason;
      EXPECT_EQ(io.IEBitmap().GetHeight(), e.height) << f.path << ": " << e.reason;
    }
    return;
  }
  if (loaded && f.referenceOk) {
    EXPECT_EQ(io.IEBitmap().GetWidth(), f.width) << f.path << " detected as " << detected;
    EXPECT_EQ(io.IEBitmap().GetHeight(), f.height) << f.path;
  }
}

std::string TestName(const ::testing::TestParamInfo<CorpusFile>& info) {
  std::string name;
  for (char c : info.param.path) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusTest, ::testing::ValuesIn(ReadCorpusManifest()), TestName);

}  // namespace
}  // namespace pravik
