// The account and domain names the proxy authentication presents.
#pragma once

#include <string>

// The effective user's name, and the domain: the configured one (SetAccountDomain,
// else the LECTORIA_DOMAIN environment variable), else the short host name
// upper-cased (at most 15 characters). Names are cut to 511 characters.
// True when both were found.
bool GetAccountAndDomain(std::string& user, std::string& domain);

// Configures the domain name; "" goes back to the environment and host name.
void SetAccountDomain(const std::string& domain);
