// NTLM version 1: published vectors, the three messages and the handshake.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/Account.h"
#include "base/Base64.h"
#include "ehdd/NTLM.h"
#include "ehdd/THTTPReply.h"

namespace {

template <size_t N>
std::string Hex(const std::array<uint8_t, N>& bytes, size_t n = N) {
  std::string out;
  char b[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof(b), "%02x", bytes[i]);
    out += b;
  }
  return out;
}

const std::array<uint8_t, 8> kChallenge = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};

TEST(Ntlm, PublishedVectors) {
  EXPECT_EQ(Hex(NtlmLmHash(""), 16), "aad3b435b51404eeaad3b435b51404ee");
  EXPECT_EQ(Hex(NtlmNtHash(""), 16), "31d6cfe0d16ae931b73c59d7e0c089c0");
  std::array<uint8_t, 24> lm, nt;
  NtlmResponses("Password", kChallenge, lm, nt);
  EXPECT_EQ(Hex(nt), "67c43011f30298a2ad35ece64f16331c44bdbed927841f94");
  EXPECT_EQ(Hex(lm), "98def7b87f88aa5dafe2df779688a172def11c7d5ccdef13");
  EXPECT_EQ(NtlmLmHash("")[16], 0);
}

TEST(Ntlm, MessagesAreSizedToTheirContent) {
  NtlmBytes t1 = NtlmType1("alumno", "AULA");
  ASSERT_EQ(t1.size(), 32u + 6 + 4);
  EXPECT_EQ(std::string(t1.begin(), t1.begin() + 7), "NTLMSSP");
  EXPECT_EQ(t1[8], 1);
  EXPECT_EQ(t1[16], 4);   // domain length
  EXPECT_EQ(t1[20], 38);  // domain offset 32 + 6
  EXPECT_EQ(t1[24], 6);   // workstation = user
  EXPECT_EQ(std::string(t1.begin() + 32, t1.end()), "alumnoAULA");
  // Long names do not overflow anything.
  EXPECT_EQ(NtlmType1(std::string(200, 'u'), std::string(200, 'd')).size(), 432u);

  NtlmBytes t3 = NtlmType3("DOM\\user", "user", "", kChallenge);
  ASSERT_EQ(t3.size(), 64u + 3 + 4 + 4 + 48);
  EXPECT_EQ(t3[8], 3);
  EXPECT_EQ(t3[28], 3);   // domain length
  EXPECT_EQ(t3[32], 64);  // domain offset
  EXPECT_EQ(t3[52], 0);   // session key empty, offset = total
  EXPECT_EQ(t3[56], t3.size());
  EXPECT_EQ(std::string(t3.begin() + 64, t3.begin() + 75), "DOMuseruser");
  NtlmBytes plain = NtlmType3("user", "user", "", kChallenge);
  EXPECT_EQ(plain[28], 0);   // no separator: empty domain at offset 64
  EXPECT_EQ(plain[32], 64);
  NtlmBytes slash = NtlmType3("DOM/user", "w", "", kChallenge);
  EXPECT_EQ(slash[28], 3);
}

std::string Type2(uint8_t type, size_t length = 48, bool signature = true) {
  std::vector<uint8_t> m(length, 0);
  if (signature && length >= 8) std::memcpy(m.data(), "NTLMSSP", 8);
  if (length > 8) m[8] = type;
  for (size_t i = 24; i < 32 && i < length; ++i) m[i] = static_cast<uint8_t>(0xA0 + i);
  std::string out(Base64EncodedSize(m.size()) + 1, '\0');
  out.resize(Base64Encode(out.data(), out.size(), m.data(), m.size()));
  return out;
}

TEST(Ntlm, Type2Checks) {
  std::array<uint8_t, 8> challenge{};
  ASSERT_TRUE(NtlmParseType2(Type2(2), challenge));
  EXPECT_EQ(challenge[0], 0xA0 + 24);
  EXPECT_FALSE(NtlmParseType2(Type2(3), challenge));
  EXPECT_FALSE(NtlmParseType2(Type2(2, 24), challenge));         // too short
  EXPECT_FALSE(NtlmParseType2(Type2(2, 48, false), challenge));  // no signature
  EXPECT_FALSE(NtlmParseType2(Type2(2, 400), challenge));        // past 280 bytes
  EXPECT_FALSE(NtlmParseType2("!!!!", challenge));
  // The buffer holds 280 bytes: a message of exactly that size reads, one
  // byte more is refused (whatever its padding).
  ASSERT_EQ(Type2(2, 280).size(), 376u);  // two '=' of padding
  EXPECT_TRUE(NtlmParseType2(Type2(2, 280), challenge));
  EXPECT_TRUE(NtlmParseType2(Type2(2, 279), challenge));
  EXPECT_FALSE(NtlmParseType2(Type2(2, 281), challenge));
  EXPECT_FALSE(NtlmParseType2(Type2(2, 282), challenge));
}

THTTPReply Reply(int status, std::initializer_list<std::string> authenticate) {
  THTTPReply r;
  r.status = status;
  for (const auto& v : authenticate) r.headers["proxy-authenticate"].push_back(v);
  return r;
}

TEST(Ntlm, HandshakeSteps) {
  SetAccountDomain("AULA");
  NtlmHandshake h;
  EXPECT_FALSE(h.Avanzar(Reply(407, {" Basic realm"})));  // no NTLM offer: nothing
  EXPECT_EQ(h.paso(), NtlmHandshake::kNinguno);

  ASSERT_TRUE(h.Avanzar(Reply(407, {" Basic realm", " NTLM"})));
  EXPECT_EQ(h.paso(), NtlmHandshake::kTipo1);
  EXPECT_EQ(h.linea().rfind("Proxy-Authorization: NTLM TlRMTVNTUAAB", 0), 0u);

  ASSERT_TRUE(h.Avanzar(Reply(407, {" NTLM " + Type2(2)})));
  EXPECT_EQ(h.paso(), NtlmHandshake::kTipo3);
  EXPECT_EQ(h.linea().rfind("Proxy-Authorization: NTLM TlRMTVNTUAAD", 0), 0u);
  h.Aceptado();
  EXPECT_EQ(h.paso(), NtlmHandshake::kHecho);

  // A bad challenge sends the handshake back to the start.
  NtlmHandshake bad;
  ASSERT_TRUE(bad.Avanzar(Reply(407, {" NTLM"})));
  EXPECT_FALSE(bad.Avanzar(Reply(407, {" NTLM " + Type2(3)})));
  EXPECT_EQ(bad.paso(), NtlmHandshake::kNinguno);
  EXPECT_EQ(bad.linea(), "");
  SetAccountDomain("");
}

}  // namespace
