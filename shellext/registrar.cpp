#include "shellext/registrar.h"

#include <cctype>
#include <cstdlib>
#include <optional>

namespace pravik {

namespace {

enum class TKeyFlag { None, NoRemove, ForceRemove, Delete };

struct TRegValue {
  DWORD Type = REG_SZ;
  std::string Text;   // REG_SZ
  DWORD Number = 0;   // REG_DWORD
};

struct TRegKey {
  std::string Name;
  TKeyFlag Flag = TKeyFlag::None;
  std::optional<TRegValue> Default;
  std::vector<std::pair<std::string, TRegValue>> Values;
  std::vector<TRegKey> Keys;
};

struct TRegRoot {
  HKEY Root;
  std::vector<TRegKey> Keys;
};

// Replacements are made in the text before parsing. Values are quoted for the
// '...' strings they stand in, so a path with a quote in it stays one string.
bool Substitute(std::string_view script, const TRegistrarReplacements& table, std::string& out) {
  for (size_t i = 0; i < script.size(); ++i) {
    if (script[i] != '%') {
      out += script[i];
      continue;
    }
    size_t end = script.find('%', i + 1);
    if (end == std::string_view::npos) return false;
    std::string_view name = script.substr(i + 1, end - i - 1);
    if (name.empty()) {
      out += '%';
    } else {
      bool found = false;
      for (const auto& [key, value] : table) {
        if (key != name) continue;
        for (char c : value) out += c == '\'' ? std::string("''") : std::string(1, c);
        found = true;
        break;
      }
      if (!found) return false;
    }
    i = end;
  }
  return true;
}

class TParser {
 public:
  explicit TParser(std::string_view text) : text_(text) {}

  bool Parse(std::vector<TRegRoot>& roots) {
    for (;;) {
      std::string word;
      if (!NextToken(word)) return pos_ >= text_.size();
      std::optional<HKEY> root = RootKey(word);
      if (!root) return false;
      TRegRoot entry{*root, {}};
      std::vector<std::pair<std::string, TRegValue>> rootValues;  // values of a root key are not ours to set
      if (!Expect("{") || !ParseKeys(entry.Keys, rootValues)) return false;
      roots.push_back(std::move(entry));
    }
  }

 private:
  static std::optional<HKEY> RootKey(const std::string& word) {
    static const std::pair<const char*, HKEY> kRoots[] = {
        {"HKCR", HKEY_CLASSES_ROOT},  {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {"HKLM", HKEY_LOCAL_MACHINE}, {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {"HKCU", HKEY_CURRENT_USER},  {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {"HKU", HKEY_USERS},          {"HKEY_USERS", HKEY_USERS},
    };
    for (const auto& [name, key] : kRoots)
      if (_stricmp(name, word.c_str()) == 0) return key;
    return std::nullopt;
  }

  // Keys and named values up to the closing brace of a block.
  bool ParseKeys(std::vector<TRegKey>& keys, std::vector<std::pair<std::string, TRegValue>>& values) {
    static const std::pair<const char*, TKeyFlag> kFlags[] = {
        {"NoRemove", TKeyFlag::NoRemove}, {"ForceRemove", TKeyFlag::ForceRemove}, {"Delete", TKeyFlag::Delete}};
    for (;;) {
      bool quoted = false;
      std::string word;
      if (!NextToken(word, &quoted)) return false;
      if (!quoted && word == "}") return true;
      if (!quoted && _stricmp(word.c_str(), "val") == 0) {
        std::string name;
        TRegValue value;
        if (!NextToken(name) || !Expect("=") || !ParseValue(value)) return false;
        values.emplace_back(std::move(name), std::move(value));
        continue;
      }
      TRegKey key;
      for (const auto& [flag, kind] : kFlags)
        if (!quoted && _stricmp(word.c_str(), flag) == 0) key.Flag = kind;
      if (key.Flag != TKeyFlag::None && !NextToken(word, &quoted)) return false;
      if (!quoted && (word == "{" || word == "}" || word == "=")) return false;
      key.Name = word;
      if (Peek() == '=') {
        TRegValue value;
        if (!Expect("=") || !ParseValue(value)) return false;
        key.Default = std::move(value);
      }
      if (Peek() == '{') {
        if (!Expect("{") || !ParseKeys(key.Keys, key.Values)) return false;
      }
      keys.push_back(std::move(key));
    }
  }

  bool ParseValue(TRegValue& value) {
    std::string type;
    if (!NextToken(type)) return false;
    bool quoted = false;
    std::string text;
    if (!NextToken(text, &quoted)) return false;
    if (_stricmp(type.c_str(), "s") == 0) {
      value.Type = REG_SZ;
      value.Text = std::move(text);
      return true;
    }
    if (_stricmp(type.c_str(), "d") == 0) {
      char* end = nullptr;
      unsigned long n = std::strtoul(text.c_str(), &end, 0);
      if (text.empty() || *end != 0) return false;
      value.Type = REG_DWORD;
      value.Number = static_cast<DWORD>(n);
      return true;
    }
    return false;
  }

  void SkipSpace() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }

  char Peek() {
    SkipSpace();
    return pos_ < text_.size() ? text_[pos_] : '\0';
  }

  bool Expect(const char* token) {
    bool quoted = false;
    std::string word;
    return NextToken(word, &quoted) && !quoted && word == token;
  }

  // A brace, "=", a quoted string or a bare word.
  bool NextToken(std::string& token, bool* quoted = nullptr) {
    token.clear();
    if (quoted != nullptr) *quoted = false;
    SkipSpace();
    if (pos_ >= text_.size()) return false;
    char c = text_[pos_];
    if (c == '{' || c == '}' || c == '=') {
      // "{" opens a block, but "{guid}" is a bare key name.
      if (c != '{' || pos_ + 1 >= text_.size() || std::isspace(static_cast<unsigned char>(text_[pos_ + 1]))) {
        token = c;
        ++pos_;
        return true;
      }
    }
    if (c == '\'') {
      if (quoted != nullptr) *quoted = true;
      for (++pos_; pos_ < text_.size(); ++pos_) {
        if (text_[pos_] != '\'') {
          token += text_[pos_];
        } else if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
          token += '\'';
          ++pos_;
        } else {
          ++pos_;
          return true;
        }
      }
      return false;  // unterminated string
    }
    while (pos_ < text_.size()) {
      char d = text_[pos_];
      if (std::isspace(static_cast<unsigned char>(d)) || d == '=' || d == '\'') break;
      if (d == '}' && (token.empty() || token.front() != '{')) break;
      token += d;
      ++pos_;
      if (d == '}') break;
    }
    return !token.empty();
  }

  std::string_view text_;
  size_t pos_ = 0;
};

HRESULT FromWin32(LONG rc) { return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc); }

LONG SetValue(HKEY key, const char* name, const TRegValue& value) {
  if (value.Type == REG_DWORD)
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value.Number), sizeof(DWORD));
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.Text.c_str()),
                        static_cast<DWORD>(value.Text.size() + 1));
}

LONG DeleteTree(HKEY parent, const std::string& name) {
  LONG rc = RegDeleteTreeA(parent, name.c_str());
  if (rc == ERROR_SUCCESS) rc = RegDeleteKeyA(parent, name.c_str());
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

HRESULT RegisterKeys(HKEY parent, const std::vector<TRegKey>& keys) {
  for (const TRegKey& key : keys) {
    if (key.Flag == TKeyFlag::ForceRemove || key.Flag == TKeyFlag::Delete) {
      if (LONG rc = DeleteTree(parent, key.Name)) return FromWin32(rc);
      if (key.Flag == TKeyFlag::Delete) continue;
    }
    HKEY sub = nullptr;
    if (LONG rc = RegCreateKeyExA(parent, key.Name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &sub,
                                  nullptr))
      return FromWin32(rc);
    HRESULT hr = S_OK;
    if (key.Default) hr = FromWin32(SetValue(sub, nullptr, *key.Default));
    for (size_t i = 0; SUCCEEDED(hr) && i < key.Values.size(); ++i)
      hr = FromWin32(SetValue(sub, key.Values[i].first.c_str(), key.Values[i].second));
    if (SUCCEEDED(hr)) hr = RegisterKeys(sub, key.Keys);
    RegCloseKey(sub);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT UnregisterKeys(HKEY parent, const std::vector<TRegKey>& keys) {
  for (const TRegKey& key : keys) {
    if (key.Flag != TKeyFlag::NoRemove) {
      if (LONG rc = DeleteTree(parent, key.Name)) return FromWin32(rc);
      continue;
    }
    HKEY sub = nullptr;
    LONG rc = RegOpenKeyExA(parent, key.Name.c_str(), 0, KEY_READ | KEY_WRITE, &sub);
    if (rc == ERROR_FILE_NOT_FOUND) continue;  // nothing of ours can be below it
    if (rc != ERROR_SUCCESS) return FromWin32(rc);
    HRESULT hr = UnregisterKeys(sub, key.Keys);
    RegCloseKey(sub);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

}  // namespace

HRESULT RunRegistryScript(std::string_view script, const TRegistrarReplacements& replacements, bool doRegister) {
  std::string text;
  if (!Substitute(script, replacements, text)) return DISP_E_EXCEPTION;
  std::vector<TRegRoot> roots;
  if (!TParser(text).Parse(roots)) return DISP_E_EXCEPTION;
  for (const TRegRoot& root : roots) {
    HRESULT hr = doRegister ? RegisterKeys(root.Root, root.Keys) : UnregisterKeys(root.Root, root.Keys);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

}  // namespace pravik
