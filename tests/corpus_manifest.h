// The shared corpus's MANIFEST.tsv: every file with what the reference decoder
// made of it (path, size, format, width, height, frames, status; a header row
// first; tab-separated).
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace pravik {

// The corpus folder, with a trailing slash.
inline std::string CorpusDir() { return std::string(PRAVIK_SHARED_DIR) + "/corpus/"; }

struct CorpusFile {
  std::string path;    // below the corpus folder
  std::string format;  // the reference decoder's name for it ("BMP3", "GIF", "TGA", ...)
  int width = -1, height = -1;  // -1 unless the reference read it
  bool referenceOk = false;     // the reference read it
};

// Every row of the manifest, in its order; empty without a corpus.
inline std::vector<CorpusFile> ReadCorpusManifest() {
  std::vector<CorpusFile> files;
  std::ifstream in(CorpusDir() + "MANIFEST.tsv");
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream cols(line);
    std::string path, size, format, w, h, frames, status;
    std::getline(cols, path, '\t');
    std::getline(cols, size, '\t');
    std::getline(cols, format, '\t');
    std::getline(cols, w, '\t');
    std::getline(cols, h, '\t');
    std::getline(cols, frames, '\t');
    std::getline(cols, status, '\t');
    CorpusFile f;
    f.path = path;
    f.format = format;
    f.referenceOk = status == "ok";
    if (f.referenceOk) {
      f.width = std::atoi(w.c_str());
      f.height = std::atoi(h.c_str());
    }
    files.push_back(f);
  }
  return files;
}

}  // namespace pravik
