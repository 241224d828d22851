// The process-wide cache of open local volumes and of the sizes of the
// files read from them. Every operation runs under one lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/CriticalSection.h"
#include "ehdd/TVolumen.h"

class TCacheVolumenes {
 public:
  static TCacheVolumenes* Instance();

  // Opens (once) the volume at path (without extension); the key names it
  // in the calls below.
  bool AbrirVolumen(const std::string& path, std::string& volume_key);
  // Finds a file of the volume: true with its size (0 for an empty file)
  // when it exists; false when it does not (size -1) or the volume is
  // unknown. `whole_name` is the container path, "#" and the inner path.
  bool AbrirFichero(const std::string& volume_key, const std::string& whole_name,
                    std::string_view inner_path, std::string& file_key, int64_t* size);
  // Reads a range of a file found before into a new buffer; count is the
  // number of bytes read (0 when the read failed). False for an unknown key.
  bool LeerFichero(const std::string& file_key, uint32_t& count,
                   std::unique_ptr<unsigned char[]>& buffer, int64_t offset, uint32_t length,
                   bool from_end = false);
  // The same read into the caller's memory: at most `length` bytes (and no
  // more than `destino` holds) from `offset`.
  bool LeerFicheroEn(const std::string& file_key, uint32_t& count, const TDestinoLectura& destino,
                     int64_t offset, uint32_t length, bool from_end = false);

  static constexpr const char* kPropietario = "YO";

 private:
  struct Volumen {
    std::string path;
    std::unique_ptr<TVolumen> volumen;
    int64_t ultimo_uso = 0;
  };
  struct Fichero {
    int64_t ultimo_uso = 0;
    uint32_t uno = 1;
    std::string whole_name;
    std::string inner_path;
    std::string volume_key;
    int64_t size = 0;
    // Where the open found the file, so a read needs no walk of the path
    // (volumes do not change while the engine reads them).
    uint32_t primer_bloque = 0;
    std::string nombre;
    Volumen* volumen = nullptr;  // the entry of volume_key
  };

  // The file and volume of a key and where a read of it starts (-1, with
  // length 0, when past the end); `length` is cut to what the file holds.
  // False for an unknown key.
  bool Tramo(const std::string& file_key, int64_t offset, uint32_t& length, bool from_end,
             Fichero*& file, TVolumen*& volumen, int64_t& start);
  // A read of a file into the destination destino_para(length) gives for
  // the length the file holds (null: nothing is read).
  template <typename Destino>
  bool LeerCon(const std::string& file_key, uint32_t& count, int64_t offset, uint32_t length,
               bool from_end, Destino&& destino_para);

  CriticalSection lock_;
  // Elements stay where they are when the maps grow: the memos below and
  // the file entries point at them.
  std::unordered_map<std::string, Volumen> volumenes_;
  std::unordered_map<std::string, Fichero> ficheros_;
  // The keys already worked out for a path and for a whole name (with its
  // volume), and the entries they name, so a known one costs no checksum.
  std::unordered_map<std::string, std::pair<std::string, Volumen*>> clave_de_volumen_;
  struct ClaveFichero {
    std::string volume_key;
    std::string file_key;
    Fichero* fichero;
  };
  std::unordered_map<std::string, std::vector<ClaveFichero>> clave_de_fichero_;
};
