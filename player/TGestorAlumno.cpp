#include "player/TGestorAlumno.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "ehdd/TEHDDClient.h"
#include "platform/Clock.h"
#include "player/IDocumentoParte.h"
#include "player/ILeccion.h"
#include "player/SesionAX.h"

namespace {

constexpr int kTraceAuditoria = 13;
constexpr uint32_t kPausaGuardadoMs = 1000;

const char* const kTextoIntegridad =
    "Error de integridad en la auditoria de la Unit.\nEs necesario que se ponga en contacto con "
    "Velarno antes de poder seguir estudiando.";
const char* const kTextoErrorAuditoria =
    "Error en la auditoría de la unidad, por favor póngase en contacto con Velarno.";
const char* const kTextoNoGuardada = "No se ha podido guardar la auditoria de la Unit.";

// Offsets inside a 410-byte exercise record.
constexpr size_t kResultado1 = 204;
constexpr size_t kResultado2 = 405;
constexpr size_t kEscuchas = 406;
constexpr size_t kGrabaciones = 407;
constexpr size_t kComparaciones = 408;

// count x 100 / total, never above 100 (counters restored on numbers that
// carry no tag can outnumber the tags).
uint8_t Porcentaje(int cuenta, int total) {
  return static_cast<uint8_t>(std::min(100, cuenta * 100 / total));
}

std::string RutaAuditoria(uint8_t unidad, const char* fichero) {
  return FormatoF("S:\\C%03u\\%s", static_cast<unsigned>(unidad), fichero);
}

// The records where the documents keep them; the caller holds the page
// lock (the documents' counters keep changing while the learner works).
void RegistrosDocumentos(SesionAX& sesion, RegistrosParte (&partes)[8]) {
  for (uint8_t i = 0; i < 8; ++i) {
    IDocumentoParte* documento = sesion.Unit().partes[i].formatae;
    if (documento == nullptr) continue;
    const AuditoriaDocumento a = documento->Auditoria();
    RegistrosParte& parte = partes[i];
    parte.n = a.sonido_mayor;
    if (parte.n > 0 && a.bufsontrat != nullptr) {
      parte.sonidos = a.bufsontrat;
      parte.bytes_sonidos = (size_t{parte.n} + 1) * AuditoriaUnit::kBytesSonido;
    }
    parte.m = a.ejercicio_mayor;
    if (parte.m > 0 && a.bufejetrat != nullptr) {
      parte.ejercicios = a.bufejetrat;
      parte.bytes_ejercicios = (size_t{parte.m} + 1) * AuditoriaUnit::kBytesEjercicio;
    }
  }
}

const uint8_t* RolPlay(SesionAX& sesion) {
  return sesion.leccion != nullptr ? sesion.leccion->LineasRolePlay() : nullptr;
}

}  // namespace

TGestorAlumno::TGestorAlumno(SesionAX& sesion) : sesion_(sesion) {}

TGestorAlumno::~TGestorAlumno() {
  OSAL::Trace(kTraceModulos, "Terminado TGestorAlumno.");
}

void TGestorAlumno::Iniciar() {
  cabecera_ = CabeceraAuditoria{};
  frames_.store(10);
}

CabeceraAuditoria TGestorAlumno::Cabecera() const {
  CabeceraAuditoria cabecera = cabecera_;
  cabecera.frames = frames_.load();
  return cabecera;
}

TGestorAlumno::Estadisticas TGestorAlumno::EstadisticasDocumento(const AuditoriaDocumento& a) {
  Estadisticas e;
  e.n = std::max<int>(0, a.sonidos);
  if (e.n > 0 && a.bufsontrat != nullptr && a.sonido_menor <= a.sonido_mayor) {
    int escuchados = 0, grabados = 0, comparados = 0;
    for (size_t i = a.sonido_menor; i <= a.sonido_mayor; ++i) {
      const uint8_t* registro = a.bufsontrat + i * AuditoriaUnit::kBytesSonido;
      escuchados += registro[1] != 0;
      grabados += registro[2] != 0;
      comparados += registro[3] != 0;
    }
    e.L = Porcentaje(escuchados, e.n);
    e.R = Porcentaje(grabados, e.n);
    e.C = Porcentaje(comparados, e.n);
  }
  e.m = std::max<int>(0, a.ejercicios);
  if (e.m > 0 && a.bufejetrat != nullptr && a.ejercicio_menor <= a.ejercicio_mayor) {
    int resueltos = 0, escuchados = 0, grabados = 0, comparados = 0;
    for (size_t i = a.ejercicio_menor; i <= a.ejercicio_mayor; ++i) {
      const uint8_t* registro = a.bufejetrat + i * AuditoriaUnit::kBytesEjercicio;
      resueltos += registro[kResultado1] == 2 || registro[kResultado2] == 2;
      escuchados += registro[kEscuchas] != 0;
      grabados += registro[kGrabaciones] != 0;
      comparados += registro[kComparaciones] != 0;
    }
    e.S = Porcentaje(resueltos, e.m);
    e.EL = Porcentaje(escuchados, e.m);
    e.ER = Porcentaje(grabados, e.m);
    e.EC = Porcentaje(comparados, e.m);
  }
  return e;
}

TGestorAlumno::Estadisticas TGestorAlumno::EstadisticasParte(uint8_t parte) {
  IDocumentoParte* documento = sesion_.Unit().partes[parte].formatae;
  if (documento == nullptr) return Estadisticas{};
  std::lock_guard<CriticalSection> lock(sesion_.cerrojo_pagina);
  return EstadisticasDocumento(documento->Auditoria());
}

void TGestorAlumno::ContadoresDocumento(uint8_t parte) {
  IDocumentoParte* documento = sesion_.Unit().partes[parte].formatae;
  if (documento == nullptr) return;
  std::lock_guard<CriticalSection> lock(sesion_.cerrojo_pagina);
  const AuditoriaDocumento auditoria = documento->Auditoria();
  if (auditoria.errores != nullptr) cabecera_.errores[parte] = *auditoria.errores;
  if (auditoria.respuestas != nullptr) cabecera_.respuestas[parte] = *auditoria.respuestas;
}

void TGestorAlumno::ActualizarSituation() {
  const uint32_t frames_animacion =
      sesion_.leccion != nullptr ? sesion_.leccion->FramesAnimacion() : 0;
  uint8_t progreso = 0;
  if (frames_animacion > 0) {
    const uint32_t vistas = frames_.load() / frames_animacion;
    progreso = vistas >= 3 ? 100 : static_cast<uint8_t>(vistas * 33);
  }
  cabecera_.progreso[0] = progreso;
  cabecera_.errores[0] = 0;
  cabecera_.respuestas[0] = 0;
  TrazarF(kTraceAuditoria, "Actualizada Auditoria SITUATION p:%u", progreso);
}

void TGestorAlumno::ActualizarStudy() {
  const Estadisticas e = EstadisticasParte(1);
  uint8_t progreso = 0;
  if (e.R > 50) {
    progreso = static_cast<uint8_t>(e.L / 2 + 50);
  } else if (e.L > 50) {
    progreso = static_cast<uint8_t>(e.R / 2 + 25);
  } else {
    progreso = static_cast<uint8_t>(e.R / 2 + e.L / 2);
  }
  cabecera_.progreso[1] = progreso;
  TrazarF(kTraceAuditoria, "Actualizada Auditoria STUDY p:%u", progreso);
}

void TGestorAlumno::ActualizarDictation() {
  const Estadisticas e = EstadisticasParte(2);
  cabecera_.progreso[2] = e.S;
  ContadoresDocumento(2);
  TrazarF(kTraceAuditoria, "Actualizada Auditoria DICTATION p:%u , e:%u , a:%u", e.S,
          cabecera_.errores[2], cabecera_.respuestas[2]);
}

void TGestorAlumno::ActualizarRoleplay() {
  ILeccion* leccion = sesion_.leccion;
  if (leccion != nullptr) {
    std::lock_guard<CriticalSection> lock(sesion_.cerrojo_pagina);
    const int lineas = std::min<int>(leccion->NumeroLineasRolePlay(), 60);
    const uint8_t* slots = leccion->LineasRolePlay();
    int grabadas = 0;
    for (int j = 0; slots != nullptr && j < lineas; ++j) grabadas += slots[j * 16 + 15] == 1;
    if (lineas > 0 && grabadas > 0) {
      cabecera_.progreso[3] = static_cast<uint8_t>(std::min(100, grabadas * 100 / lineas + 1));
    }
  }
  TrazarF(kTraceAuditoria, "Actualizada Auditoria ROLEPLAY p:%u", cabecera_.progreso[3]);
}

void TGestorAlumno::ActualizarGrammar() {
  const Estadisticas e = EstadisticasParte(4);
  const int n = e.n;
  // The three-thirds figure while sounds are left to listen to or record.
  // From 9 sounds on, up to 8 of them may be left; with 8 or fewer (where
  // that allowance would cover them all) every one is needed, so a part
  // left alone does not read 75. Without sounds there is none to wait for.
  const bool faltan = n > 8 ? (e.L * n / 100 < n - 8 || e.R * n / 100 < n - 8)
                            : (n > 0 && (e.L < 100 || e.R < 100));
  uint8_t progreso = 0;
  if (faltan) {
    const int suma = e.R / 3 + e.S / 3 + e.L / 3;
    progreso = static_cast<uint8_t>(suma >= 98 ? 100 : suma);
  } else {
    progreso = static_cast<uint8_t>(e.S / 4 + 75);
  }
  cabecera_.progreso[4] = progreso;
  ContadoresDocumento(4);
  TrazarF(kTraceAuditoria, "Actualizada Auditoria GRAMMAR p:%u , e:%u , a:%u", progreso,
          cabecera_.errores[4], cabecera_.respuestas[4]);
}

void TGestorAlumno::ActualizarWriting() {
  const Estadisticas e = EstadisticasParte(5);
  const uint8_t progreso = static_cast<uint8_t>(e.S < 100 ? e.S / 2 : 50 + e.ER / 2);
  cabecera_.progreso[5] = progreso;
  ContadoresDocumento(5);
  TrazarF(kTraceAuditoria, "Actualizada Auditoria WRITING p:%u , e:%u , a:%u", progreso,
          cabecera_.errores[5], cabecera_.respuestas[5]);
}

void TGestorAlumno::ActualizarNewwords() {
  const Estadisticas e = EstadisticasParte(6);
  uint8_t progreso = 0;
  if (e.R == 0) {
    progreso = 0;
  } else if (e.R <= 80) {
    progreso = static_cast<uint8_t>(e.R / 2 + 10);
  } else {
    progreso = static_cast<uint8_t>(2 * e.R - 100);
  }
  cabecera_.progreso[6] = progreso;
  TrazarF(kTraceAuditoria, "Actualizada Auditoria NEWWORDS p:%u", progreso);
}

void TGestorAlumno::ActualizarSpeaking() {
  const Estadisticas e = EstadisticasParte(7);
  cabecera_.progreso[7] = e.C;
  IDocumentoParte* documento = sesion_.Unit().partes[7].formatae;
  if (documento != nullptr) {
    std::lock_guard<CriticalSection> lock(sesion_.cerrojo_pagina);
    const AuditoriaDocumento auditoria = documento->Auditoria();
    if (auditoria.respuestas != nullptr) cabecera_.respuestas[7] = *auditoria.respuestas;
  }
  TrazarF(kTraceAuditoria, "Actualizada Auditoria SPEAKING p:%u , a:%u", e.C,
          cabecera_.respuestas[7]);
}

void TGestorAlumno::ActualizarParte(uint8_t parte) {
  switch (parte) {
    case 0:
      ActualizarSituation();
      break;
    case 1:
      ActualizarStudy();
      break;
    case 2:
      ActualizarDictation();
      break;
    case 3:
      ActualizarRoleplay();
      break;
    case 4:
      ActualizarGrammar();
      break;
    case 5:
      ActualizarWriting();
      break;
    case 6:
      ActualizarNewwords();
      break;
    case 7:
      ActualizarSpeaking();
      break;
    default:
      break;
  }
}

void TGestorAlumno::ActualizarAuditoriaUnit() {
  OSAL::Trace(kTraceAuditoria, "Actualizar Auditoria Unit");
  for (uint8_t parte = 0; parte < 8; ++parte) ActualizarParte(parte);
  if (ILeccion* leccion = sesion_.leccion) {
    const uint64_t total = uint64_t{leccion->TiempoAlmacenado()} + leccion->TiempoActivo();
    cabecera_.tiempo_estudio = static_cast<uint32_t>(std::min<uint64_t>(total, UINT32_MAX));
  }
}

AuditoriaUnit TGestorAlumno::Construir() {
  AuditoriaUnit auditoria;
  auditoria.cabecera = Cabecera();
  std::lock_guard<CriticalSection> lock(sesion_.cerrojo_pagina);
  RegistrosParte registros[8];
  RegistrosDocumentos(sesion_, registros);
  for (uint8_t i = 0; i < 8; ++i) {
    const RegistrosParte& r = registros[i];
    AuditoriaParte& parte = auditoria.partes[i];
    parte.n = r.n;
    if (r.sonidos != nullptr) parte.sonidos.assign(r.sonidos, r.sonidos + r.bytes_sonidos);
    parte.m = r.m;
    if (r.ejercicios != nullptr) {
      parte.ejercicios.assign(r.ejercicios, r.ejercicios + r.bytes_ejercicios);
    }
  }
  if (const uint8_t* slots = RolPlay(sesion_)) {
    std::memcpy(auditoria.rolplay, slots, AuditoriaUnit::kBytesRolPlay);
  }
  return auditoria;
}

std::string TGestorAlumno::Bytes() {
  const CabeceraAuditoria cabecera = Cabecera();
  std::string bytes;
  std::lock_guard<CriticalSection> lock(sesion_.cerrojo_pagina);
  RegistrosParte registros[8];
  RegistrosDocumentos(sesion_, registros);
  AuditoriaUnit::Escribir(cabecera, registros, RolPlay(sesion_), bytes);
  return bytes;
}

bool TGestorAlumno::Guardar(const char* path, const std::string& bytes) {
  const uint32_t inicio = sesion_.ElapsedTicks();
  OSAL::Trace(kTraceEstudio, "Start Auditoria to Server.");
  const bool guardada = sesion_.ehdd != nullptr && sesion_.ehdd->SaveFileAtomically(path, bytes);
  TrazarF(kTraceEstudio, "End Auditoria to Server in %u seg.",
          (sesion_.ElapsedTicks() - inicio) / 1000);
  platform::SleepMs(kPausaGuardadoMs);
  return guardada;
}

bool TGestorAlumno::GuardarAuditoria(const char* path) {
  if (sesion_.modo_navegacion.load() != 0) return true;
  if (AuditoriaRechazada()) return false;
  return Guardar(path, Bytes());
}

bool TGestorAlumno::GuardarAuditoriaUnidad(uint8_t unidad) {
  if (sesion_.modo_navegacion.load() != 0) return true;
  if (AuditoriaRechazada()) return false;
  const std::string bytes = Bytes();
  // The backup first: a cut between the two leaves a main file that is not
  // newer than its backup.
  const bool guardada = Guardar(RutaAuditoria(unidad, "AUDIT.BKP").c_str(), bytes) &&
                        Guardar(RutaAuditoria(unidad, "AUDIT.ALU").c_str(), bytes);
  if (!guardada) sesion_.MostrarError(kTextoNoGuardada);
  return guardada;
}

int16_t TGestorAlumno::CargarFichero(const char* path, AuditoriaUnit* auditoria) {
  TEHDDClient* ehdd = sesion_.ehdd;
  if (ehdd == nullptr) return kIlegible;
  TFicheroEHDD* fichero = ehdd->Abrir(path, 0);
  if (fichero == nullptr) {
    if (TEHDDClient::UltimoFalloApertura() != TEHDDClient::FalloApertura::kAusente)
      return kIlegible;
    OSAL::Trace(kTraceAuditoria,
                "No se ha podido abrir el fichero de auditoria del alumno, posiblemente entre por "
                "primera vez en la clase.");
    return kNoAbre;
  }
  uint32_t longitud = 0;
  uint32_t restante = 0;
  ehdd->Size(fichero, longitud, restante);
  std::string bytes;
  bool leido = false;
  if (longitud <= AuditoriaUnit::kMaxBytes) {
    try {
      bytes.resize(longitud);
      uint32_t total = 0;
      while (total < longitud) {
        const uint32_t got = ehdd->Leer(bytes.data() + total, 1, longitud - total, fichero);
        if (got == 0) break;
        total += got;
      }
      leido = total == longitud;
    } catch (...) {
      leido = false;  // the connection was lost while reading
    }
  }
  try {
    ehdd->Cerrar(fichero);
  } catch (...) {
  }
  if (longitud > AuditoriaUnit::kMaxBytes) {
    TrazarF(kTraceError, "Auditoria %s danada: larger than 64 MiB.", path);
    return kDanada;
  }
  if (!leido) return kIlegible;
  const LecturaAuditoria lectura = AuditoriaUnit::DesdeBytes(bytes, auditoria);
  if (lectura.estado == LecturaAuditoria::kVacia) return kVacia;
  if (lectura.estado == LecturaAuditoria::kDanada) {
    TrazarF(kTraceError, "Auditoria %s danada: %s (offset %zu).", path, lectura.motivo.c_str(),
            lectura.offset);
    return kDanada;
  }
  uint16_t n[8] = {};
  uint16_t m[8] = {};
  {
    std::lock_guard<CriticalSection> lock(sesion_.cerrojo_pagina);
    for (uint8_t i = 0; i < 8; ++i) {
      if (IDocumentoParte* documento = sesion_.Unit().partes[i].formatae) {
        const AuditoriaDocumento a = documento->Auditoria();
        n[i] = a.sonido_mayor;
        m[i] = a.ejercicio_mayor;
      }
    }
  }
  const DiferenciaCuentas diferencia = auditoria->CompararCuentas(n, m);
  if (diferencia.hay) {
    TrazarF(kTraceError, "Auditoria %s: parte %u %c %u, el documento %u.", path, diferencia.parte,
            diferencia.campo, diferencia.encontrado, diferencia.esperado);
    return kDiscrepancia;
  }
  return kLeida;
}

void TGestorAlumno::Aplicar(const AuditoriaUnit& auditoria) {
  cabecera_ = auditoria.cabecera;
  frames_.store(auditoria.cabecera.frames);
  std::lock_guard<CriticalSection> lock(sesion_.cerrojo_pagina);
  if (ILeccion* leccion = sesion_.leccion) {
    leccion->SetTiempoAlmacenado(auditoria.cabecera.tiempo_estudio);
    if (uint8_t* slots = leccion->LineasRolePlay()) {
      std::memcpy(slots, auditoria.rolplay, AuditoriaUnit::kBytesRolPlay);
    }
  }
  for (uint8_t i = 0; i < 8; ++i) {
    IDocumentoParte* documento = sesion_.Unit().partes[i].formatae;
    if (documento == nullptr) continue;
    // The counts were compared: the records fit the document's buffers.
    const AuditoriaDocumento a = documento->Auditoria();
    const AuditoriaParte& parte = auditoria.partes[i];
    if (parte.n > 0 && a.bufsontrat != nullptr) {
      std::memcpy(a.bufsontrat, parte.sonidos.data(), parte.sonidos.size());
    }
    if (parte.m > 0 && a.bufejetrat != nullptr) {
      std::memcpy(a.bufejetrat, parte.ejercicios.data(), parte.ejercicios.size());
    }
    if (a.errores != nullptr) *a.errores = auditoria.cabecera.errores[i];
    if (a.respuestas != nullptr) *a.respuestas = auditoria.cabecera.respuestas[i];
  }
}

int16_t TGestorAlumno::LeerAuditoria(const char* path) {
  AuditoriaUnit auditoria;
  const int16_t resultado = CargarFichero(path, &auditoria);
  if (resultado == kLeida) Aplicar(auditoria);
  return resultado;
}

TGestorAlumno::Origen TGestorAlumno::LeerAuditoriaUnidad(uint8_t unidad) {
  AuditoriaUnit principal;
  AuditoriaUnit copia;
  const int16_t a = CargarFichero(RutaAuditoria(unidad, "AUDIT.ALU").c_str(), &principal);
  const int16_t b = CargarFichero(RutaAuditoria(unidad, "AUDIT.BKP").c_str(), &copia);
  if (a == kIlegible || b == kIlegible) {
    // The files may be whole where they could not be reached: writing a
    // fresh audit over them at the stop would lose the learner's work.
    RechazarAuditoria();
    sesion_.MostrarError(kTextoErrorAuditoria);
    return Origen::kRechazada;
  }
  if (a == kLeida &&
      (b != kLeida || copia.cabecera.tiempo_estudio <= principal.cabecera.tiempo_estudio)) {
    Aplicar(principal);
    return Origen::kPrincipal;
  }
  if (b == kLeida) {
    Aplicar(copia);
    OSAL::Trace(kTraceError, "Fichero Auditoria corrupto y se ha utilizado el BACKUP.");
    return Origen::kCopia;
  }
  if (a == kNoAbre && b == kNoAbre) return Origen::kPrimeraVez;
  if (a == kDiscrepancia || b == kDiscrepancia) {
    RechazarAuditoria();
    sesion_.MostrarError(kTextoIntegridad);
    return Origen::kRechazada;
  }
  sesion_.MostrarError(kTextoErrorAuditoria);
  return Origen::kNueva;
}
