// The .FAT file of a volume: its header and allocation table. The table is
// held in memory once the file is opened; writes go to memory and file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TFicheroFAT {
 public:
  TFicheroFAT() = default;
  ~TFicheroFAT();
  TFicheroFAT(const TFicheroFAT&) = delete;
  TFicheroFAT& operator=(const TFicheroFAT&) = delete;
  // Closes the file (when open for writing) and forgets everything.
  void Cerrar();

  // Parses the header and loads the table. Refuses a bad magic, a version
  // above 2, a block size of 289 or less or past kMaxTamBloque, a block
  // count of 0 or past 2^24,
  // and a table that does not fit in the file. `escritura` keeps the file
  // open for writing (the volume tool); otherwise it is read and closed.
  bool Abrir(const std::string& path, bool escritura = false);
  // Writes a new .FAT holding the root's entry only; false for a block size
  // a volume may not have.
  static bool Crear(const std::string& path, const std::string& nombre_volumen, bool fijo,
                    uint32_t block_size);

  // Allocation entry of a block; 0 for a block at or past the count.
  uint32_t Siguiente(uint32_t block) const;
  // The allocation chain from a block. *danada is set when the chain runs
  // into a number past the count or visits a block twice.
  std::vector<uint32_t> Cadena(uint32_t first, bool* danada = nullptr) const;

  // Write side.
  uint32_t PrimerLibreDespues(uint32_t a) const;
  uint32_t AsignarBloqueDespues(uint32_t a);  // 0 on failure
  std::vector<uint32_t> AsignarFicheroNuevo();  // empty when none can be had
  bool EscribirEntrada(uint32_t i, uint32_t value);
  bool IncrementarBloques(uint32_t k);

  // The last Abrir found the file but refused what it holds.
  bool danado() const { return danado_; }
  const std::string& nombre_volumen() const { return nombre_volumen_; }
  bool fijo() const { return fijo_; }
  uint32_t block_size() const { return block_size_; }
  uint32_t block_count() const { return block_count_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string nombre_volumen_;
  bool fijo_ = false;
  int8_t version_ = 0;
  uint32_t table_offset_ = 0;
  uint32_t text_length_ = 0;
  uint32_t block_size_ = 0;
  std::vector<uint32_t> tabla_;  // every entry that stands in the file
  uint32_t block_count_ = 0;
  int fd_ = -1;  // open only for writing
  bool danado_ = false;
};
