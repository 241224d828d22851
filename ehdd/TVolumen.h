// One open local volume: path lookup through its directory tree, a table of
// open handles, reads, and (for the volume tool) file and folder creation.
//
// Volumes are read-only for the engine, so each directory's sorted listing
// is kept once read; any write clears what was kept.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ehdd/TFicheroDAT.h"
#include "ehdd/TFicheroFAT.h"
#include "ehdd/TFicheroVolumen.h"

class TVolumen {
 public:
  enum class Error {
    kNinguno,
    kNoEncontrado,
    kEsDirectorio,
    kNoEsDirectorio,
    kDanado,
    kExiste,
    kLleno,
    kNombre
  };

  static constexpr uint32_t kUltimoId = 0xFFFFFFFB;

  // Opens path + ".FAT" and path + ".DAT"; `escritura` for the volume tool.
  // On failure ultimo_error() tells a missing file (kNoEncontrado) from a
  // refused one (kDanado).
  bool Abrir(const std::string& path, bool escritura = false);
  // Writes a new empty volume (the root folder only).
  static bool Crear(const std::string& path, const std::string& nombre_volumen, uint32_t block_size,
                    bool fijo = false);
  void Cerrar();

  // Mode "r..." opens an existing file, "w..." creates a new one. A failed
  // open gives a record with id 0, empty name and mode 0.
  TFicheroVolumen AbrirFichero(const std::string& path, const char* modo,
                               const std::string& propietario);
  int64_t Size(const TFicheroVolumen& record);
  int64_t Posicionar(TFicheroVolumen& record, int64_t offset, int whence);
  int64_t Leer(TFicheroVolumen& record, void* buffer, uint32_t length);
  // Appends bytes at the record's position (files being created).
  int64_t Escribir(TFicheroVolumen& record, const void* data, uint32_t length);
  void CerrarFichero(const TFicheroVolumen& record);

  // Reads a file found before (its first block and last path component, as
  // an open gave them) without a handle: at most `length` bytes from
  // `offset`, to `destino`. The same checks as a read through a handle: the
  // block the read starts in must carry the name and the owner, and every
  // block must be sound; in addition the block links must agree with the
  // allocation chain, and every block but the last be full. The bytes read
  // (0 at or past the end), or -1 (ultimo_error() kDanado for damage).
  int64_t LeerMiembro(uint32_t primer_bloque, const std::string& nombre,
                      const std::string& propietario, uint64_t offset, uint32_t length,
                      const TDestinoLectura& destino);

  bool Listar(uint32_t directorio, const char* modo, std::vector<TEntradaDirectorio>& entradas);
  // The first block of the folder a path names ("/" is the root).
  bool BuscarDirectorio(const std::string& path, uint32_t* bloque);
  bool CrearDirectorio(const std::string& path, const std::string& propietario);

  Error ultimo_error() const { return error_; }
  uint32_t block_size() const { return block_size_; }
  void SetSiguienteIdParaPruebas(uint32_t id) { siguiente_id_ = id; }

  static std::vector<std::string> SplitPath(const std::string& path);

 private:
  enum class Busqueda { kEncontrado, kFaltaUltimo, kFallo };
  Busqueda Buscar(const std::string& path, uint32_t* padre, TEntradaDirectorio* entrada,
                  std::string* ultimo);
  const std::vector<TEntradaDirectorio>* ListadoOrdenado(uint32_t directorio);
  bool Validar(const TFicheroVolumen& record) const;
  bool PrimerBloque(uint32_t bloque, uint32_t* primero);
  // The allocation chain of a file from its first block (kept once walked);
  // null when it is damaged.
  const std::vector<uint32_t>* CadenaDe(uint32_t primero);
  bool AnadirHijo(uint32_t directorio, uint32_t hijo);
  TFicheroVolumen Registrar(TFicheroVolumen record, const std::string& path);
  uint32_t ElegirId() const;
  int64_t Fallo(Error error) {
    error_ = error;
    return -1;
  }

  uint32_t block_size_ = 0;
  TFicheroFAT fat_;
  TFicheroDAT dat_;
  std::map<uint32_t, TFicheroVolumen> abiertos_;
  std::list<std::pair<std::string, uint32_t>> rutas_abiertas_;
  uint32_t siguiente_id_ = 0;
  std::map<uint32_t, std::vector<TEntradaDirectorio>> listados_;
  std::map<uint32_t, std::vector<uint32_t>> cadenas_;
  Error error_ = Error::kNinguno;
};
