// The eHDD wire format: the request line, the header block, the 32-byte
// prefix with the request id, the command texts, and the 32-byte reply
// block in front of a reply's data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace ehdd_protocol {

constexpr size_t kMaxComando = 512;  // command texts stay under this size
constexpr size_t kPrefijo = 32;
constexpr size_t kBloqueRespuesta = 32;

// Builds "K1=V1&K2=V2..." from pairs; the last value may be empty and is
// followed by nothing (the write command appends its data after "WBD=").
// False when a value holds '&' or '=' (it would change the command) or the
// text would reach kMaxComando bytes.
bool Comando(std::initializer_list<std::pair<const char*, std::string>> pairs, std::string& out);

// The header block of a connection to host:port.
std::string BloqueCabeceras(const std::string& host, int port);

// "POST http://host:port/qor/japmlwah<time>_<counter>.bin HTTP/1.1\r\n".
std::string LineaPeticion(const std::string& host, int port, long seconds, uint32_t counter);
// The process-wide request-line counter: one per head built.
uint32_t SiguienteContadorLinea();
// The process-wide 16-bit id counter, wrapping from 0xFFFF to 0.
uint16_t SiguienteContadorId();
// "%lx_%04x" of the CRC-32 of the bytes after the prefix and the counter.
std::string IdPeticion(const unsigned char* bytes, size_t length, uint16_t counter);

// A store request ready to send.
struct PeticionEnMarcada {
  std::string id;
  std::string cabeza;               // request line, header block, Content-Length, blank line
  std::vector<unsigned char> cuerpo;  // prefix, command text, data
};

// Frames a store request. The command text and data are the bytes after
// the prefix. False when the command is empty or too long.
bool EnmarcarPeticion(const std::string& host, int port, const std::string& header_block,
                      const std::string& command, const unsigned char* data, size_t data_length,
                      uint16_t id_counter, uint32_t line_counter, long seconds,
                      PeticionEnMarcada& out);

// An empty request of the proxy handshake, carrying an NTLM message.
std::string CabezaHandshake(const std::string& host, int port, const std::string& header_block,
                            const std::string& ntlm_base64, uint32_t line_counter, long seconds);

// The reply block: "RET0", the data length in hexadecimal (bytes 4-11), a
// separator, the request id from byte 13 ended by ','. A block that is not
// "RET0", or whose id has no ',' inside the block, gives ok = false,
// length 0 and an empty id.
struct BloqueRespuesta {
  bool ok = false;
  uint32_t longitud = 0;
  std::string id;
};
BloqueRespuesta LeerBloqueRespuesta(const unsigned char* block);

}  // namespace ehdd_protocol
