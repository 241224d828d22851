#include "ehdd/TVolumen.h"

#include <algorithm>
#include <cstring>

using namespace volumen;

namespace {

uint32_t Now() {
  return Ahora();
}

bool NameLess(const TEntradaDirectorio& a, const TEntradaDirectorio& b) {
  return a.nombre < b.nombre;
}

}  // namespace

bool TVolumen::Abrir(const std::string& path, bool escritura) {
  Cerrar();
  error_ = Error::kNinguno;
  if (!fat_.Abrir(path + ".FAT", escritura) ||
      !dat_.Abrir(path + ".DAT", fat_.fijo(), fat_.block_size(), fat_.block_count(), escritura)) {
    error_ = fat_.danado() ? Error::kDanado : Error::kNoEncontrado;
    Cerrar();
    return false;
  }
  block_size_ = fat_.block_size();
  // The root folder must read as a folder, or nothing in the volume can.
  TBloqueDAT root;
  if (!dat_.LeerCabecera(0, root) || root.tipo != kDirectorio) {
    error_ = Error::kDanado;
    Cerrar();
    return false;
  }
  return true;
}

bool TVolumen::Crear(const std::string& path, const std::string& nombre_volumen,
                     uint32_t block_size, bool fijo) {
  if (!TFicheroFAT::Crear(path + ".FAT", nombre_volumen, fijo, block_size) ||
      !TFicheroDAT::Crear(path + ".DAT")) {
    return false;
  }
  TFicheroDAT dat;
  if (!dat.Abrir(path + ".DAT", fijo, block_size, 0, true)) return false;
  TBloqueDAT root;
  root.nombre = "/";
  root.tipo = kDirectorio;
  root.creado = Now();
  return dat.EscribirBloque(0, root);
}

void TVolumen::Cerrar() {
  dat_.Cerrar();
  fat_.Cerrar();
  abiertos_.clear();
  rutas_abiertas_.clear();
  listados_.clear();
  cadenas_.clear();
}

std::vector<std::string> TVolumen::SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t i = 0;
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) {
    parts.push_back(path.substr(0, 1));
    i = 1;
  }
  if (i >= path.size()) return parts;
  for (;;) {
    size_t end = path.find_first_of("/\\", i);
    if (end == std::string::npos) {
      parts.push_back(path.substr(i));
      break;
    }
    parts.push_back(path.substr(i, end - i));
    i = end + 1;
  }
  return parts;
}

bool TVolumen::Listar(uint32_t directorio, const char* modo,
                      std::vector<TEntradaDirectorio>& entradas) {
  entradas.clear();
  const bool breve = modo != nullptr && std::strcmp(modo, "brief") == 0;
  const uint32_t count = dat_.block_count();
  TBloqueDAT dir;
  if (!dat_.LeerCabecera(directorio, dir) || dir.tipo != kDirectorio) return false;
  // The folder's blocks, each visited once, bounded by the block count.
  std::vector<uint32_t> hijos;
  std::vector<bool> visto(count, false);
  TBloqueDAT block = dir;
  for (;;) {
    if (visto[block.numero]) return false;
    visto[block.numero] = true;
    if (!block.LeerListaHijos(dat_, hijos) || hijos.size() > count) return false;
    if (block.siguiente == 0) break;
    if (!dat_.LeerCabecera(block.siguiente, block)) return false;
  }
  for (uint32_t hijo : hijos) {
    TBloqueDAT first;
    if (!dat_.LeerCabecera(hijo, first)) return false;
    TEntradaDirectorio entrada{first.nombre, first.tipo, first.propietario, hijo, 0};
    if (!breve) {
      uint64_t size = 0;
      TBloqueDAT b = first;
      for (uint32_t steps = 0;; ++steps) {
        if (steps >= count) return false;  // a cycle of next links
        size += b.usado;
        if (b.siguiente == 0) break;
        if (!dat_.LeerCabecera(b.siguiente, b)) return false;
      }
      entrada.size = static_cast<uint32_t>(std::min<uint64_t>(size, UINT32_MAX));
    }
    entradas.push_back(std::move(entrada));
  }
  return true;
}

const std::vector<TEntradaDirectorio>* TVolumen::ListadoOrdenado(uint32_t directorio) {
  auto it = listados_.find(directorio);
  if (it != listados_.end()) return &it->second;
  std::vector<TEntradaDirectorio> entradas;
  if (!Listar(directorio, "brief", entradas)) return nullptr;
  std::stable_sort(entradas.begin(), entradas.end(), NameLess);
  return &listados_.emplace(directorio, std::move(entradas)).first->second;
}

TVolumen::Busqueda TVolumen::Buscar(const std::string& path, uint32_t* padre,
                                    TEntradaDirectorio* entrada, std::string* ultimo) {
  std::vector<std::string> parts = SplitPath(path);
  if (parts.size() < 2 || (parts[0] != "/" && parts[0] != "\\")) {
    error_ = Error::kNoEncontrado;
    return Busqueda::kFallo;
  }
  uint32_t dir = 0;
  for (size_t i = 1; i < parts.size(); ++i) {
    const bool last = i + 1 == parts.size();
    const std::vector<TEntradaDirectorio>* listado = ListadoOrdenado(dir);
    if (listado == nullptr) {
      error_ = Error::kDanado;
      return Busqueda::kFallo;
    }
    TEntradaDirectorio key;
    key.nombre = parts[i];
    auto it = std::lower_bound(listado->begin(), listado->end(), key, NameLess);
    if (it == listado->end() || it->nombre != parts[i]) {
      if (last) {
        *padre = dir;
        *ultimo = parts[i];
        return Busqueda::kFaltaUltimo;
      }
      error_ = Error::kNoEncontrado;
      return Busqueda::kFallo;
    }
    if (last) {
      *padre = dir;
      *entrada = *it;
      *ultimo = parts[i];
      return Busqueda::kEncontrado;
    }
    if (it->tipo != kDirectorio) {
      error_ = Error::kNoEsDirectorio;  // a path that runs through a file
      return Busqueda::kFallo;
    }
    dir = it->primer_bloque;
  }
  error_ = Error::kNoEncontrado;
  return Busqueda::kFallo;
}

bool TVolumen::BuscarDirectorio(const std::string& path, uint32_t* bloque) {
  std::vector<std::string> parts = SplitPath(path);
  if (parts.size() == 1 && (parts[0] == "/" || parts[0] == "\\")) {
    *bloque = 0;
    return true;
  }
  uint32_t padre = 0;
  TEntradaDirectorio entrada;
  std::string ultimo;
  Busqueda b = Buscar(path, &padre, &entrada, &ultimo);
  if (b == Busqueda::kFaltaUltimo) error_ = Error::kNoEncontrado;
  if (b != Busqueda::kEncontrado) return false;
  if (entrada.tipo != kDirectorio) {
    error_ = Error::kNoEsDirectorio;
    return false;
  }
  *bloque = entrada.primer_bloque;
  return true;
}

uint32_t TVolumen::ElegirId() const {
  uint32_t id = siguiente_id_;
  for (;;) {
    if (!abiertos_.count(id)) return id;
    id = id >= kUltimoId ? 0 : id + 1;
  }
}

TFicheroVolumen TVolumen::Registrar(TFicheroVolumen record, const std::string& path) {
  abiertos_[record.id] = record;
  rutas_abiertas_.emplace_back(path, record.id);
  siguiente_id_ = record.id;
  error_ = Error::kNinguno;
  return record;
}

TFicheroVolumen TVolumen::AbrirFichero(const std::string& path, const char* modo,
                                       const std::string& propietario) {
  const std::string mode = modo ? modo : "";
  uint32_t padre = 0;
  TEntradaDirectorio entrada;
  std::string ultimo;
  Busqueda b = Buscar(path, &padre, &entrada, &ultimo);
  if (b == Busqueda::kFallo) return {};
  TFicheroVolumen record;
  record.id = ElegirId();
  record.nombre = ultimo;
  record.propietario = propietario;

  if (b == Busqueda::kEncontrado) {
    if (mode.empty() || mode[0] == 'w') {
      error_ = Error::kExiste;
      return {};
    }
    TBloqueDAT first;
    if (!dat_.LeerCabecera(entrada.primer_bloque, first)) {
      error_ = Error::kDanado;
      return {};
    }
    if (first.tipo != kFichero) {
      error_ = Error::kEsDirectorio;
      return {};
    }
    record.bloque = entrada.primer_bloque;
    record.modo = mode.size() == 1 ? 1 : 2;
    return Registrar(record, path);
  }

  if (mode.empty() || mode[0] != 'w') {
    error_ = Error::kNoEncontrado;
    return {};
  }
  if (ultimo.empty() || ultimo.size() >= kNombre || propietario.size() >= kPropietario) {
    error_ = Error::kNombre;
    return {};
  }
  std::vector<uint32_t> chain = fat_.AsignarFicheroNuevo();
  if (chain.empty()) {
    error_ = Error::kLleno;
    return {};
  }
  TBloqueDAT header;
  header.nombre = ultimo;
  header.tipo = kFichero;
  header.creado = Now();
  header.propietario = propietario;
  header.anterior = padre;
  if (!dat_.EscribirBloque(chain[0], header) || !AnadirHijo(padre, chain[0])) {
    error_ = Error::kDanado;
    return {};
  }
  listados_.clear();
  cadenas_.clear();
  record.bloque = chain[0];
  record.modo = mode.size() == 1 ? 0 : 2;
  return Registrar(record, path);
}

bool TVolumen::CrearDirectorio(const std::string& path, const std::string& propietario) {
  uint32_t padre = 0;
  TEntradaDirectorio entrada;
  std::string ultimo;
  Busqueda b = Buscar(path, &padre, &entrada, &ultimo);
  if (b == Busqueda::kFallo) return false;
  if (b == Busqueda::kEncontrado) {
    error_ = entrada.tipo == kDirectorio ? Error::kNinguno : Error::kExiste;
    return entrada.tipo == kDirectorio;
  }
  if (ultimo.empty() || ultimo.size() >= kNombre || propietario.size() >= kPropietario) {
    error_ = Error::kNombre;
    return false;
  }
  std::vector<uint32_t> chain = fat_.AsignarFicheroNuevo();
  if (chain.empty()) {
    error_ = Error::kLleno;
    return false;
  }
  TBloqueDAT header;
  header.nombre = ultimo;
  header.tipo = kDirectorio;
  header.creado = Now();
  header.propietario = propietario;
  header.anterior = padre;
  listados_.clear();
  cadenas_.clear();
  if (!dat_.EscribirBloque(chain[0], header) || !AnadirHijo(padre, chain[0])) {
    error_ = Error::kDanado;
    return false;
  }
  return true;
}

bool TVolumen::AnadirHijo(uint32_t directorio, uint32_t hijo) {
  listados_.clear();
  cadenas_.clear();
  const uint32_t count = dat_.block_count();
  TBloqueDAT block;
  if (!dat_.LeerCabecera(directorio, block)) return false;
  std::vector<uint32_t> hijos;
  {
    TBloqueDAT b = block;
    for (uint32_t steps = 0;; ++steps) {
      if (steps >= count || !b.LeerListaHijos(dat_, hijos)) return false;
      if (b.siguiente == 0) break;
      if (!dat_.LeerCabecera(b.siguiente, b)) return false;
    }
  }
  hijos.push_back(hijo);
  size_t next = block.EscribirListaHijos(dat_, hijos, 0);
  if (!dat_.EscribirBloque(directorio, block)) return false;
  for (uint32_t steps = 0; next < hijos.size(); ++steps) {
    if (steps > dat_.block_count()) return false;
    TBloqueDAT cont;
    if (block.siguiente == 0) {
      uint32_t nuevo = fat_.AsignarBloqueDespues(block.numero);
      if (nuevo == 0) return false;
      cont.nombre = block.nombre;
      cont.tipo = block.tipo;
      cont.reservado = block.reservado;
      cont.anterior = block.numero;
      cont.creado = Now();
      cont.propietario = block.propietario;
      // The block must exist before its payload can take the list.
      if (!dat_.EscribirBloque(nuevo, cont)) return false;
      block.siguiente = nuevo;
      if (!dat_.EscribirBloque(block.numero, block)) return false;
    } else if (!dat_.LeerCabecera(block.siguiente, cont)) {
      return false;
    }
    next = cont.EscribirListaHijos(dat_, hijos, next);
    if (!dat_.EscribirBloque(cont.numero, cont)) return false;
    block = cont;
  }
  return true;
}

bool TVolumen::Validar(const TFicheroVolumen& record) const {
  auto it = abiertos_.find(record.id);
  return it != abiertos_.end() && it->second == record;
}

bool TVolumen::PrimerBloque(uint32_t bloque, uint32_t* primero) {
  TBloqueDAT header;
  if (!dat_.LeerCabecera(bloque, header)) return false;
  for (uint32_t steps = 0; header.anterior != bloque && fat_.Siguiente(header.anterior) == bloque;
       ++steps) {
    if (steps >= dat_.block_count()) return false;  // a cycle
    bloque = header.anterior;
    if (!dat_.LeerCabecera(bloque, header)) return false;
  }
  *primero = bloque;
  return true;
}

const std::vector<uint32_t>* TVolumen::CadenaDe(uint32_t primero) {
  auto it = cadenas_.find(primero);
  if (it != cadenas_.end()) return &it->second;
  bool danada = false;
  std::vector<uint32_t> chain = fat_.Cadena(primero, &danada);
  if (danada || chain.empty()) return nullptr;
  return &cadenas_.emplace(primero, std::move(chain)).first->second;
}

int64_t TVolumen::Size(const TFicheroVolumen& record) {
  if (!Validar(record)) return -1;
  uint32_t first = 0;
  if (!PrimerBloque(record.bloque, &first)) return Fallo(Error::kDanado);
  const std::vector<uint32_t>* chain = CadenaDe(first);
  TBloqueDAT last;
  if (chain == nullptr || !dat_.LeerCabecera(chain->back(), last)) return Fallo(Error::kDanado);
  return static_cast<int64_t>(chain->size() - 1) * dat_.carga() + last.usado;
}

int64_t TVolumen::Posicionar(TFicheroVolumen& record, int64_t offset, int whence) {
  if (!Validar(record)) return -1;
  const int64_t size = Size(record);
  if (size < 0) return -1;
  uint32_t first = 0;
  if (!PrimerBloque(record.bloque, &first)) return Fallo(Error::kDanado);
  const std::vector<uint32_t>* cadena = CadenaDe(first);
  if (cadena == nullptr) return Fallo(Error::kDanado);
  const std::vector<uint32_t>& chain = *cadena;
  const uint32_t p = dat_.carga();

  int64_t target;
  if (whence == 0) {
    target = offset;
  } else if (whence == 2) {
    if (offset > 0) return -1;
    target = size + offset;
  } else if (whence == 1) {
    auto at = std::find(chain.begin(), chain.end(), record.bloque);
    if (at == chain.end()) return Fallo(Error::kDanado);
    target = static_cast<int64_t>(at - chain.begin()) * p + record.offset + offset;
  } else {
    return -1;
  }
  if (target < 0 || target > size) return -1;
  uint64_t index = static_cast<uint64_t>(target) / p;
  uint32_t in_block = static_cast<uint32_t>(static_cast<uint64_t>(target) % p);
  if (index >= chain.size()) {
    // The exact end of a file that fills its last block: stand at the end of
    // that block, so a read that follows gives 0 bytes.
    index = chain.size() - 1;
    in_block = p;
  }
  record.bloque = chain[index];
  record.offset = in_block;
  abiertos_[record.id] = record;
  return in_block;
}

int64_t TVolumen::Leer(TFicheroVolumen& record, void* buffer, uint32_t length) {
  if (!Validar(record) || (record.modo != 1 && record.modo != 2)) return -1;
  // Only the headers and the payload bytes the read asks for are read, so
  // what a read costs follows its length, never the volume's block size.
  auto* out = static_cast<unsigned char*>(buffer);
  TBloqueDAT block;
  uint32_t got = 0;
  if (!dat_.LeerBloque(record.bloque, record.offset, length, block, out, &got)) {
    return Fallo(Error::kDanado);
  }
  if (block.nombre != record.nombre || block.propietario != record.propietario) return -1;
  if (record.offset > block.usado) return -1;
  uint32_t total = got;
  record.offset += total;
  for (uint32_t steps = 0; total < length && block.siguiente != 0; ++steps) {
    if (steps >= dat_.block_count()) return Fallo(Error::kDanado);
    if (!dat_.LeerBloque(block.siguiente, 0, length - total, block, out + total, &got)) {
      return Fallo(Error::kDanado);
    }
    total += got;
    record.bloque = block.numero;
    record.offset = got;
  }
  abiertos_[record.id] = record;
  return total;
}

int64_t TVolumen::Escribir(TFicheroVolumen& record, const void* data, uint32_t length) {
  if (!Validar(record) || (record.modo != 0 && record.modo != 2)) return -1;
  const auto* in = static_cast<const unsigned char*>(data);
  const uint32_t p = dat_.carga();
  TBloqueDAT block;
  if (!dat_.LeerCabecera(record.bloque, block)) return Fallo(Error::kDanado);
  uint32_t done = 0;
  while (done < length) {
    if (record.offset == p) {
      uint32_t nuevo = fat_.AsignarBloqueDespues(block.numero);
      if (nuevo == 0) return Fallo(Error::kLleno);
      TBloqueDAT next;
      next.nombre = block.nombre;
      next.tipo = kFichero;
      next.creado = Now();
      next.propietario = block.propietario;
      next.anterior = block.numero;
      if (!dat_.EscribirBloque(nuevo, next)) return Fallo(Error::kDanado);
      block.siguiente = nuevo;
      if (!dat_.EscribirBloque(block.numero, block)) return Fallo(Error::kDanado);
      block = next;
      record.bloque = nuevo;
      record.offset = 0;
    }
    uint32_t n = std::min(length - done, p - record.offset);
    if (!dat_.EscribirCarga(block.numero, record.offset, in + done, n))
      return Fallo(Error::kDanado);
    record.offset += n;
    done += n;
    block.usado = std::max(block.usado, record.offset);
    if (!dat_.EscribirBloque(block.numero, block)) return Fallo(Error::kDanado);
  }
  listados_.clear();
  cadenas_.clear();
  abiertos_[record.id] = record;
  return done;
}

int64_t TVolumen::LeerMiembro(uint32_t primer_bloque, const std::string& nombre,
                              const std::string& propietario, uint64_t offset, uint32_t length,
                              const TDestinoLectura& destino) {
  const std::vector<uint32_t>* chain = CadenaDe(primer_bloque);
  if (chain == nullptr) return Fallo(Error::kDanado);
  const uint32_t p = dat_.carga();
  const uint64_t index = offset / p;
  if (index >= chain->size()) return 0;  // the end of a file whose last block is full
  const int64_t got =
      dat_.LeerCadena(chain->data() + index, chain->size() - index,
                      static_cast<uint32_t>(offset % p), length, nombre, propietario, destino);
  if (got == -1) return Fallo(Error::kDanado);
  return got < 0 ? -1 : got;
}

void TVolumen::CerrarFichero(const TFicheroVolumen& record) {
  if (!Validar(record)) return;
  abiertos_.erase(record.id);
  for (auto it = rutas_abiertas_.begin(); it != rutas_abiertas_.end(); ++it) {
    if (it->second == record.id) {
      rutas_abiertas_.erase(it);
      break;
    }
  }
}
