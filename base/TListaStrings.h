// An ordered list of 8-bit strings behind a lock, loaded line by line from
// a text file of an eHDD store (the animation's subtitle dictionaries and
// jump list). Items are read by index without the lock: owners load a list
// once, then publish it to its readers.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

class OSAL;
class TEHDDClient;

class TListaStrings {
 public:
  // A line keeps at most this many bytes; the rest up to its CR is skipped.
  static constexpr uint32_t kMaxLinea = 299;
  // Counts and indices are 16-bit: lines past this count are not read.
  static constexpr uint32_t kMaxStrings = 65535;

  TListaStrings() = default;
  TListaStrings(OSAL* osal, TEHDDClient* client) : osal_(osal), client_(client) {}
  ~TListaStrings();
  TListaStrings(const TListaStrings&) = delete;
  TListaStrings& operator=(const TListaStrings&) = delete;

  void SetOSAL(OSAL* osal) { osal_ = osal; }
  void SetEHDDClient(TEHDDClient* client) { client_ = client; }

  // Kept for the owners' start sequence; the lock needs no making.
  void Iniciar() {}
  // Copies the text and appends it; false when the list is full or the copy
  // cannot be allocated.
  bool Add(const char* texto);
  bool Add(const char* texto, uint32_t length);
  uint16_t Count() const { return static_cast<uint16_t>(items_.size()); }
  // The string, or "" when index >= Count(). Valid until Clear.
  const char* Item(uint16_t index) const;
  // Appends one string per line of the file: a CR ends a line and the byte
  // after it (the LF of CR LF) is dropped; a non-empty last line without CR
  // is added too. 0, or -1 when the file does not open. A lost connection
  // (the client's thrown text) closes the file and goes on to the caller.
  int CargarFichero(const char* path);
  void Clear();
  // Frees the array's storage.
  void Vaciar();

 private:
  bool AddLocked(const char* texto, uint32_t length);

  std::vector<char*> items_;
  mutable std::mutex mutex_;
  OSAL* osal_ = nullptr;
  TEHDDClient* client_ = nullptr;
};
