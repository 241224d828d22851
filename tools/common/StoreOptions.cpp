#include "tools/common/StoreOptions.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "ehdd/TEHDDClient.h"

namespace tools {
namespace {

bool LetterTaken(const StoreOptions& options, char letter) {
  for (const auto& mount : options.mounts) {
    if (std::toupper(static_cast<unsigned char>(mount.first)) == letter) return true;
  }
  for (char local : options.local_letters) {
    if (std::toupper(static_cast<unsigned char>(local)) == letter) return true;
  }
  return false;
}

// Mounts an absolute local folder on the highest free letter; 0 when none.
char MountSpareLetter(TEHDDClient& client, StoreOptions& options, const std::string& folder) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(folder, error);
  if (error) return 0;
  std::string text = absolute.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  for (char letter = 'Z'; letter >= 'A'; --letter) {
    if (LetterTaken(options, letter)) continue;
    options.mounts.emplace_back(letter, text);
    options.local_letters.push_back(letter);
    client.Mount(text.c_str(), letter);
    client.AddLocalLetter(letter, "");
    return letter;
  }
  return 0;
}

}  // namespace

bool ParseStoreOptions(int argc, char** argv, int& index, StoreOptions& options,
                       std::string* error) {
  while (index < argc && std::strncmp(argv[index], "--", 2) == 0) {
    const std::string option = argv[index];
    if (option != "--local-root" && option != "--local" && option != "--mount") {
      if (error) *error = "unknown option " + option;
      return false;
    }
    if (index + 1 >= argc) {
      if (error) *error = option + " needs a value";
      return false;
    }
    const std::string value = argv[index + 1];
    index += 2;
    if (option == "--local-root") {
      options.local_root = value;
    } else if (option == "--local") {
      options.local_letters += value;
    } else {
      if (value.size() < 3 || value[1] != '=') {
        if (error) *error = "bad mount " + value + " (L=STORE)";
        return false;
      }
      options.mounts.emplace_back(value[0], value.substr(2));
    }
  }
  return true;
}

void ApplyStoreOptions(TEHDDClient& client, const StoreOptions& options) {
  client.SetLocalRoot(options.local_root);
  for (char letter : options.local_letters) client.AddLocalLetter(letter, "");
  for (const auto& mount : options.mounts) client.Mount(mount.second.c_str(), mount.first);
}

bool IsVirtualPath(const std::string& path) {
  return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
         path[2] == '\\';
}

std::string EnginePathForFile(TEHDDClient& client, StoreOptions& options, const std::string& path) {
  if (IsVirtualPath(path)) return path;
  std::filesystem::path plain(path);
  std::string folder = plain.parent_path().string();
  if (folder.empty()) folder = ".";
  char letter = MountSpareLetter(client, options, folder);
  if (letter == 0) return "";
  return std::string(1, letter) + ":\\" + plain.filename().string();
}

std::string EnginePathForFolder(TEHDDClient& client, StoreOptions& options,
                                const std::string& folder) {
  if (IsVirtualPath(folder) || (folder.size() == 2 && folder[1] == ':')) {
    std::string virtual_folder = folder;
    while (virtual_folder.size() > 2 && virtual_folder.back() == '\\') virtual_folder.pop_back();
    return virtual_folder;
  }
  char letter = MountSpareLetter(client, options, folder);
  if (letter == 0) return "";
  return std::string(1, letter) + ":";
}

std::string Quote(const char* bytes, size_t length) {
  std::string out;
  out.reserve(length + 2);
  for (size_t i = 0; i < length; ++i) {
    const unsigned char byte = static_cast<unsigned char>(bytes[i]);
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
    } else if (byte >= 0x20 && byte <= 0x7E) {
      out += static_cast<char>(byte);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    }
  }
  return out;
}

std::string Quote(const std::string& bytes) {
  return Quote(bytes.data(), bytes.size());
}

}  // namespace tools
