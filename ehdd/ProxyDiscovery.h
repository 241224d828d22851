// Finds the HTTP proxy that the eHDD connection goes through: the automatic
// configuration first (which finds nothing on this platform), then the
// user's and then the machine's manual Internet settings.
#pragma once

#include <string>

// The Internet-settings values of one root.
struct InternetSettingsValues {
  std::string auto_config_url;  // "AutoConfigURL"
  bool has_enable = false;
  unsigned proxy_enable = 0;    // "ProxyEnable"
  bool has_server = false;
  std::string proxy_server;     // "ProxyServer": "host:port" or "http=host:port;..."
  bool has_override = false;
  std::string proxy_override;   // "ProxyOverride": hosts separated by ';'
};

enum class SettingsRoot { kCurrentUser, kLocalMachine };

// Where the settings come from; the registry layer backs it.
class InternetSettings {
 public:
  virtual ~InternetSettings() = default;
  virtual bool Read(SettingsRoot root, InternetSettingsValues& values) = 0;
};

// The settings read from the environment: http_proxy (or HTTP_PROXY) and
// no_proxy as the user's values; the machine has none.
class EnvironmentInternetSettings : public InternetSettings {
 public:
  bool Read(SettingsRoot root, InternetSettingsValues& values) override;
};

// Installs the settings source (nullptr: the registry's Internet-settings
// key, else the environment for the user). It must outlive its installation.
void SetInternetSettings(InternetSettings* settings);

bool GetAutoConfigURL(SettingsRoot root, std::string& url);
bool GetProxyFromAutoConfig(std::string& proxy_list, const std::string& server_host);
bool GetRegistryProxy(SettingsRoot root, std::string& proxy_list, std::string& bypass_list);
bool FindProxy(std::string& proxy_host, int& proxy_port, const std::string& server_host);
bool FindServerProxy(const std::string& server_host, int server_port, std::string& proxy_host,
                     int& proxy_port);
// The list rules alone: bypass entries and the first usable proxy entry.
bool ChooseProxy(const std::string& proxy_list, const std::string& bypass_list,
                 const std::string& server_host, std::string& proxy_host, int& proxy_port);
