#include "ehdd/ProxyDiscovery.h"

#include <atomic>
#include <cstdlib>

#include "base/TTokenizer.h"
#include "platform/registry/Registry.h"

namespace {

constexpr const char* kSettingsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// The registry's Internet-settings key when it is there; else, for the
// user, the environment.
class RegistryInternetSettings : public InternetSettings {
 public:
  bool Read(SettingsRoot root, InternetSettingsValues& values) override {
    namespace reg = platform::registry;
    const reg::Root r = root == SettingsRoot::kCurrentUser ? reg::Root::kCurrentUser : reg::Root::kLocalMachine;
    if (!reg::KeyExists(r, kSettingsKey)) return environment_.Read(root, values);
    values = InternetSettingsValues{};
    reg::Value v;
    if (reg::QueryValue(r, kSettingsKey, "AutoConfigURL", v) && v.type != reg::Type::kDword) {
      values.auto_config_url = v.text;
    }
    if (reg::QueryValue(r, kSettingsKey, "ProxyEnable", v) && v.type == reg::Type::kDword) {
      values.has_enable = true;
      values.proxy_enable = v.dword;
    }
    if (reg::QueryValue(r, kSettingsKey, "ProxyServer", v) && v.type != reg::Type::kDword) {
      values.has_server = true;
      values.proxy_server = v.text;
    }
    if (reg::QueryValue(r, kSettingsKey, "ProxyOverride", v) && v.type != reg::Type::kDword) {
      values.has_override = true;
      values.proxy_override = v.text;
    }
    return true;
  }

 private:
  EnvironmentInternetSettings environment_;
};

RegistryInternetSettings g_default;
std::atomic<InternetSettings*> g_settings{&g_default};

const char* Env(const char* lower, const char* upper) {
  const char* v = std::getenv(lower);
  return (v && *v) ? v : std::getenv(upper);
}

// "http://host:port/" → "host:port".
std::string HostPort(std::string url) {
  size_t scheme = url.find("://");
  if (scheme != std::string::npos) url = url.substr(scheme + 3);
  size_t at = url.rfind('@');
  if (at != std::string::npos) url = url.substr(at + 1);
  size_t slash = url.find('/');
  if (slash != std::string::npos) url = url.substr(0, slash);
  return url;
}

}  // namespace

bool EnvironmentInternetSettings::Read(SettingsRoot root, InternetSettingsValues& values) {
  values = InternetSettingsValues{};
  if (root != SettingsRoot::kCurrentUser) return false;
  const char* proxy = Env("http_proxy", "HTTP_PROXY");
  if (proxy == nullptr || *proxy == '\0') return false;
  values.has_enable = true;
  values.proxy_enable = 1;
  values.has_server = true;
  values.proxy_server = HostPort(proxy);
  const char* no_proxy = Env("no_proxy", "NO_PROXY");
  if (no_proxy != nullptr && *no_proxy != '\0') {
    values.has_override = true;
    for (const char* p = no_proxy; *p; ++p) values.proxy_override += (*p == ',') ? ';' : *p;
  }
  return true;
}

void SetInternetSettings(InternetSettings* settings) {
  g_settings.store(settings ? settings : &g_default);
}

bool GetAutoConfigURL(SettingsRoot root, std::string& url) {
  InternetSettingsValues values;
  if (!g_settings.load()->Read(root, values) || values.auto_config_url.empty()) return false;
  url = values.auto_config_url;
  return true;
}

bool GetProxyFromAutoConfig(std::string& /*proxy_list*/, const std::string& /*server_host*/) {
  std::string url;
  if (!GetAutoConfigURL(SettingsRoot::kLocalMachine, url) &&
      !GetAutoConfigURL(SettingsRoot::kCurrentUser, url)) {
    return false;
  }
  // No configuration-script engine exists on this platform: the script
  // names no proxy, and the manual settings are asked next.
  return false;
}

bool GetRegistryProxy(SettingsRoot root, std::string& proxy_list, std::string& bypass_list) {
  InternetSettingsValues values;
  if (!g_settings.load()->Read(root, values)) return false;
  if (!values.has_enable || values.proxy_enable == 0 || !values.has_server) return false;
  proxy_list = values.has_server ? values.proxy_server : "";
  bypass_list = values.has_override ? values.proxy_override : "";
  return true;
}

bool ChooseProxy(const std::string& proxy_list, const std::string& bypass_list,
                 const std::string& server_host, std::string& proxy_host, int& proxy_port) {
  TTokenizer bypass(bypass_list, ';');
  while (bypass.HasMore()) {
    if (bypass.Next() == server_host) return false;
  }
  TTokenizer entries(proxy_list, ';');
  while (entries.HasMore()) {
    const std::string entry = entries.Next();
    std::string address;
    const size_t eq = entry.find('=');
    if (eq == std::string::npos) {
      address = entry;
    } else if (entry.compare(0, eq, "http") == 0 && eq == 4) {
      address = entry.substr(eq + 1);
    } else {
      continue;
    }
    const size_t colon = address.find(':');
    proxy_host = address.substr(0, colon);
    if (proxy_host.empty()) continue;
    proxy_port = colon == std::string::npos ? 80 : std::atoi(address.c_str() + colon + 1);
    if (proxy_port <= 0 || proxy_port > 65535) proxy_port = 80;
    return true;
  }
  return false;
}

bool FindProxy(std::string& proxy_host, int& proxy_port, const std::string& server_host) {
  std::string list, bypass;
  if (GetProxyFromAutoConfig(list, server_host) ||
      GetRegistryProxy(SettingsRoot::kCurrentUser, list, bypass) ||
      GetRegistryProxy(SettingsRoot::kLocalMachine, list, bypass)) {
    return ChooseProxy(list, bypass, server_host, proxy_host, proxy_port);
  }
  return false;
}

bool FindServerProxy(const std::string& server_host, int /*server_port*/, std::string& proxy_host,
                     int& proxy_port) {
  return FindProxy(proxy_host, proxy_port, server_host);
}
