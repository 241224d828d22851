#include "platform/registry/Registry.h"

#include "platform/FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace platform::registry {
namespace {

std::mutex g_mutex;

struct Key {
  std::string name;  // as created
  std::vector<std::string> acl;
  std::map<std::string, Value> values;  // by lower-case name
  std::map<std::string, std::string> value_names;
};
using Tree = std::map<std::string, Key>;  // by lower-case path

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// Backslash-separated, without empty components.
std::string Normal(const std::string& key) {
  std::string out;
  for (size_t i = 0; i < key.size();) {
    size_t end = key.find_first_of("\\/", i);
    if (end == std::string::npos) end = key.size();
    if (end > i) {
      if (!out.empty()) out += '\\';
      out += key.substr(i, end - i);
    }
    i = end + 1;
  }
  return out;
}

const char* RootFile(Root root) {
  switch (root) {
    case Root::kClassesRoot:
      return "HKEY_CLASSES_ROOT.reg";
    case Root::kCurrentUser:
      return "HKEY_CURRENT_USER.reg";
    default:
      return "HKEY_LOCAL_MACHINE.reg";
  }
}

// Text fields escape '\\', newline and CR.
std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

bool Unescape(const std::string& s, std::string& out) {
  out.clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      out += s[i];
      continue;
    }
    if (++i >= s.size()) return false;
    if (s[i] == '\\') out += '\\';
    else if (s[i] == 'n') out += '\n';
    else if (s[i] == 'r') out += '\r';
    else return false;
  }
  return true;
}

// Lines: "K\t<path>", "A\t<acl entry>", "V\t<type>\t<name>\t<data>".
bool Parse(const std::string& text, Tree& tree) {
  std::istringstream in(text);
  std::string line;
  Key* current = nullptr;
  if (!std::getline(in, line) || line != "LECTORIA-REGISTRY 1") return false;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::vector<std::string> f;
    size_t start = 0;
    for (;;) {
      size_t tab = line.find('\t', start);
      f.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    std::string a, b;
    if (f[0] == "K" && f.size() == 2 && Unescape(f[1], a)) {
      current = &tree[Lower(a)];
      current->name = a;
    } else if (f[0] == "A" && f.size() == 2 && current && Unescape(f[1], a)) {
      current->acl.push_back(a);
    } else if (f[0] == "V" && f.size() == 4 && current && Unescape(f[2], a) && Unescape(f[3], b)) {
      Value v;
      if (f[1] == "1" || f[1] == "2") {
        v.type = f[1] == "1" ? Type::kSz : Type::kExpandSz;
        v.text = b;
      } else if (f[1] == "4") {
        char* end = nullptr;
        unsigned long n = std::strtoul(b.c_str(), &end, 10);
        if (b.empty() || *end != '\0' || n > 0xFFFFFFFFul) return false;
        v.type = Type::kDword;
        v.dword = static_cast<uint32_t>(n);
      } else {
        return false;
      }
      current->values[Lower(a)] = v;
      current->value_names[Lower(a)] = a;
    } else {
      return false;
    }
  }
  return true;
}

std::string Serialize(const Tree& tree) {
  std::string out = "LECTORIA-REGISTRY 1\n";
  for (const auto& [id, key] : tree) {
    out += "K\t" + Escape(key.name) + "\n";
    for (const auto& a : key.acl) out += "A\t" + Escape(a) + "\n";
    for (const auto& [vid, v] : key.values) {
      const std::string& name = key.value_names.at(vid);
      const std::string data = v.type == Type::kDword ? std::to_string(v.dword) : v.text;
      out += "V\t" + std::to_string(static_cast<uint32_t>(v.type)) + "\t" + Escape(name) + "\t" + Escape(data) + "\n";
    }
  }
  return out;
}

bool MakeFolders(const std::string& path) {
  std::string prefix;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      if (!prefix.empty() && mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    if (i < path.size()) prefix += path[i];
  }
  return true;
}

Tree Load(Root root) {
  Tree tree;
  const std::string path = Folder() + "/" + RootFile(root);
  std::ifstream in(path, std::ios::binary);
  if (!in) return tree;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!Parse(text, tree)) {
    tree.clear();
    std::rename(path.c_str(), (path + ".damaged").c_str());  // set aside, never lost
  }
  return tree;
}

bool Store(Root root, const Tree& tree) {
  const std::string folder = Folder();
  if (!MakeFolders(folder)) return false;
  const std::string path = folder + "/" + RootFile(root);
  return platform::WriteFileAtomically(path, Serialize(tree), 0600);
}

}  // namespace

std::string Folder() {
  if (const char* dir = std::getenv("LECTORIA_REGISTRY_DIR"); dir && *dir) return dir;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) return std::string(xdg) + "/lectoria";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "/tmp") + "/.config/lectoria";
}

bool KeyExists(Root root, const std::string& key) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return Load(root).count(Lower(Normal(key))) > 0;
}

bool CreateKey(Root root, const std::string& key, const std::vector<std::string>& access_list) {
  const std::string normal = Normal(key);
  if (normal.empty()) return false;
  std::lock_guard<std::mutex> lock(g_mutex);
  Tree tree = Load(root);
  std::string prefix;
  size_t i = 0;
  while (i <= normal.size()) {
    size_t end = normal.find('\\', i);
    if (end == std::string::npos) end = normal.size();
    prefix = normal.substr(0, end);
    Key& k = tree[Lower(prefix)];
    if (k.name.empty()) k.name = prefix;
    i = end + 1;
  }
  Key& k = tree[Lower(normal)];
  if (!access_list.empty()) k.acl = access_list;
  return Store(root, tree);
}

std::vector<std::string> AccessList(Root root, const std::string& key) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Tree tree = Load(root);
  auto it = tree.find(Lower(Normal(key)));
  return it == tree.end() ? std::vector<std::string>{} : it->second.acl;
}

bool SetValue(Root root, const std::string& key, const std::string& name, const Value& value) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Tree tree = Load(root);
  auto it = tree.find(Lower(Normal(key)));
  if (it == tree.end()) return false;
  it->second.values[Lower(name)] = value;
  it->second.value_names[Lower(name)] = name;
  return Store(root, tree);
}

bool QueryValue(Root root, const std::string& key, const std::string& name, Value& value) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Tree tree = Load(root);
  auto it = tree.find(Lower(Normal(key)));
  if (it == tree.end()) return false;
  auto v = it->second.values.find(Lower(name));
  if (v == it->second.values.end()) return false;
  value = v->second;
  return true;
}

bool DeleteValue(Root root, const std::string& key, const std::string& name) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Tree tree = Load(root);
  auto it = tree.find(Lower(Normal(key)));
  if (it == tree.end() || it->second.values.erase(Lower(name)) == 0) return false;
  it->second.value_names.erase(Lower(name));
  return Store(root, tree);
}

bool DeleteKey(Root root, const std::string& key) {
  const std::string id = Lower(Normal(key));
  if (id.empty()) return false;
  std::lock_guard<std::mutex> lock(g_mutex);
  Tree tree = Load(root);
  if (!tree.count(id)) return false;
  for (auto it = tree.begin(); it != tree.end();) {
    if (it->first == id || it->first.rfind(id + "\\", 0) == 0) it = tree.erase(it);
    else ++it;
  }
  return Store(root, tree);
}

}  // namespace platform::registry
