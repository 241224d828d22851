// The unit load from end to end on the fixture unit (local volumes, a plain
// student folder, audits made by lectoria-audit): mounts, folders, cover,
// loading screen, the loader's sequence, the first page and the page turns;
// and the load's ways out: stores only, unit 0, an animation that never
// loads or loads late, a connection lost half way.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "base/OSAL.h"
#include "base/TGestorBMP.h"
#include "platform/Clock.h"
#include "platform/ui/Headless.h"
#include "player/InterfaceAXNavegacion.h"
#include "player/TGestorAlumno.h"
#include "player/ThreadCargaUnit.h"
#include "player/ThreadEvents.h"
#include "player/ThreadPeriodicEvents.h"
#include "tests/player/session_fixture.h"

namespace fs = std::filesystem;

namespace {

// A study session as the control's start leaves it, over the fixture unit
// or over fake documents that read nothing.
class CargaUnidad : public testing::Test {
 protected:
  CargaUnidad() : scoped_(&clock_), site_(687, 534) {}

  void Montar(bool con_ficheros) {
    osal_.IniciarTicks();
    gdi_.SetOSAL(&osal_);
    SesionAX& s = sesion_.sesion;
    s.osal = &osal_;
    s.gdi = &gdi_;
    s.Unit().ventana = &site_;
    s.Unit().superficie_pagina = gdi_.CrearBuffer(687, 534, 0, 0, &site_);
    if (con_ficheros) {
      ASSERT_TRUE(unidad_.Construir());
      ASSERT_TRUE(unidad_.Auditorias());
      unidad_.Preparar(cliente_, s);
    } else {
      cliente_.SetLocalRoot(unidad_.raiz());
      for (char letra : std::string("XMUYGS")) cliente_.AddLocalLetter(letra, "");
      s.ehdd = &cliente_;
      s.nombre_alumno = "userdata";
      s.Unit().nombre_units = "data\\unit025.dat";  // not there: empty documents
      s.Unit().nombre_multimedia = "data\\mcd03.dat";
      fs::create_directories(unidad_.raiz() + "userdata/work");
    }
    bmp_ = std::make_unique<TGestorBMP>(&osal_, &gdi_, &cliente_);
    sesion_.leccion.bmp = bmp_.get();
    s.periodicos = &periodicos_;
    s.carga_unit = &carga_;
    s.alumno = &alumno_;
    s.eventos = &eventos_;
    alumno_.Iniciar();
    ASSERT_TRUE(periodicos_.Crear());
    periodicos_.DespertarThread();
    ASSERT_TRUE(periodicos_.EsperarThreadArrancado());
    ASSERT_TRUE(carga_.Crear());
    ASSERT_TRUE(eventos_.Crear());
    eventos_.record().DespertarThread();
  }
  ~CargaUnidad() override {
    eventos_.Terminar();
    periodicos_.Terminar();
    carga_.Terminar();
  }
  void Cargar(uint8_t unidad) {
    ASSERT_TRUE(eventos_.Post(ThreadEvents::kEventoCargarUnit, unidad, kModoUnit));
    ASSERT_TRUE(InterfaceAXEsperaFinEvento(sesion_.sesion, 60000));
  }
  void Mover(uint8_t comando, uint32_t valor = 0) {
    ASSERT_TRUE(eventos_.Post(comando, valor, kModoUnit));
    ASSERT_TRUE(eventos_.EsperarFin(60000));
  }
  bool Contiene(const std::string& linea) {
    for (const auto& l : sesion_.leccion.Log()) {
      if (l == linea) return true;
    }
    return false;
  }

  platform::ManualClock clock_;
  platform::ScopedClock scoped_;
  fakes::Cajas cajas_;
  UnidadFixture unidad_;
  OSAL osal_;
  TGestorGDI gdi_;
  platform::ui::HeadlessControlSite site_;
  TEHDDClient cliente_;
  SesionFalsa sesion_{{3, 5, 2, 4, 1, 6, 2, 3}, &cliente_};
  std::unique_ptr<TGestorBMP> bmp_;
  ThreadPeriodicEvents periodicos_{sesion_.sesion};
  ThreadCargaUnit carga_{sesion_.sesion};
  TGestorAlumno alumno_{sesion_.sesion};
  ThreadEvents eventos_{sesion_.sesion};
};

TEST_F(CargaUnidad, TheFixtureUnitLoadsBehindItsLoadingScreenAndItsPagesTurn) {
  Montar(true);
  Cargar(UnidadFixture::kUnidad);
  SesionAX& s = sesion_.sesion;
  InstanciaAX& unit = s.Unit();
  EXPECT_EQ(unit.activa.load(), 1);
  EXPECT_EQ(s.axstatus.load(), 4);
  EXPECT_EQ(s.nivel.load(), 1);
  EXPECT_EQ(unit.total.load(), 26);
  EXPECT_EQ(unit.pagina.load(), 1);
  EXPECT_TRUE(carga_.Hecho());
  EXPECT_TRUE(carga_.AuditoriaCargada());
  EXPECT_FALSE(periodicos_.PeticionProgreso());
  EXPECT_EQ(periodicos_.PosicionBarra(), 687);
  EXPECT_EQ(periodicos_.Progreso().load(), 100);
  static const char* const kSufijos[8] = {"SI", "ST", "DI", "RO", "GR", "WR", "VO", "PR"};
  for (int i = 0; i < 8; ++i) {
    fakes::Documento& d = sesion_.documento(i);
    EXPECT_EQ(d.Path(), std::string("U:\\CLA007") + kSufijos[i] + ".TAE");
    EXPECT_EQ(d.Paginas(), UnidadFixture::kPaginas[i]) << "read from the unit's volume";
    EXPECT_EQ(d.Auditoria().sonido_mayor, UnidadFixture::kSonidos[i]);
    EXPECT_EQ(d.CarpetaAlumno(), "S:\\C007\\");
    EXPECT_EQ(d.CarpetaPrivada(), "U:\\");
    EXPECT_EQ(d.ColorNivel(), 0x00CCFFu);
    EXPECT_EQ(d.ColorTratado(), 0xBFDFDFu);
  }
  EXPECT_TRUE(fs::is_directory(unidad_.raiz() + "userdata/work/C007"));
  EXPECT_TRUE(fs::is_directory(unidad_.raiz() + "userdata/work/MC"));
  const std::vector<std::string> log = sesion_.leccion.Log();
  const std::vector<std::string> esperado = {"roleplay U:\\CLA007.RLP", "anim U:\\ANIM",
                                             "esperar anim", "diccionarios U:\\ANIM",
                                             "formateador"};
  EXPECT_EQ(log, esperado);
  EXPECT_EQ(sesion_.documento(0).Log(), (std::vector<std::string>{"saltar 0", "repintar"}));
  // The audit made by the tool matched the documents: read, no box.
  EXPECT_FALSE(alumno_.AuditoriaRechazada());
  EXPECT_TRUE(cajas_.Textos().empty());
  // The loading screen presented the cover from the periodic thread.
  EXPECT_FALSE(site_.PresentLog().empty());
  EXPECT_EQ(site_.FrontImage().GetPixel(300, 300), 0x3366CCu);  // the cover, PORT007A

  for (int pagina = 2; pagina <= 26; ++pagina) {
    Mover(ThreadEvents::kEventoPaginaSiguiente);
    ASSERT_EQ(unit.pagina.load(), pagina);
  }
  EXPECT_EQ(unit.parte.load(), 7);
  EXPECT_EQ(sesion_.documento(7).Actual(), 2);
  Mover(ThreadEvents::kEventoCambiarParte, 3);
  EXPECT_EQ(unit.pagina.load(), 11);
  Mover(ThreadEvents::kEventoPaginaAnterior);
  EXPECT_EQ(unit.pagina.load(), 10);
  EXPECT_EQ(unit.parte.load(), 2);
}

TEST_F(CargaUnidad, StoresOnlyMountsAndMakesTheFoldersOnTheCallersThread) {
  Montar(true);
  SesionAX& s = sesion_.sesion;
  s.solo_stores = 1;
  InterfaceAXCargarUnit(s, UnidadFixture::kUnidad);
  EXPECT_EQ(s.Unit().activa.load(), 0);
  EXPECT_EQ(s.solo_stores.load(), 0u);
  EXPECT_TRUE(fs::is_directory(unidad_.raiz() + "userdata/work/C007"));
  EXPECT_TRUE(fs::is_directory(unidad_.raiz() + "userdata/work/MC"));
  EXPECT_EQ(cliente_.ResolvePath("U:\\CLA007SI.TAE"), "data/unit007#/CLA007SI.TAE");
  EXPECT_EQ(cliente_.ResolvePath("M:\\X"), "data/mcd01#/X");
  EXPECT_EQ(cliente_.ResolvePath("S:\\C007\\AUDIT.ALU"), "userdata/work/C007/AUDIT.ALU");
  EXPECT_EQ(cliente_.ResolvePath("G:\\A"), "data/ehddservers/GLOSSARY10/GLOSSARY10#/A");
  EXPECT_EQ(cliente_.ResolvePath("Y:\\A"), "data/ehddservers/multimedia/minicourse#/A");
  EXPECT_EQ(carga_.record().Estado(), ThreadRecord::kNuevo);  // the loader was not woken
  EXPECT_EQ(sesion_.documento(0).Cargas(), 0);
  EXPECT_TRUE(sesion_.leccion.Log().empty());
}

TEST_F(CargaUnidad, UnitZeroIsRefusedAndMountsNothing) {
  Montar(false);
  InterfaceAXCargarUnit(sesion_.sesion, 0);
  InterfaceAXCargarUnit(sesion_.sesion, 0x100);  // the low 8 bits are the unit
  EXPECT_EQ(sesion_.sesion.Unit().activa.load(), 0);
  EXPECT_EQ(cliente_.ResolvePath("S:\\A"), "S:\\A");
  EXPECT_EQ(carga_.record().Estado(), ThreadRecord::kNuevo);
}

TEST(UnitLevels, Unit24IsLevel1Unit144Level6AndUnit12HasTheFolderC012) {
  for (const auto& [unidad, nivel] : {std::pair{24, 1}, {25, 2}, {144, 6}, {12, 1}}) {
    SesionFalsa s;
    s.sesion.sesion_activa = 1;
    s.sesion.solo_stores = 1;  // stop after the level and the mounts
    InterfaceAXCargarUnit(s.sesion, static_cast<uint32_t>(unidad));
    EXPECT_EQ(s.sesion.nivel.load(), nivel) << unidad;
    EXPECT_EQ(s.sesion.unidad.load(), unidad);
  }
  EXPECT_EQ(ThreadCargaUnit::ColorDeNivel(1), 0x00CCFFu);
  EXPECT_EQ(ThreadCargaUnit::ColorDeNivel(6), 0xFF00CCu);
  EXPECT_EQ(ThreadCargaUnit::ColorDeNivel(0), 0u);
  EXPECT_EQ(ThreadCargaUnit::ColorDeNivel(7), 0u);
  SesionFalsa s;
  s.sesion.unidad = 12;
  s.sesion.nivel = 1;
  ThreadCargaUnit carga(s.sesion);
  carga.CargarUnit();
  EXPECT_EQ(s.documento(0).CarpetaAlumno(), "S:\\C012\\");
  EXPECT_EQ(s.documento(3).Path(), "U:\\CLA012RO.TAE");
  EXPECT_EQ(s.leccion.Log().front(), "roleplay U:\\CLA012.RLP");
  // Unit 25: level 2, its colour on every document.
  s.sesion.unidad = 25;
  s.sesion.nivel = 2;
  carga.CargarUnit();
  EXPECT_EQ(carga.ColorNivel(), 0x0000FFu);
  EXPECT_EQ(s.documento(4).ColorNivel(), 0x0000FFu);
  EXPECT_EQ(s.documento(4).CarpetaAlumno(), "S:\\C025\\");
}

TEST_F(CargaUnidad, AnAnimationThatWillNotLoadIsNotWaitedFor) {
  Montar(false);
  sesion_.leccion.resultado_anim = -1;
  Cargar(9);
  const std::vector<std::string> log = sesion_.leccion.Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "esperar anim"), 0);
  EXPECT_TRUE(Contiene("diccionarios U:\\ANIM"));
  EXPECT_TRUE(carga_.Hecho());
  EXPECT_EQ(sesion_.sesion.Unit().activa.load(), 1);
}

TEST_F(CargaUnidad, AnAnimationLoadedLateIsWaitedForBeforeTheAudit) {
  Montar(false);
  std::atomic<bool> animacion{false};
  sesion_.leccion.espera_anim = [&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    animacion = true;
  };
  Cargar(9);
  EXPECT_TRUE(animacion.load());
  EXPECT_TRUE(carga_.AuditoriaCargada());
  const std::vector<std::string> log = sesion_.leccion.Log();
  const auto espera = std::find(log.begin(), log.end(), "esperar anim");
  const auto diccionarios = std::find(log.begin(), log.end(), "diccionarios U:\\ANIM");
  ASSERT_NE(espera, log.end());
  EXPECT_LT(espera, diccionarios);
}

TEST_F(CargaUnidad, AConnectionLostInPart4EndsTheLoadWithoutHangingOrLosingTheAudit) {
  Montar(true);
  sesion_.documento(4).FallarCon(kErrorPerdida);
  const std::string alu = [&] {
    std::ifstream in(unidad_.CarpetaAlumno() + "AUDIT.ALU", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }();
  Cargar(UnidadFixture::kUnidad);
  EXPECT_TRUE(carga_.Hecho());
  for (uint8_t p = 0; p < 8; ++p) EXPECT_EQ(carga_.ParteCargada(p), p < 4) << int(p);
  EXPECT_FALSE(carga_.AuditoriaCargada());
  EXPECT_FALSE(carga_.EsperarParte(5));
  // The first page is up; the audit, never read, is refused for the session.
  EXPECT_EQ(sesion_.sesion.Unit().activa.load(), 1);
  EXPECT_TRUE(alumno_.AuditoriaRechazada());
  EXPECT_EQ(cajas_.Cuenta(
                "Error en la auditoría de la unidad, por favor póngase en contacto con Velarno."),
            1);
  EXPECT_FALSE(alumno_.GuardarAuditoriaUnidad(UnidadFixture::kUnidad));
  std::ifstream in(unidad_.CarpetaAlumno() + "AUDIT.ALU", std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()),
            alu);
  // Moving into a part that never loaded does not wait.
  Mover(ThreadEvents::kEventoCambiarParte, 6);
  EXPECT_EQ(sesion_.sesion.Unit().parte.load(), 6);
}

TEST_F(CargaUnidad, AStopDuringTheLoadEndsTheCommandAndTheLoaderWithoutABoxOrAnAudit) {
  Montar(true);
  sesion_.documento(2).Retener();
  ASSERT_TRUE(eventos_.Post(ThreadEvents::kEventoCargarUnit, UnidadFixture::kUnidad, kModoUnit));
  // The loader reads part 2's document; the command waits for the screen.
  for (int i = 0; i < 30000 && !sesion_.documento(2).Esperando(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(sesion_.documento(2).Esperando());
  eventos_.PedirParada();
  carga_.PedirParada();
  // The command leaves its wait for the loading screen, though the load
  // has not ended.
  EXPECT_TRUE(eventos_.EsperarFin(10000));
  EXPECT_FALSE(carga_.Hecho());
  EXPECT_TRUE(eventos_.record().EsperarCondicion(
      [&] { return eventos_.record().Estado() == ThreadRecord::kTerminado; }, 10000));
  EXPECT_FALSE(eventos_.Post(ThreadEvents::kEventoPaginaSiguiente, 0, kModoUnit));
  // The read in progress ends; the loader reads nothing after it.
  sesion_.documento(2).Soltar();
  EXPECT_TRUE(carga_.Terminar());
  EXPECT_TRUE(carga_.Hecho());
  for (uint8_t p = 0; p < 8; ++p) EXPECT_EQ(carga_.ParteCargada(p), p <= 2) << int(p);
  EXPECT_EQ(sesion_.documento(3).Cargas(), 0);
  EXPECT_FALSE(Contiene("roleplay U:\\CLA007.RLP"));
  EXPECT_FALSE(Contiene("anim U:\\ANIM"));
  // The audit was never read: refused for the session, and no box (a
  // stop is a close, not an error).
  EXPECT_FALSE(carga_.AuditoriaCargada());
  EXPECT_TRUE(alumno_.AuditoriaRechazada());
  EXPECT_TRUE(cajas_.Textos().empty());
  EXPECT_EQ(sesion_.sesion.Unit().activa.load(), 0);
  EXPECT_EQ(sesion_.sesion.axstatus.load(), 0);
}

TEST_F(CargaUnidad, AStopAfterTheAuditLeavesItReadAndNotRefused) {
  Montar(true);
  std::atomic<bool> soltar{false};
  // The animation wait comes right before the audit: the stop is asked
  // once the audit is read, while the loader is about to read the skin.
  sesion_.leccion.espera_anim = [&] {
    while (!soltar) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  ASSERT_TRUE(eventos_.Post(ThreadEvents::kEventoCargarUnit, UnidadFixture::kUnidad, kModoUnit));
  for (int i = 0; i < 30000 && !Contiene("esperar anim"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(Contiene("esperar anim"));
  soltar = true;
  for (int i = 0; i < 30000 && !carga_.AuditoriaCargada(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  carga_.PedirParada();
  eventos_.PedirParada();
  EXPECT_TRUE(carga_.Terminar());
  EXPECT_TRUE(eventos_.EsperarFin(10000));
  EXPECT_TRUE(carga_.AuditoriaCargada());
  EXPECT_FALSE(alumno_.AuditoriaRechazada());
  EXPECT_TRUE(cajas_.Textos().empty());
}

}  // namespace
