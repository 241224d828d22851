#include "platform/registry/Registry.h"

#include "platform/FileIo.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

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

// Text fields escape '\\', newline, CR, TAB (the field separator) and NUL.
std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\0')
      out += "\\0";
    else
      out += c;
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
    if (s[i] == '\\')
      out += '\\';
    else if (s[i] == 'n')
      out += '\n';
    else if (s[i] == 'r')
      out += '\r';
    else if (s[i] == 't')
      out += '\t';
    else if (s[i] == '0')
      out += '\0';
    else
      return false;
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
      out += "V\t" + std::to_string(static_cast<uint32_t>(v.type)) + "\t" + Escape(name) + "\t" +
             Escape(data) + "\n";
    }
  }
  return out;
}

constexpr size_t kMaxRootFile = 16u << 20;  // far past any real registry
constexpr int kLockTries = 1000;            // 10 ms apart: 10 s for another process to finish

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

// The registry names the libraries the program loads, so its folder must be
// the user's own: owned by the effective user and writable by nobody else.
bool FolderIsPrivate(const std::string& folder) {
  struct stat st {};
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
         (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string RootPath(Root root) {
  return Folder() + "/" + RootFile(root);
}

// The lock of one root file between processes (the program and the engine
// library each keep their own copy of this layer), held from the load to the
// store of a change. Inside one process the mutex orders the threads.
class RootLock {
 public:
  // `create` makes the folder when it is missing (for a change); a read of a
  // registry that was never written needs no lock.
  RootLock(Root root, bool create) : guard_(g_mutex) {
    const std::string folder = Folder();
    if (folder.empty()) return;
    struct stat st {};
    if (!create && stat(folder.c_str(), &st) != 0 && errno == ENOENT) {
      absent_ = true;
      return;
    }
    if (create && !MakeFolders(folder)) return;
    if (!FolderIsPrivate(folder)) return;
    fd_ = open((RootPath(root) + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    for (int i = 0; i < kLockTries; ++i) {
      if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
        locked_ = true;
        return;
      }
      if (errno != EWOULDBLOCK && errno != EINTR) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~RootLock() {
    if (fd_ >= 0) close(fd_);  // also releases the lock
  }
  RootLock(const RootLock&) = delete;
  RootLock& operator=(const RootLock&) = delete;

  // The root may be read and written.
  bool held() const { return locked_; }
  // Nothing was ever stored: reads find an empty root.
  bool absent() const { return absent_; }

 private:
  std::lock_guard<std::mutex> guard_;
  int fd_ = -1;
  bool locked_ = false;
  bool absent_ = false;
};

// Reads the root under its lock; false when the root cannot be read safely.
// A damaged file is set aside (never lost) and the root starts empty.
bool Load(Root root, const RootLock& lock, Tree& tree) {
  tree.clear();
  if (lock.absent()) return true;
  if (!lock.held()) return false;
  const std::string path = RootPath(root);
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  struct stat st {};
  std::string text;
  bool read = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              static_cast<uint64_t>(st.st_size) <= kMaxRootFile;
  if (read) {
    text.resize(static_cast<size_t>(st.st_size));
    read = platform::ReadFullyAt(fd, text.data(), text.size(), 0);
  }
  close(fd);
  if (!read || !Parse(text, tree)) {
    tree.clear();
    std::rename(path.c_str(), (path + ".damaged").c_str());
  }
  return true;
}

bool Store(Root root, const RootLock& lock, const Tree& tree) {
  if (!lock.held()) return false;
  return platform::WriteFileAtomically(RootPath(root), Serialize(tree), 0600);
}

}  // namespace

std::string Folder() {
  if (const char* dir = std::getenv("LECTORIA_REGISTRY_DIR"); dir && *dir) return dir;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
    return std::string(xdg) + "/lectoria";
  if (const char* home = std::getenv("HOME"); home && *home)
    return std::string(home) + "/.config/lectoria";
  // Without HOME the account's own home folder; never a shared folder.
  std::vector<char> scratch(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, scratch.data(), scratch.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return std::string(found->pw_dir) + "/.config/lectoria";
  }
  return "";
}

bool KeyExists(Root root, const std::string& key) {
  RootLock lock(root, false);
  Tree tree;
  return Load(root, lock, tree) && tree.count(Lower(Normal(key))) > 0;
}

bool CreateKey(Root root, const std::string& key, const std::vector<std::string>& access_list) {
  const std::string normal = Normal(key);
  if (normal.empty()) return false;
  RootLock lock(root, true);
  Tree tree;
  if (!Load(root, lock, tree)) return false;
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
  return Store(root, lock, tree);
}

std::vector<std::string> AccessList(Root root, const std::string& key) {
  RootLock lock(root, false);
  Tree tree;
  if (!Load(root, lock, tree)) return {};
  auto it = tree.find(Lower(Normal(key)));
  return it == tree.end() ? std::vector<std::string>{} : it->second.acl;
}

bool SetValue(Root root, const std::string& key, const std::string& name, const Value& value) {
  RootLock lock(root, true);
  Tree tree;
  if (!Load(root, lock, tree)) return false;
  auto it = tree.find(Lower(Normal(key)));
  if (it == tree.end()) return false;
  it->second.values[Lower(name)] = value;
  it->second.value_names[Lower(name)] = name;
  return Store(root, lock, tree);
}

bool QueryValue(Root root, const std::string& key, const std::string& name, Value& value) {
  RootLock lock(root, false);
  Tree tree;
  if (!Load(root, lock, tree)) return false;
  auto it = tree.find(Lower(Normal(key)));
  if (it == tree.end()) return false;
  auto v = it->second.values.find(Lower(name));
  if (v == it->second.values.end()) return false;
  value = v->second;
  return true;
}

bool DeleteValue(Root root, const std::string& key, const std::string& name) {
  RootLock lock(root, true);
  Tree tree;
  if (!Load(root, lock, tree)) return false;
  auto it = tree.find(Lower(Normal(key)));
  if (it == tree.end() || it->second.values.erase(Lower(name)) == 0) return false;
  it->second.value_names.erase(Lower(name));
  return Store(root, lock, tree);
}

bool DeleteKey(Root root, const std::string& key) {
  const std::string id = Lower(Normal(key));
  if (id.empty()) return false;
  RootLock lock(root, true);
  Tree tree;
  if (!Load(root, lock, tree)) return false;
  if (!tree.count(id)) return false;
  for (auto it = tree.begin(); it != tree.end();) {
    if (it->first == id || it->first.rfind(id + "\\", 0) == 0)
      it = tree.erase(it);
    else
      ++it;
  }
  return Store(root, lock, tree);
}

}  // namespace platform::registry
