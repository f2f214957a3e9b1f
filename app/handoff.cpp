#include "app/handoff.h"

#include "app/names.h"

namespace pravik {

std::optional<THandoff> ParseHandoff(std::string_view block) {
  const std::string_view text = block.substr(0, block.find('\0'));
  if (text.find(kHandoffMarker) == std::string_view::npos) return std::nullopt;
  std::vector<std::string> pieces;
  std::string_view rest = text;
  // What follows the last "|" (the marker and anything after it) is dropped.
  for (std::size_t bar; (bar = rest.find('|')) != std::string_view::npos; rest.remove_prefix(bar + 1))
    pieces.push_back(Trim(rest.substr(0, bar)));
  if (pieces.empty()) return std::nullopt;
  THandoff handoff;
  handoff.Folder = std::move(pieces.back());
  pieces.pop_back();
  handoff.Files = std::move(pieces);
  return handoff;
}

std::string MakeHandoff(const std::vector<std::string>& files, std::string_view folder) {
  std::string text;
  for (const std::string& f : files) text += f + "|";
  text += folder;
  text += "|";
  text += kHandoffMarker;
  return text;
}

}  // namespace pravik
