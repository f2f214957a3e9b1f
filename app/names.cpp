#include "app/names.h"

#include "imageio/stream.h"

namespace pravik {

bool IsPathDelimiter(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/' || c == ':';
#else
  return c == '/';
#endif
}

std::string Trim(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  std::size_t begin = 0, end = text.size();
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

namespace {

std::size_t AfterLastDelimiter(std::string_view path) {
  for (std::size_t i = path.size(); i > 0; --i)
    if (IsPathDelimiter(path[i - 1])) return i;
  return 0;
}

}  // namespace

std::string ExtractFileName(std::string_view path) { return std::string(path.substr(AfterLastDelimiter(path))); }

std::string ExtractFilePath(std::string_view path) { return std::string(path.substr(0, AfterLastDelimiter(path))); }

std::string WithTrailingDelimiter(std::string folder) {
  if (!folder.empty() && !IsPathDelimiter(folder.back())) folder += kPathDelimiter;
  return folder;
}

std::string StripExtension(std::string_view name) {
  const std::string ext = IEExtractFileExt(std::string(name));
  return std::string(name.substr(0, name.size() - ext.size()));
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  std::size_t pos = 0;
  for (std::size_t hit; !from.empty() && (hit = text.find(from, pos)) != std::string_view::npos;
       pos = hit + from.size()) {
    out.append(text, pos, hit - pos);
    out.append(to);
  }
  out.append(text.substr(pos));
  return out;
}

std::string ApplyRenamePattern(std::string_view pattern, std::string_view stem) {
  return ReplaceAll(Trim(pattern), "*", stem);
}

}  // namespace pravik
