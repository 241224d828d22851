#include "ehdd/NTLM.h"

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>
#include <openssl/md4.h>

#include <cctype>
#include <cstring>

#include "base/Account.h"
#include "base/Base64.h"
#include "ehdd/THTTPReply.h"

namespace {

constexpr size_t kMaxType2 = 280;

void Put16(NtlmBytes& m, size_t at, uint16_t v) {
  m[at] = v & 0xFF;
  m[at + 1] = v >> 8;
}
void Put32(NtlmBytes& m, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) m[at + i] = (v >> (8 * i)) & 0xFF;
}
// A security buffer: length, maximum length, offset.
void Field(NtlmBytes& m, size_t at, size_t length, size_t offset) {
  Put16(m, at, static_cast<uint16_t>(length));
  Put16(m, at + 2, static_cast<uint16_t>(length));
  Put32(m, at + 4, static_cast<uint32_t>(offset));
}

std::string Base64(const NtlmBytes& m) {
  std::string out(Base64EncodedSize(m.size()) + 1, '\0');
  size_t n = Base64Encode(out.data(), out.size(), m.data(), m.size());
  out.resize(n);
  return out;
}

std::array<uint8_t, 8> DesEncrypt(const uint8_t* seven, const uint8_t* block) {
  std::array<uint8_t, 8> key = NtlmDesKey(seven);
  DES_cblock des_key;
  std::memcpy(des_key, key.data(), 8);
  DES_key_schedule schedule;
  DES_set_key_unchecked(&des_key, &schedule);
  DES_cblock in, out;
  std::memcpy(in, block, 8);
  DES_ecb_encrypt(&in, &out, &schedule, DES_ENCRYPT);
  std::array<uint8_t, 8> result;
  std::memcpy(result.data(), out, 8);
  return result;
}

}  // namespace

std::array<uint8_t, 8> NtlmDesKey(const uint8_t* s) {
  std::array<uint8_t, 8> k;
  k[0] = s[0];
  k[1] = static_cast<uint8_t>((s[0] << 7) | (s[1] >> 1));
  k[2] = static_cast<uint8_t>((s[1] << 6) | (s[2] >> 2));
  k[3] = static_cast<uint8_t>((s[2] << 5) | (s[3] >> 3));
  k[4] = static_cast<uint8_t>((s[3] << 4) | (s[4] >> 4));
  k[5] = static_cast<uint8_t>((s[4] << 3) | (s[5] >> 5));
  k[6] = static_cast<uint8_t>((s[5] << 2) | (s[6] >> 6));
  k[7] = static_cast<uint8_t>(s[6] << 1);
  for (uint8_t& b : k) {
    b &= 0xFE;
    int bits = 0;
    for (int i = 1; i < 8; ++i) bits += (b >> i) & 1;
    if (bits % 2 == 0) b |= 1;  // odd parity
  }
  return k;
}

std::array<uint8_t, 21> NtlmLmHash(const std::string& password) {
  uint8_t upper[14] = {};
  for (size_t i = 0; i < password.size() && i < 14; ++i) {
    upper[i] = static_cast<uint8_t>(std::toupper(static_cast<unsigned char>(password[i])));
  }
  static const uint8_t kMagic[8] = {'K', 'G', 'S', '!', '@', '#', '$', '%'};
  std::array<uint8_t, 21> hash{};
  auto a = DesEncrypt(upper, kMagic);
  auto b = DesEncrypt(upper + 7, kMagic);
  std::memcpy(hash.data(), a.data(), 8);
  std::memcpy(hash.data() + 8, b.data(), 8);
  return hash;
}

std::array<uint8_t, 21> NtlmNtHash(const std::string& password) {
  std::vector<uint8_t> wide(password.size() * 2, 0);
  for (size_t i = 0; i < password.size(); ++i) wide[2 * i] = static_cast<uint8_t>(password[i]);
  std::array<uint8_t, 21> hash{};
  MD4(wide.data(), wide.size(), hash.data());
  return hash;
}

std::array<uint8_t, 24> NtlmDesResponse(const std::array<uint8_t, 21>& hash,
                                        const std::array<uint8_t, 8>& challenge) {
  std::array<uint8_t, 24> response;
  for (int i = 0; i < 3; ++i) {
    auto part = DesEncrypt(hash.data() + 7 * i, challenge.data());
    std::memcpy(response.data() + 8 * i, part.data(), 8);
  }
  return response;
}

void NtlmResponses(const std::string& password, const std::array<uint8_t, 8>& challenge,
                   std::array<uint8_t, 24>& lm, std::array<uint8_t, 24>& nt) {
  lm = NtlmDesResponse(NtlmLmHash(password), challenge);
  nt = NtlmDesResponse(NtlmNtHash(password), challenge);
}

NtlmBytes NtlmType1(const std::string& user, const std::string& domain) {
  if (user.size() > 0x3FFF || domain.size() > 0x3FFF) return {};
  NtlmBytes m(32 + user.size() + domain.size(), 0);
  std::memcpy(m.data(), "NTLMSSP", 8);
  Put32(m, 8, 1);
  Put32(m, 12, 0x0000B203);
  Field(m, 16, domain.size(), 32 + user.size());
  Field(m, 24, user.size(), 32);
  std::memcpy(m.data() + 32, user.data(), user.size());
  std::memcpy(m.data() + 32 + user.size(), domain.data(), domain.size());
  return m;
}

bool NtlmParseType2(const std::string& base64, std::array<uint8_t, 8>& challenge) {
  // The decoded size is known from the text: three bytes per four
  // characters, less one per '=' of padding.
  size_t padding = 0;
  while (padding < 2 && padding < base64.size() && base64[base64.size() - 1 - padding] == '=') {
    ++padding;
  }
  if (base64.empty() || base64.size() / 4 * 3 - padding > kMaxType2) return false;
  uint8_t message[kMaxType2] = {};
  size_t n = Base64Decode(message, sizeof(message), base64.data(), base64.size());
  if (n < 32 || std::memcmp(message, "NTLMSSP", 8) != 0 || message[8] != 2) return false;
  std::memcpy(challenge.data(), message + 24, 8);
  return true;
}

NtlmBytes NtlmType3(const std::string& domain_and_user, const std::string& workstation,
                    const std::string& password, const std::array<uint8_t, 8>& challenge) {
  size_t cut = domain_and_user.find('\\');
  if (cut == std::string::npos) cut = domain_and_user.find('/');
  std::string domain, user;
  if (cut == std::string::npos) {
    user = domain_and_user;
  } else {
    domain = domain_and_user.substr(0, cut);
    user = domain_and_user.substr(cut + 1);
  }
  const size_t d = domain.size(), u = user.size(), w = workstation.size();
  // Every length and offset must fit its 16-bit field.
  if (d > 0x3FFF || u > 0x3FFF || w > 0x3FFF) return {};
  const size_t names = 64 + d + u + w;
  NtlmBytes m(names + 48, 0);
  std::memcpy(m.data(), "NTLMSSP", 8);
  Put32(m, 8, 3);
  Field(m, 12, 24, names);
  Field(m, 20, 24, names + 24);
  Field(m, 28, d, 64);
  Field(m, 36, u, 64 + d);
  Field(m, 44, w, 64 + d + u);
  Field(m, 52, 0, m.size());
  Put32(m, 60, 0x00008201);
  std::memcpy(m.data() + 64, domain.data(), d);
  std::memcpy(m.data() + 64 + d, user.data(), u);
  std::memcpy(m.data() + 64 + d + u, workstation.data(), w);
  std::array<uint8_t, 24> lm, nt;
  NtlmResponses(password, challenge, lm, nt);
  std::memcpy(m.data() + names, lm.data(), 24);
  std::memcpy(m.data() + names + 24, nt.data(), 24);
  return m;
}

bool NtlmHandshake::Avanzar(const THTTPReply& reply) {
  if (paso_ == kNinguno) {
    if (reply.status != 407 || !HeaderContains(reply, "proxy-authenticate", " ntlm", true)) {
      return false;
    }
    challenge_.fill(0);
    GetAccountAndDomain(user_, domain_);
    // Names past what a 16-bit field holds are cut.
    user_.resize(std::min<size_t>(user_.size(), 255));
    domain_.resize(std::min<size_t>(domain_.size(), 255));
    linea_ = "Proxy-Authorization: NTLM " + Base64(NtlmType1(user_, domain_)) + "\r\n";
    paso_ = kTipo1;
    return true;
  }
  if (paso_ == kTipo1) {
    std::string value;
    if (HeaderValueStartingWith(reply, "proxy-authenticate", " ntlm", value, true) &&
        value.size() > 6 && NtlmParseType2(value.substr(6), challenge_)) {
      linea_ = "Proxy-Authorization: NTLM " +
               Base64(NtlmType3(domain_ + "\\" + user_, user_, "", challenge_)) + "\r\n";
      paso_ = kTipo3;
      return true;
    }
    Reiniciar();
    return false;
  }
  Reiniciar();
  return false;
}
