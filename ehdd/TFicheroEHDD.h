// The file object the eHDD client hands out from open to close.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct TEHDDReply;

// Where a file lives, chosen at open.
namespace ehdd_kind {
inline const char* const kServidor = "";        // on the eHDD server
inline const char* const kLocalPlano = "1";     // plain local file named by its own path
inline const char* const kMiembroVolumen = "2"; // member of a local container volume
inline const char* const kRaizLocal = "3";      // plain file under the client's local root
}  // namespace ehdd_kind

struct TFicheroEHDD {
  uint32_t length = 0;   // fixed at open; 0 for a file opened for writing
  std::string path;      // resolved path (see TEHDDClient::Abrir)
  uint64_t offset = 0;   // current position
  int32_t mode = 0;      // 0 read, 2 write (1 accepted as a write mode)
  std::string kind;      // one of ehdd_kind
  std::string fileId;    // server id, volume file key or cache name; empty for kind "3"

  // The last whole block this handle read, so reads of a few bytes at a time
  // are served from it without going back to the block cache. Files open for
  // reading never change while open, so the copy stays right.
  int64_t bloque_indice = -1;
  std::vector<unsigned char> bloque;

  // A server file read on from its start: the read of the blocks that
  // follow the last ones fetched, on its way (see TEHDDClient::Leer).
  std::shared_ptr<TEHDDReply> adelantada;
  uint64_t adelantada_desde = 0;
};
