// The clipboard text the context-menu extension hands over: each selected
// file's name followed by "|", then the folder of the selection ending in a
// folder delimiter, then "|?STARTUP?".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pravik {

inline constexpr std::string_view kHandoffMarker = "?STARTUP?";

struct THandoff {
  std::vector<std::string> Files;  // bare names in handoff order; pieces are not checked
  std::string Folder;              // as given
};

// Parses a clipboard text block. The text ends at its first zero byte: what a
// clipboard block carries after it is unused memory, not text. Empty when
// the marker is missing or the text holds no "|"-terminated piece at all.
std::optional<THandoff> ParseHandoff(std::string_view block);

// The text the extension builds for a selection (folder ends in a delimiter).
std::string MakeHandoff(const std::vector<std::string>& files, std::string_view folder);

}  // namespace pravik
