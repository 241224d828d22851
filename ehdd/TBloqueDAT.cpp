#include "ehdd/TBloqueDAT.h"

#include <atomic>
#include <cstring>
#include <ctime>

#include "ehdd/TFicheroDAT.h"

using namespace volumen;

namespace {

std::atomic<uint32_t> g_ahora_fijo{0};

// A NUL-padded text field: damaged when no terminator stands inside it.
bool ReadField(const unsigned char* p, uint32_t width, std::string& out) {
  const void* end = std::memchr(p, 0, width);
  if (end == nullptr) return false;
  out.assign(reinterpret_cast<const char*>(p), static_cast<const unsigned char*>(end) - p);
  return true;
}

}  // namespace

uint32_t volumen::Ahora() {
  const uint32_t fijo = g_ahora_fijo.load(std::memory_order_relaxed);
  return fijo != 0 ? fijo : static_cast<uint32_t>(std::time(nullptr));
}

void volumen::FijarAhora(uint32_t segundos) {
  g_ahora_fijo.store(segundos, std::memory_order_relaxed);
}

bool volumen::CabeceraSana(const unsigned char* b, uint32_t block_size) {
  return std::memchr(b, 0, kNombre) != nullptr &&
         std::memchr(b + kPosPropietario, 0, kPropietario) != nullptr && block_size > kCabecera &&
         GetU24(b + kPosUsado) <= block_size - kCabecera;
}

bool volumen::CabeceraSana(const unsigned char* b, uint32_t block_size, size_t nombre,
                           size_t propietario) {
  const bool name_ends =
      (nombre < kNombre && b[nombre] == 0) || std::memchr(b, 0, kNombre) != nullptr;
  const unsigned char* owner = b + kPosPropietario;
  const bool owner_ends = (propietario < kPropietario && owner[propietario] == 0) ||
                          std::memchr(owner, 0, kPropietario) != nullptr;
  return name_ends && owner_ends && block_size > kCabecera &&
         GetU24(b + kPosUsado) <= block_size - kCabecera;
}

bool volumen::CampoIgual(const unsigned char* field, uint32_t width, const std::string& text) {
  return text.size() < width && std::memcmp(field, text.data(), text.size()) == 0 &&
         field[text.size()] == 0;
}

bool TBloqueDAT::Parse(const unsigned char* b, uint32_t block_size) {
  if (!ReadField(b, kNombre, nombre)) return false;
  tipo = b[255];
  reservado = b[256];
  creado = GetU32(b + 257);
  modificado = GetU32(b + 261);
  if (!ReadField(b + kPosPropietario, kPropietario, propietario)) return false;
  anterior = GetU24(b + 280);
  siguiente = GetU24(b + kPosSiguiente);
  usado = GetU24(b + kPosUsado);
  return block_size > kCabecera && usado <= block_size - kCabecera;
}

bool TBloqueDAT::Serialize(unsigned char* b) const {
  if (nombre.size() >= kNombre || propietario.size() >= kPropietario) return false;
  std::memset(b, 0, kCabecera);
  std::memcpy(b, nombre.data(), nombre.size());
  b[255] = tipo;
  b[256] = reservado;
  PutU32(b + 257, creado);
  PutU32(b + 261, modificado);
  std::memcpy(b + 265, propietario.data(), propietario.size());
  PutU24(b + 280, anterior);
  PutU24(b + 283, siguiente);
  PutU24(b + 286, usado);
  return true;
}

bool TBloqueDAT::LeerListaHijos(TFicheroDAT& dat, std::vector<uint32_t>& hijos) const {
  const uint32_t count = usado / 3;
  if (count == 0) return true;
  std::vector<unsigned char> bytes(count * 3);
  if (dat.LeerCarga(numero, 0, bytes.data(), count * 3) != count * 3) return false;
  for (uint32_t i = 0; i < count; ++i) hijos.push_back(GetU24(bytes.data() + 3 * i));
  return true;
}

size_t TBloqueDAT::EscribirListaHijos(TFicheroDAT& dat, const std::vector<uint32_t>& hijos,
                                      size_t desde) {
  const uint32_t max = dat.carga() / 3;
  std::vector<unsigned char> bytes;
  size_t i = desde;
  for (; i < hijos.size() && (i - desde) < max; ++i) {
    unsigned char v[3];
    PutU24(v, hijos[i]);
    bytes.insert(bytes.end(), v, v + 3);
  }
  usado = static_cast<uint32_t>(bytes.size());
  if (!bytes.empty()) dat.EscribirCarga(numero, 0, bytes.data(), usado);
  return i;
}

int64_t TBloqueDAT::LeerDatos(TFicheroDAT& dat, unsigned char* buffer, uint32_t length,
                              uint32_t offset) const {
  if (offset > usado) return -1;
  uint32_t n = usado - offset < length ? usado - offset : length;
  if (n == 0) return 0;
  return dat.LeerCarga(numero, offset, buffer, n);
}
