#include "base/Account.h"

#include <cctype>
#include <cstdlib>
#include <mutex>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kMaxName = 511;
constexpr size_t kMaxHostDomain = 15;

std::mutex g_mutex;
std::string g_domain;

std::string Cut(std::string text, size_t max) {
  if (text.size() > max) text.resize(max);
  return text;
}

}  // namespace

void SetAccountDomain(const std::string& domain) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_domain = domain;
}

bool GetAccountAndDomain(std::string& user, std::string& domain) {
  user.clear();
  domain.clear();

  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  struct passwd pw {};
  struct passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_name != nullptr) {
    user = Cut(found->pw_name, kMaxName);
  }

  {
    std::lock_guard<std::mutex> lock(g_mutex);
    domain = g_domain;
  }
  if (domain.empty()) {
    const char* env = std::getenv("LECTORIA_DOMAIN");
    if (env != nullptr) domain = env;
  }
  if (domain.empty()) {
    char host[256] = {};
    if (gethostname(host, sizeof(host) - 1) == 0) {
      std::string name = host;
      name = name.substr(0, name.find('.'));
      for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      domain = Cut(name, kMaxHostDomain);
    }
  }
  domain = Cut(domain, kMaxName);
  return !user.empty() && !domain.empty();
}
