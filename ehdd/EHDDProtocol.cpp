#include "ehdd/EHDDProtocol.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "base/Checksums.h"
#include "base/TextUtils.h"

namespace ehdd_protocol {
namespace {

std::atomic<uint32_t> g_line_counter{0};
std::atomic<uint32_t> g_id_counter{0};

}  // namespace

bool Comando(std::initializer_list<std::pair<const char*, std::string>> pairs, std::string& out) {
  out.clear();
  for (const auto& [key, value] : pairs) {
    if (value.find_first_of("&=") != std::string::npos) return false;
    if (!out.empty()) out += '&';
    out += key;
    out += '=';
    out += value;
    if (out.size() >= kMaxComando) return false;
  }
  return !out.empty();
}

std::string BloqueCabeceras(const std::string& host, int port) {
  return "Host: " + host + ":" + std::to_string(port) +
         "\r\nCache-Control: no-cache\r\nUser-Agent: Mozilla/5.0 (Velarno AX)\r\n"
         "Keep-Alive: 300\r\nConnection: keep-alive\r\nProxy-Connection: Keep-Alive\r\n"
         "Content-Type: application/octet-stream\r\n";
}

std::string LineaPeticion(const std::string& host, int port, long seconds, uint32_t counter) {
  return "POST http://" + host + ":" + std::to_string(port) + "/qor/japmlwah" +
         std::to_string(seconds) + "_" + std::to_string(static_cast<int32_t>(counter)) +
         ".bin HTTP/1.1\r\n";
}

uint32_t SiguienteContadorLinea() { return g_line_counter.fetch_add(1); }

uint16_t SiguienteContadorId() { return static_cast<uint16_t>(g_id_counter.fetch_add(1)); }

std::string IdPeticion(const unsigned char* bytes, size_t length, uint16_t counter) {
  const uint32_t crc = crc32(0, bytes, static_cast<uInt>(length));
  char id[32];
  std::snprintf(id, sizeof(id), "%lx_%04x", static_cast<unsigned long>(crc), counter);
  return id;
}

bool EnmarcarPeticion(const std::string& host, int port, const std::string& header_block,
                      const std::string& command, const unsigned char* data, size_t data_length,
                      uint16_t id_counter, uint32_t line_counter, long seconds,
                      PeticionEnMarcada& out) {
  if (command.empty() || command.size() >= kMaxComando || (data_length > 0 && data == nullptr)) {
    return false;
  }
  std::vector<unsigned char> after(command.begin(), command.end());
  if (data_length > 0) after.insert(after.end(), data, data + data_length);
  out.id = IdPeticion(after.data(), after.size(), id_counter);
  char prefix[kPrefijo + 64];
  int n = std::snprintf(prefix, sizeof(prefix), "QOR%04zX,%s,", after.size(), out.id.c_str());
  if (n < 0 || static_cast<size_t>(n) > kPrefijo) return false;
  out.cuerpo.assign(kPrefijo, ' ');
  std::memcpy(out.cuerpo.data(), prefix, static_cast<size_t>(n));
  out.cuerpo.insert(out.cuerpo.end(), after.begin(), after.end());
  out.cabeza = LineaPeticion(host, port, seconds, line_counter) + header_block +
               "Content-Length: " + std::to_string(out.cuerpo.size()) + "\r\n\r\n";
  return true;
}

std::string CabezaHandshake(const std::string& host, int port, const std::string& header_block,
                            const std::string& ntlm_base64, uint32_t line_counter, long seconds) {
  return LineaPeticion(host, port, seconds, line_counter) + header_block +
         "Proxy-Authorization: NTLM " + ntlm_base64 + "\r\nContent-Length: 0\r\n\r\n";
}

BloqueRespuesta LeerBloqueRespuesta(const unsigned char* block) {
  BloqueRespuesta result;
  if (std::memcmp(block, "RET0", 4) != 0) return result;
  char length_text[9] = {};
  std::memcpy(length_text, block + 4, 8);
  // The id stands between byte 13 and a ',' inside the block.
  const void* comma = std::memchr(block + 13, ',', kBloqueRespuesta - 13);
  if (comma == nullptr) return result;
  result.id.assign(reinterpret_cast<const char*>(block + 13),
                   static_cast<const unsigned char*>(comma) - (block + 13));
  result.longitud = ParseHex(length_text);
  result.ok = true;
  return result;
}

}  // namespace ehdd_protocol
