// NTLM version 1 for the proxy of the eHDD connection: the three messages,
// the LM and NT responses, and the handshake steps the transaction engine
// runs on 407 replies.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct THTTPReply;

using NtlmBytes = std::vector<uint8_t>;

// Type 1: sized to its content (32 + user + domain bytes).
NtlmBytes NtlmType1(const std::string& user, const std::string& domain);
// Reads the Base64 type 2 text into its 8-byte challenge. Refused: text
// that could decode past 280 bytes, bad Base64, fewer than 32 bytes, no
// "NTLMSSP" signature, or a type other than 2.
bool NtlmParseType2(const std::string& base64, std::array<uint8_t, 8>& challenge);
// Type 3 for "DOMAIN\user" (or "DOMAIN/user", or just "user"), the
// workstation name and the password; sized to its content.
NtlmBytes NtlmType3(const std::string& domain_and_user, const std::string& workstation,
                    const std::string& password, const std::array<uint8_t, 8>& challenge);

// 21-byte hashes (16 bytes and 5 zeros) and 24-byte responses.
std::array<uint8_t, 21> NtlmLmHash(const std::string& password);
std::array<uint8_t, 21> NtlmNtHash(const std::string& password);
std::array<uint8_t, 24> NtlmDesResponse(const std::array<uint8_t, 21>& hash,
                                        const std::array<uint8_t, 8>& challenge);
void NtlmResponses(const std::string& password, const std::array<uint8_t, 8>& challenge,
                   std::array<uint8_t, 24>& lm, std::array<uint8_t, 24>& nt);
// The 56 bits of 7 bytes spread over 8 DES key bytes with odd parity.
std::array<uint8_t, 8> NtlmDesKey(const uint8_t* seven);

// The handshake of one connection.
class NtlmHandshake {
 public:
  enum Paso { kNinguno = 0, kTipo1 = 1, kTipo3 = 2, kHecho = 3 };

  // Takes a reply that is not 200 and below 500; true when an empty request
  // carrying linea() must go out next.
  bool Avanzar(const THTTPReply& reply);
  // A 200 reply while the type 3 was out: the connection is authenticated.
  void Aceptado() {
    if (paso_ == kTipo3) paso_ = kHecho;
  }
  void Reiniciar() {
    paso_ = kNinguno;
    linea_.clear();
  }
  Paso paso() const { return paso_; }
  // "Proxy-Authorization: NTLM <Base64>\r\n", or "" when none is due.
  const std::string& linea() const { return linea_; }

 private:
  Paso paso_ = kNinguno;
  std::array<uint8_t, 8> challenge_{};
  std::string user_;
  std::string domain_;
  std::string linea_;
};
