// Texts and names the batch works with: trimming, path pieces, output stems.
// Names are 8-bit texts; on Windows in the system code page, elsewhere UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace pravik {

// The folder delimiter appended to output folders.
#ifdef _WIN32
inline constexpr char kPathDelimiter = '\\';
#else
inline constexpr char kPathDelimiter = '/';
#endif

// True for a character that ends a folder in a path ("\", "/" and ":" on
// Windows, "/" elsewhere).
bool IsPathDelimiter(char c);

// Removes spaces and control characters (bytes up to 32) at both ends.
std::string Trim(std::string_view text);

// The part after the last folder delimiter.
std::string ExtractFileName(std::string_view path);
// The part up to and including the last folder delimiter ("" for a bare name).
std::string ExtractFilePath(std::string_view path);
// Appends kPathDelimiter unless the folder is empty or already ends in a delimiter.
std::string WithTrailingDelimiter(std::string folder);

// The name without its extension ('a.b.jpg' gives 'a.b'); a name without an
// extension is returned unchanged.
std::string StripExtension(std::string_view name);

// The output stem: the trimmed pattern with every "*" replaced by stem.
std::string ApplyRenamePattern(std::string_view pattern, std::string_view stem);

// Replaces every occurrence of from (not empty) in text; replacements are not
// searched again.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

}  // namespace pravik
