#include "player/ServerEHDD.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/Checksums.h"
#include "ehdd/TEHDDCache.h"
#include "ehdd/TEHDDClient.h"
#include "platform/FileIo.h"
#include "platform/TempFolder.h"
#include "player/AuditoriaUnit.h"
#include "player/InterfaceAXSesion.h"
#include "player/TGestorAlumno.h"
#include "player/ThreadCargaUnit.h"

static_assert(kBytesAuditoriaMinima ==
                  AuditoriaUnit::kBytesMagia + AuditoriaUnit::kBytesCabecera +
                      8 * (AuditoriaUnit::kBytesEtiquetaParte + 2 * AuditoriaUnit::kBytesEtiqueta +
                           2 * sizeof(uint16_t)) +
                      AuditoriaUnit::kBytesEtiqueta + AuditoriaUnit::kBytesRolPlay,
              "the smallest audit file");

namespace {

constexpr uint32_t kTrozo = 16384;

// A file of the session's copy; "" before the session named it.
std::string Fichero(const char* extension) {
  const std::string& nombre = Motor().canal.nombre_copia;
  const std::string carpeta = CarpetaCache();
  if (nombre.empty() || carpeta.empty()) return std::string();
  return carpeta + nombre + extension;
}

// A whole local file, at most `limite` bytes; false when it cannot be read
// or is larger.
bool LeerLocal(const std::string& path, size_t limite, std::string& bytes) {
  return !path.empty() &&
         platform::ReadWholeFile(path, limite, bytes) == platform::ReadStatus::kRead;
}

bool Existe(const std::string& path) {
  return !path.empty() && platform::IsRegularFile(path);
}

// Removes a file; one that is not there counts as removed.
bool Borrar(const std::string& path) {
  if (path.empty()) return true;
  return platform::CurrentFileOps().unlink(path) == 0 || errno == ENOENT;
}

// The lock of the student store this process holds.
platform::FileLock& CerrojoAlumno() {
  static platform::FileLock* cerrojo = new platform::FileLock();
  return *cerrojo;
}

std::string Minusculas(std::string texto) {
  for (char& c : texto) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return texto;
}

// The student name as a relative local path ('\' written as '/').
std::string AlumnoLocal() {
  std::string ruta = Motor().sesion.nombre_alumno;
  for (char& c : ruta) {
    if (c == '\\') c = '/';
  }
  return ruta;
}

std::string RutaStore(uint8_t unidad, bool copia) {
  return FormatoF("S:\\C%03u\\%s", unidad, copia ? "AUDIT.BKP" : "AUDIT.ALU");
}

bool TerminaEn(const std::string& nombre, const char* extension) {
  const size_t n = std::strlen(extension);
  if (nombre.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    const char a = nombre[nombre.size() - n + i];
    const char b = extension[i];
    if ((a >= 'a' && a <= 'z' ? a - 32 : a) != b) return false;
  }
  return true;
}

}  // namespace

std::string CarpetaCache() {
  const std::string temp = platform::TempFolder();
  return temp.empty() ? std::string() : temp + "eHDD/";
}

std::string RutaCachePropiedad() {
  const std::string temp = platform::TempFolder();
  return temp + "eHDD";
}

void InterfaceAXServerEHDD(const std::string& ip, const std::string& ip_utf8, int32_t portc,
                           int32_t portd) {
  MotorAX& motor = Motor();
  CanalServerEHDD& canal = motor.canal;
  const uint16_t codigo = static_cast<uint16_t>(portd);
  const uint16_t puerto = static_cast<uint16_t>(portc);
  TrazarF(kTraceInterfaz, "InterfaceAXServerEHDD %u.", codigo);
  // A host longer than its field is not kept.
  auto servidor = [&]() -> std::string {
    if (ip.size() <= CanalServerEHDD::kMaxServidor) return ip;
    OSAL::Trace(kTraceError, "ServerEHDD: el servidor no cabe en su campo.");
    return std::string();
  };
  switch (codigo) {
    case 1024: {
      SesionAX& sesion = motor.sesion;
      std::lock_guard<CriticalSection> lock(sesion.cerrojo_auditoria);
      // Only the audit of a unit whose stored audit has been read: a copy of
      // one not read yet (a load still running, a session after a restart)
      // would replace the learner's audit at the next start.
      ThreadCargaUnit* carga = sesion.carga_unit;
      if (sesion.Unit().activa.load() == 0 || sesion.alumno == nullptr || carga == nullptr ||
          !carga->AuditoriaCargada()) {
        OSAL::Trace(kTraceError, "ServerEHDD 1024 sin auditoria leida: no se copia.");
        break;
      }
      sesion.alumno->ActualizarAuditoriaUnit();
      GuardarCopiaLocalAuditoria();
      break;
    }
    case 2323:
      break;
    case 3232:
      canal.raiz_local = ip_utf8;
      canal.modo_local = puerto != 0 ? 1 : 0;
      break;
    case 4242:
      motor.sesion.solo_stores.store(puerto != 0 ? 1 : 0);
      break;
    case 5252:
      VaciarCarpetaCache();
      break;
    case 6002:
      canal.sin_guardar_auditoria = 1;
      canal.servidor = servidor();
      canal.puerto = puerto;
      break;
    case 6003:
      canal.etiqueta = ip.empty() ? std::string() : "[T" + ip;
      break;
    default:
      canal.sin_guardar_auditoria = 0;
      canal.nombre_cache = CacheName(motor.sesion.nombre_alumno.c_str());
      canal.servidor = servidor();
      canal.puerto = puerto;
      break;
  }
}

void VaciarCarpetaCache() {
  const std::string carpeta = CarpetaCache();
  if (carpeta.empty()) return;
  std::string slots;
  if (Motor().cache_iniciada) {
    TEHDDCache* cache = TEHDDCache::Instance();
    if (cache->persistente()) slots = cache->slots().path();
  }
  const platform::FileOps& ops = platform::CurrentFileOps();
  for (const std::string& nombre : platform::RegularFilesIn(carpeta)) {
    // A session's lock file stays: removed, the next session would lock a
    // new file beside the one still held.
    if (TerminaEn(nombre, ".QOL") || TerminaEn(nombre, ".QOR") || TerminaEn(nombre, ".LCK"))
      continue;
    const std::string path = carpeta + nombre;
    if (!slots.empty() && path == slots) continue;
    ops.unlink(path);
  }
}

void NombrarCopiaLocal() {
  MotorAX& motor = Motor();
  CanalServerEHDD& canal = motor.canal;
  std::string ubicacion;
  if (canal.modo_local) {
    const std::string real = platform::RealPath(canal.raiz_local);
    ubicacion = "local:" + (real.empty() ? canal.raiz_local : real);
  } else {
    ubicacion = "server:" + Minusculas(canal.servidor);
  }
  canal.nombre_copia =
      CacheName(motor.sesion.nombre_alumno.c_str()) + "_" + CacheName(ubicacion.c_str());
}

std::string RutaCerrojoAlumno() {
  const CanalServerEHDD& canal = Motor().canal;
  if (canal.nombre_copia.empty()) return std::string();
  if (!canal.modo_local) return Fichero(".LCK");
  const std::string raiz = platform::RealPath(canal.raiz_local);
  if (raiz.empty()) return std::string();
  return raiz + (raiz.back() == '/' ? "" : "/") + AlumnoLocal() + "/work.lck";
}

SesionAlumno TomarSesionAlumno() {
  MotorAX& motor = Motor();
  NombrarCopiaLocal();
  platform::FileLock& cerrojo = CerrojoAlumno();
  const std::string ruta = RutaCerrojoAlumno();
  if (cerrojo.held() && cerrojo.path() == ruta) return SesionAlumno::kTomada;
  cerrojo.Release();
  // The folder the lock file lives in.
  bool carpeta = false;
  if (!ruta.empty()) {
    if (motor.canal.modo_local) {
      carpeta = platform::MakeFoldersUnder(platform::RealPath(motor.canal.raiz_local),
                                           AlumnoLocal());
    } else {
      const std::string cache = CarpetaCache();
      carpeta = platform::PrivateFolder(cache.substr(0, cache.size() - 1));
    }
  }
  const platform::FileLock::Result r =
      carpeta ? cerrojo.Take(ruta) : platform::FileLock::Result::kFailed;
  switch (r) {
    case platform::FileLock::Result::kTaken:
      return SesionAlumno::kTomada;
    case platform::FileLock::Result::kBusy:
      TrazarF(kTraceError, "Sesion ya abierta sobre %s.", ruta.c_str());
      return SesionAlumno::kOcupada;
    case platform::FileLock::Result::kFailed:
      break;
  }
  TrazarF(kTraceError, "Sin cerrojo de sesion (%s): la sesion sigue sin el.", ruta.c_str());
  return SesionAlumno::kSinCerrojo;
}

void SoltarSesionAlumno() {
  CerrojoAlumno().Release();
}

bool GuardarCopiaLocalAuditoria() {
  MotorAX& motor = Motor();
  SesionAX& sesion = motor.sesion;
  if (motor.canal.sin_guardar_auditoria) return false;
  TGestorAlumno* alumno = sesion.alumno;
  if (alumno == nullptr || sesion.unidad.load() == 0) return false;
  if (sesion.modo_navegacion.load() != 0) return true;
  if (alumno->AuditoriaRechazada()) return false;
  const std::string carpeta = CarpetaCache();
  if (carpeta.empty() || !platform::PrivateFolder(carpeta.substr(0, carpeta.size() - 1)))
    return false;
  const std::string qol = Fichero(".QOL");
  const std::string qor = Fichero(".QOR");
  if (qol.empty()) return false;
  // The old unit number goes first: from here on a cut leaves no pending
  // copy until both new files are whole.
  if (!Borrar(qol)) return false;
  if (!platform::WriteFileAtomically(qor, alumno->Bytes(), 0600)) {
    OSAL::Trace(kTraceError, "No se ha podido escribir la copia local de la auditoria.");
    return false;
  }
  std::string numero = std::to_string(sesion.unidad.load());
  numero.push_back('\0');
  if (!platform::WriteFileAtomically(qol, numero, 0600)) {
    OSAL::Trace(kTraceError, "No se ha podido escribir la copia local de la auditoria.");
    return false;
  }
  return true;
}

bool HayCopiaLocalAuditoria(uint8_t& unidad) {
  unidad = 0;
  MotorAX& motor = Motor();
  const std::string qol = Fichero(".QOL");
  if (motor.canal.sin_guardar_auditoria || qol.empty()) return false;
  std::string bytes;
  if (platform::ReadFileStart(qol, 32, bytes) != platform::ReadStatus::kRead) return false;
  const long valor = std::strtol(bytes.c_str(), nullptr, 10);
  if (valor <= 0 || valor > 255) return false;
  if (!Existe(Fichero(".QOR"))) return false;
  unidad = static_cast<uint8_t>(valor);
  return true;
}

bool DescargarAuditoria(uint8_t unidad, bool copia, std::string& bytes) {
  bytes.clear();
  TEHDDClient* ehdd = Motor().sesion.ehdd;
  if (ehdd == nullptr) return false;
  TFicheroEHDD* fichero = ehdd->Abrir(RutaStore(unidad, copia).c_str(), 0);
  if (fichero == nullptr) return false;
  bool entero = true;
  try {
    uint32_t longitud = 0, resto = 0;
    ehdd->Size(fichero, longitud, resto);
    if (longitud > AuditoriaUnit::kMaxBytes) {
      entero = false;
    } else {
      std::vector<char> trozo(kTrozo);
      while (bytes.size() < longitud) {
        const uint32_t pedir =
            std::min<uint32_t>(kTrozo, longitud - static_cast<uint32_t>(bytes.size()));
        const uint32_t leidos = ehdd->Leer(trozo.data(), 1, pedir, fichero);
        if (leidos == 0) {
          entero = false;
          break;
        }
        bytes.append(trozo.data(), std::min(leidos, pedir));
      }
    }
  } catch (const std::string& texto) {
    TrazarF(kTraceError, "DescargarAuditoria: %s", texto.c_str());
    entero = false;
  }
  try {
    ehdd->Cerrar(fichero);
  } catch (const std::string&) {
  }
  if (!entero) bytes.clear();
  return entero;
}

bool SubirCopiaLocalAuditoria(uint8_t unidad, bool copia) {
  TEHDDClient* ehdd = Motor().sesion.ehdd;
  if (ehdd == nullptr) return false;
  // The copy is read whole before the store file is touched.
  const std::string qor = Fichero(".QOR");
  std::string bytes;
  if (!LeerLocal(qor, AuditoriaUnit::kMaxBytes, bytes)) return false;
  if (bytes.size() < kBytesAuditoriaMinima ||
      bytes.compare(0, AuditoriaUnit::kBytesMagia, AuditoriaUnit::kMagia) != 0) {
    OSAL::Trace(kTraceError, "La copia local de la auditoria no es una auditoria: se aparta.");
    platform::CurrentFileOps().rename(qor, Fichero(".BAD"));
    Borrar(Fichero(".QOL"));
    return false;
  }
  try {
    return ehdd->SaveFileAtomically(RutaStore(unidad, copia).c_str(), bytes);
  } catch (const std::string& texto) {
    TrazarF(kTraceError, "SubirCopiaLocalAuditoria: %s", texto.c_str());
    return false;
  }
}

bool CompararCopiaLocal(const std::string& descargada) {
  std::string copia;
  if (!LeerLocal(Fichero(".QOR"), AuditoriaUnit::kMaxBytes, copia)) return false;
  return copia == descargada;
}

bool BorrarCopiasLocales() {
  if (!Borrar(Fichero(".QOL"))) return false;
  Borrar(Fichero(".QOR"));
  return true;
}

bool SincronizarCopiaLocalAuditoria() {
  uint8_t unidad = 0;
  if (!HayCopiaLocalAuditoria(unidad)) return false;
  TrazarF(kTraceEstudio, "Copia local de la auditoria de la unit %03u pendiente.", unidad);
  for (int intento = 0; intento < 2; ++intento) {
    // Only the main file counts: it is the one the next load reads.
    std::string descargada;
    if (DescargarAuditoria(unidad, false, descargada) && CompararCopiaLocal(descargada)) {
      // The store holds the copy; a copy that could not be cleared is
      // checked again at the next start.
      BorrarCopiasLocales();
      return true;
    }
    if (!SubirCopiaLocalAuditoria(unidad, false) && !Existe(Fichero(".QOR"))) break;
  }
  return false;
}
