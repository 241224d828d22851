// Arbitrary bytes as a unit's AUDIT.ALU, read and applied as the unit loader
// does (the main file and its backup, then the figures worked out), over the
// eight documents of the sample unit as the reader lays them out, with their
// real sound and exercise counts. Then the unload's save.
//
// What must hold for any bytes:
// - the outcome is the one the file's bytes call for: a whole file whose
//   counts match is applied, one whose counts differ refuses the audit, an
//   empty or damaged one leaves a fresh audit;
// - an applied file writes back the same bytes (up to the role-play block);
// - a file that is not applied changes no document record;
// - every part's progress worked out stays within 0..100, whatever the
//   records hold;
// - a refused audit writes nothing over the file; any other is saved to both
//   files alike, and the saved file reads back as the main file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "base/OSAL.h"
#include "base/TGestorGDI.h"
#include "ehdd/TEHDDClient.h"
#include "platform/Clock.h"
#include "platform/FileIo.h"
#include "platform/MessageBox.h"
#include "platform/gfx/Font.h"
#include "platform/ui/Headless.h"
#include "player/AuditoriaUnit.h"
#include "player/DocumentoParteFormatae.h"
#include "player/LeccionGestorTAE.h"
#include "player/SesionAX.h"
#include "player/TFormatae.h"
#include "player/TGestorAlumno.h"
#include "player/TGestorTAE.h"
#include "player/ThreadCargaUnit.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxInput = size_t{1} << 20;
constexpr uint8_t kUnidad = 1;
const char* const kUnidadFuente = LECTORIA_SOURCE_DIR "/course/unit001";

// Stops the run with the broken rule named.
void Exigir(bool cumplida, const char* regla) {
  if (cumplida) return;
  std::fprintf(stderr, "audit harness: %s\n", regla);
  std::abort();
}

std::string LeerFichero(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// What a document holds after its load, to be put back before each input.
struct Registros {
  std::vector<uint8_t> sonidos;
  std::vector<uint8_t> ejercicios;
  uint16_t respuestas = 0;
  uint16_t errores = 0;
};

Registros Tomar(IDocumentoParte& documento) {
  const AuditoriaDocumento a = documento.Auditoria();
  Registros r;
  if (a.bufsontrat != nullptr) {
    r.sonidos.assign(a.bufsontrat,
                     a.bufsontrat + (size_t{a.sonido_mayor} + 1) * AuditoriaUnit::kBytesSonido);
  }
  if (a.bufejetrat != nullptr) {
    r.ejercicios.assign(a.bufejetrat, a.bufejetrat + (size_t{a.ejercicio_mayor} + 1) *
                                                         AuditoriaUnit::kBytesEjercicio);
  }
  if (a.respuestas != nullptr) r.respuestas = *a.respuestas;
  if (a.errores != nullptr) r.errores = *a.errores;
  return r;
}

void Restaurar(IDocumentoParte& documento, const Registros& r) {
  const AuditoriaDocumento a = documento.Auditoria();
  if (a.bufsontrat != nullptr) std::memcpy(a.bufsontrat, r.sonidos.data(), r.sonidos.size());
  if (a.bufejetrat != nullptr) std::memcpy(a.bufejetrat, r.ejercicios.data(), r.ejercicios.size());
  if (a.respuestas != nullptr) *a.respuestas = r.respuestas;
  if (a.errores != nullptr) *a.errores = r.errores;
}

bool Iguales(const Registros& x, const Registros& y) {
  return x.sonidos == y.sonidos && x.ejercicios == y.ejercicios && x.respuestas == y.respuestas &&
         x.errores == y.errores;
}

struct Harness {
  Harness() : scoped_clock(&clock), ventana(687, 534) {
    char pattern[] = "/tmp/lectoria-fuzz-audit-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    raiz = pattern;
    carpeta_unidad = raiz + "/C001";
    fs::create_directories(carpeta_unidad);
    platform::SetMessageSink([](const std::string&, const std::string&, unsigned) { return 1; });
    auto fuentes = std::make_shared<platform::gfx::FakeFontBackend>(8, 12, 3);
    platform::gfx::SetFontBackend(fuentes);

    // The unit's documents and role-play file straight from the course
    // sources, the student's store in a temporary folder.
    client.Mount(kUnidadFuente, 'U');
    client.AddLocalLetter('U', "");
    client.Mount(raiz.c_str(), 'S');
    client.AddLocalLetter('S', "");
    gdi.SetOSAL(&osal);
    slot = gdi.CrearBuffer(687, 534, 0, 0, &ventana);
    sesion.osal = &osal;
    sesion.gdi = &gdi;
    sesion.ehdd = &client;
    sesion.unidad.store(kUnidad);

    tae.SetOSAL(&osal);
    tae.SetGestorGDI(&gdi);
    tae.SetEHDDClient(&client);
    tae.SetCerrojoPagina(&sesion.cerrojo_pagina);
    tae.Iniciar();
    leccion = std::make_unique<LeccionGestorTAE>(&tae);
    sesion.leccion = leccion.get();
    leccion->LeerRolePlay("U:\\CLA001.RLP");

    int registros = 0;
    for (uint8_t parte = 0; parte < kNumPartes; ++parte) {
      formatae[parte].reset(
          TFormatae::Crear(&tae, 0, 0, 664, 534, 687, 534, 0, 0, 0xFFFFFF, 0xBFDFDF));
      if (!formatae[parte]) std::abort();
      formatae[parte]->SetSlotPagina(static_cast<int16_t>(slot));
      documentos[parte] = std::make_unique<DocumentoParteFormatae>(formatae[parte].get());
      char nombre[32];
      std::snprintf(nombre, sizeof nombre, ThreadCargaUnit::kDocumentos[parte], kUnidad);
      documentos[parte]->Cargar((std::string("U:\\") + nombre).c_str());
      documentos[parte]->Preparar(ThreadCargaUnit::kColorTratado, 0, "U:\\", "S:\\C001\\");
      sesion.Unit().partes[parte].formatae = documentos[parte].get();
      const AuditoriaDocumento a = documentos[parte]->Auditoria();
      registros += a.sonido_mayor + a.ejercicio_mayor;
      iniciales[parte] = Tomar(*documentos[parte]);
    }
    // Without records the harness would reach none of the record paths.
    if (registros == 0) std::abort();
    if (leccion->LineasRolePlay() == nullptr) std::abort();
    lineas_iniciales.assign(leccion->LineasRolePlay(),
                            leccion->LineasRolePlay() + ILeccion::kBytesLineasRolePlay);
  }
  ~Harness() {
    std::error_code error;
    fs::remove_all(raiz, error);
  }

  void Restablecer() {
    for (uint8_t parte = 0; parte < kNumPartes; ++parte) {
      Restaurar(*documentos[parte], iniciales[parte]);
    }
    std::memcpy(leccion->LineasRolePlay(), lineas_iniciales.data(), lineas_iniciales.size());
    leccion->SetTiempoAlmacenado(0);
  }
  bool SinCambios() {
    for (uint8_t parte = 0; parte < kNumPartes; ++parte) {
      if (!Iguales(Tomar(*documentos[parte]), iniciales[parte])) return false;
    }
    return std::memcmp(leccion->LineasRolePlay(), lineas_iniciales.data(),
                       lineas_iniciales.size()) == 0 &&
           leccion->TiempoAlmacenado() == 0;
  }
  // The documents' highest sound and exercise numbers.
  void Cuentas(uint16_t n[8], uint16_t m[8]) {
    for (uint8_t parte = 0; parte < kNumPartes; ++parte) {
      const AuditoriaDocumento a = documentos[parte]->Auditoria();
      n[parte] = a.sonido_mayor;
      m[parte] = a.ejercicio_mayor;
    }
  }

  platform::ManualClock clock;
  platform::ScopedClock scoped_clock;
  std::string raiz;
  std::string carpeta_unidad;
  OSAL osal;
  TEHDDClient client;
  platform::ui::HeadlessControlSite ventana;
  TGestorGDI gdi;
  uint16_t slot = 0;
  SesionAX sesion;
  TGestorTAE tae;
  std::unique_ptr<LeccionGestorTAE> leccion;
  std::unique_ptr<TFormatae> formatae[kNumPartes];
  std::unique_ptr<DocumentoParteFormatae> documentos[kNumPartes];
  Registros iniciales[kNumPartes];
  std::vector<uint8_t> lineas_iniciales;
};

using Origen = TGestorAlumno::Origen;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  static Harness harness;
  // Flushes to disk only slow the runs down here.
  static const platform::FileOps quick_ops = [] {
    platform::FileOps ops = platform::SystemFileOps();
    ops.fsync = [](int) { return 0; };
    ops.fsync_folder = [](const std::string&) { return 0; };
    return ops;
  }();
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const fs::path principal = fs::path(harness.carpeta_unidad) / "AUDIT.ALU";
  const fs::path copia = fs::path(harness.carpeta_unidad) / "AUDIT.BKP";
  std::error_code error;
  fs::remove(copia, error);
  {
    std::ofstream out(principal, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) std::abort();
  }
  harness.Restablecer();
  platform::SetFileOpsForTesting(&quick_ops);

  // The outcome the bytes call for.
  AuditoriaUnit esperada;
  const LecturaAuditoria lectura = AuditoriaUnit::DesdeBytes(bytes, &esperada);
  uint16_t n[8];
  uint16_t m[8];
  harness.Cuentas(n, m);
  Origen origen_esperado = Origen::kNueva;
  if (lectura.estado == LecturaAuditoria::kEntera) {
    origen_esperado = esperada.CompararCuentas(n, m).hay ? Origen::kRechazada : Origen::kPrincipal;
  }

  auto alumno = std::make_unique<TGestorAlumno>(harness.sesion);
  harness.sesion.alumno = alumno.get();
  alumno->Iniciar();
  const Origen origen = alumno->LeerAuditoriaUnidad(kUnidad);
  Exigir(origen == origen_esperado, "the outcome is not the one the bytes call for");
  Exigir(alumno->AuditoriaRechazada() == (origen == Origen::kRechazada),
         "the audit is refused without a refusing outcome, or the other way round");
  if (origen == Origen::kPrincipal) {
    const std::string escritos = alumno->Construir().ABytes();
    Exigir(escritos.size() <= bytes.size() && bytes.compare(0, escritos.size(), escritos) == 0,
           "an applied file does not write back as read");
  } else {
    Exigir(harness.SinCambios(), "a file that was not applied changed the records");
  }

  alumno->ActualizarAuditoriaUnit();
  for (uint8_t parte = 0; parte < kNumPartes; ++parte) {
    // The role-play figure with no line recorded keeps the value read (its
    // readers clamp it); every figure worked out stays within 0..100.
    const bool leido = parte == 3 && origen == Origen::kPrincipal &&
                       alumno->Progreso(parte) == esperada.cabecera.progreso[parte];
    Exigir(alumno->Progreso(parte) <= 100 || leido, "a part's progress is over 100");
  }

  const bool guardada = alumno->GuardarAuditoriaUnidad(kUnidad);
  if (origen == Origen::kRechazada) {
    Exigir(!guardada && !fs::exists(copia) && LeerFichero(principal) == bytes,
           "a refused audit was written");
  } else {
    const std::string guardados = LeerFichero(principal);
    Exigir(guardada && LeerFichero(copia) == guardados,
           "the save did not write the same bytes to both files");
    AuditoriaUnit releida;
    Exigir(AuditoriaUnit::DesdeBytes(guardados, &releida).estado == LecturaAuditoria::kEntera &&
               !releida.CompararCuentas(n, m).hay,
           "the saved file is not whole or its counts differ");
    auto siguiente = std::make_unique<TGestorAlumno>(harness.sesion);
    harness.sesion.alumno = siguiente.get();
    siguiente->Iniciar();
    Exigir(siguiente->LeerAuditoriaUnidad(kUnidad) == Origen::kPrincipal,
           "the saved file does not read back as the main file");
    Exigir(siguiente->Construir().ABytes() == guardados, "the saved file reads back otherwise");
  }
  harness.sesion.alumno = nullptr;
  platform::SetFileOpsForTesting(nullptr);
  return 0;
}
