// Page and part moves over the global page numbering, and the key and
// mouse entries.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/ui/Headless.h"
#include "player/InterfaceAXNavegacion.h"
#include "player/ThreadCargaUnit.h"
#include "tests/player/session_fixture.h"

namespace {

TEST(PageNumbering, PartsOf3_5_2_4_1_6_2_3PagesMake26) {
  SesionFalsa s;
  s.Cargar();
  const InstanciaAX& unit = s.sesion.Unit();
  EXPECT_EQ(unit.total.load(), 26);
  const uint8_t primeras[8] = {1, 4, 9, 11, 15, 16, 22, 24};
  for (uint8_t p = 0; p < 8; ++p) EXPECT_EQ(unit.PrimeraPaginaDeParte(p), primeras[p]) << int(p);
}

TEST(PageNumbering, PartsNotYetLoadedCountNoPages) {
  SesionFalsa s;
  for (int i = 0; i < 3; ++i) s.documento(i).Cargar("U:\\X.TAE");
  EXPECT_FALSE(ThreadCargaUnit::NumerarPaginas(s.sesion.Unit()));
  EXPECT_EQ(s.sesion.Unit().total.load(), 10);
  EXPECT_EQ(s.sesion.Unit().PrimeraPaginaDeParte(7), 11);
  SesionFalsa vacia;
  ThreadCargaUnit::NumerarPaginas(vacia.sesion.Unit());
  EXPECT_EQ(vacia.sesion.Unit().total.load(), 0);
}

TEST(PageNumbering, FortyPageDocumentsStopAt255WithoutWrapping) {
  SesionFalsa s(std::vector<int16_t>(8, 40));
  for (auto& d : s.documentos) d->Cargar("U:\\X.TAE");
  EXPECT_TRUE(ThreadCargaUnit::NumerarPaginas(s.sesion.Unit()));
  const uint8_t primeras[8] = {1, 41, 81, 121, 161, 201, 241, 255};
  for (uint8_t p = 0; p < 8; ++p)
    EXPECT_EQ(s.sesion.Unit().PrimeraPaginaDeParte(p), primeras[p]) << int(p);
  EXPECT_EQ(s.sesion.Unit().total.load(), 255);
  // Up to 255 pages number exactly: the last part ends on 255.
  SesionFalsa justo({40, 40, 40, 40, 40, 40, 10, 5});
  for (auto& d : justo.documentos) d->Cargar("U:\\X.TAE");
  EXPECT_FALSE(ThreadCargaUnit::NumerarPaginas(justo.sesion.Unit()));
  EXPECT_EQ(justo.sesion.Unit().total.load(), 255);
  justo.documento(7).Configurar(6, 0, 0);
  justo.documento(7).Cargar("U:\\X.TAE");
  EXPECT_TRUE(ThreadCargaUnit::NumerarPaginas(justo.sesion.Unit()));
  EXPECT_EQ(justo.sesion.Unit().total.load(), 255);

  s.sesion.Unit().activa = 1;
  InterfaceAXCambiarDeParte(s.sesion, 7);
  EXPECT_EQ(s.sesion.Unit().pagina.load(), 255);
  s.LimpiarMovimientos();
  InterfaceAXPaginaSiguiente(s.sesion, kModoUnit);
  EXPECT_EQ(s.sesion.Unit().pagina.load(), 255);
  EXPECT_TRUE(s.Movimientos().empty());
}

TEST(PageMoves, NextAndPreviousCrossThePartBoundary) {
  SesionFalsa s;
  s.Cargar();
  InstanciaAX& unit = s.sesion.Unit();
  unit.pagina = 3;
  InterfaceAXPaginaSiguiente(s.sesion, kModoUnit);
  EXPECT_EQ(unit.parte.load(), 1);
  EXPECT_EQ(unit.pagina.load(), 4);
  EXPECT_EQ(s.Movimientos(), (std::vector<std::string>{"1 saltar 0", "1 repintar"}));
  EXPECT_EQ(s.leccion.Actual(), &s.documento(1));
  s.LimpiarMovimientos();
  InterfaceAXPaginaAnterior(s.sesion, kModoUnit);
  EXPECT_EQ(unit.parte.load(), 0);
  EXPECT_EQ(unit.pagina.load(), 3);
  EXPECT_EQ(s.Movimientos(), (std::vector<std::string>{"0 saltar 2", "0 repintar"}));
  EXPECT_EQ(s.leccion.Actual(), &s.documento(0));
  // Inside a part the formatter moves by one.
  s.LimpiarMovimientos();
  InterfaceAXPaginaAnterior(s.sesion, kModoUnit);
  EXPECT_EQ(s.Movimientos(), (std::vector<std::string>{"0 atras", "0 repintar"}));
  s.LimpiarMovimientos();
  InterfaceAXPaginaSiguiente(s.sesion, kModoUnit);
  EXPECT_EQ(s.Movimientos(), (std::vector<std::string>{"0 adelante", "0 repintar"}));
}

TEST(PageMoves, TheEndsOfTheUnitShowNothing) {
  SesionFalsa s;
  s.Cargar();
  InterfaceAXPaginaAnterior(s.sesion, kModoUnit);
  EXPECT_EQ(s.sesion.Unit().pagina.load(), 1);
  InterfaceAXCambiarDeParte(s.sesion, 7);
  s.sesion.Unit().pagina = 26;
  s.documento(7).SaltarPagina(2);
  s.LimpiarMovimientos();
  InterfaceAXPaginaSiguiente(s.sesion, kModoUnit);
  EXPECT_EQ(s.sesion.Unit().pagina.load(), 26);
  EXPECT_TRUE(s.Movimientos().empty());
}

TEST(PageMoves, AWalkForwardAndBackVisitsEveryPageOnce) {
  SesionFalsa s;
  s.Cargar();
  InstanciaAX& unit = s.sesion.Unit();
  for (int pagina = 2; pagina <= 26; ++pagina) {
    InterfaceAXPaginaSiguiente(s.sesion, kModoUnit);
    ASSERT_EQ(unit.pagina.load(), pagina);
    const uint8_t parte = unit.parte.load();
    EXPECT_EQ(s.documento(parte).Actual(), pagina - unit.PrimeraPaginaDeParte(parte)) << pagina;
  }
  EXPECT_EQ(unit.parte.load(), 7);
  for (int pagina = 25; pagina >= 1; --pagina) {
    InterfaceAXPaginaAnterior(s.sesion, kModoUnit);
    ASSERT_EQ(unit.pagina.load(), pagina);
    const uint8_t parte = unit.parte.load();
    EXPECT_EQ(s.documento(parte).Actual(), pagina - unit.PrimeraPaginaDeParte(parte)) << pagina;
  }
  EXPECT_EQ(unit.parte.load(), 0);
}

TEST(PageMoves, ChangingPartShowsItsFirstPage) {
  SesionFalsa s;
  s.Cargar();
  InterfaceAXCambiarDeParte(s.sesion, 3);
  EXPECT_EQ(s.sesion.Unit().pagina.load(), 11);
  EXPECT_EQ(s.sesion.Unit().parte.load(), 3);
  EXPECT_EQ(s.Movimientos(), (std::vector<std::string>{"3 saltar 0", "3 repintar"}));
  s.LimpiarMovimientos();
  InterfaceAXCambiarDeParte(s.sesion, 8);
  EXPECT_EQ(s.sesion.Unit().parte.load(), 3);
  EXPECT_TRUE(s.Movimientos().empty());
  InterfaceAXCambiarDeParte(s.sesion, 0x105);  // the low 8 bits: part 5
  EXPECT_EQ(s.sesion.Unit().pagina.load(), 16);
}

TEST(PageMoves, ARolePlayPageTurnMovesTheCounterWithinItsPart) {
  SesionFalsa s;
  s.Cargar();
  InterfaceAXCambiarDeParte(s.sesion, 3);  // pages 11 to 14
  MoverContadorPagina(s.sesion, kModoUnit, 1);
  EXPECT_EQ(s.sesion.Unit().pagina.load(), 12);
  MoverContadorPagina(s.sesion, kModoUnit, 5);
  EXPECT_EQ(s.sesion.Unit().pagina.load(), 14);
  MoverContadorPagina(s.sesion, kModoUnit, -9);
  EXPECT_EQ(s.sesion.Unit().pagina.load(), 11);
  EXPECT_EQ(s.sesion.Unit().parte.load(), 3);
}

TEST(PageMoves, AnInactiveRecordMovesNothing) {
  SesionFalsa s;
  s.Cargar();
  s.sesion.Unit().activa = 0;
  InterfaceAXPaginaSiguiente(s.sesion, kModoUnit);
  InterfaceAXCambiarDeParte(s.sesion, 2);
  InterfaceAXPaginaSiguiente(s.sesion, kModoMini);
  InterfaceAXPaginaAnterior(s.sesion, 2);  // no such mode
  InterfaceAXTeclaPulsada(s.sesion, 65);
  EventAXMouseEvent(s.sesion, 1, 1, 2, kModoUnit);
  EXPECT_TRUE(s.Movimientos().empty());
  EXPECT_TRUE(s.leccion.Log().empty());
  EXPECT_EQ(s.sesion.Unit().pagina.load(), 1);
}

TEST(PageMoves, APartStillLoadingIsWaitedForAndNumberedOnceItHasLoaded) {
  SesionFalsa s;
  s.documento(4).Retener();  // parts 0 to 3 load, part 4 holds the loader
  ThreadCargaUnit carga(s.sesion);
  s.sesion.carga_unit = &carga;
  ASSERT_TRUE(carga.Crear());
  carga.Despertar();
  while (!s.documento(4).Esperando()) std::this_thread::yield();
  s.sesion.Unit().activa = 1;
  EXPECT_TRUE(carga.ParteCargada(3));
  EXPECT_FALSE(carga.ParteCargada(5));
  std::thread pagina([&] { InterfaceAXCambiarDeParte(s.sesion, 5); });
  // Parts 4 and 5 count no pages yet: the page is first taken as 15.
  while (s.sesion.Unit().parte.load() != 5) std::this_thread::yield();
  EXPECT_TRUE(s.documento(5).Log().empty());
  s.documento(4).Soltar();
  pagina.join();
  EXPECT_TRUE(carga.ParteCargada(5));
  EXPECT_EQ(s.documento(5).Log(), (std::vector<std::string>{"saltar 0", "repintar"}));
  EXPECT_EQ(s.sesion.Unit().pagina.load(), 16);
  EXPECT_TRUE(carga.Terminar());
}

TEST(PageMoves, AWaitOnALoaderThatDoesNotRunReturnsAtOnce) {
  SesionFalsa s;
  s.Cargar();
  ThreadCargaUnit nunca(s.sesion);  // made, never started
  ASSERT_TRUE(nunca.Crear());
  s.sesion.carga_unit = &nunca;
  EXPECT_FALSE(nunca.EsperarParte(5));
  InterfaceAXCambiarDeParte(s.sesion, 5);
  EXPECT_EQ(s.documento(5).Log(), (std::vector<std::string>{"saltar 0", "repintar"}));
  EXPECT_TRUE(nunca.Terminar());
  ThreadRecord::FailCreationsForTesting(1);
  fakes::Cajas cajas;
  ThreadCargaUnit fallido(s.sesion);
  EXPECT_FALSE(fallido.Crear());
  EXPECT_EQ(cajas.Textos(), std::vector<std::string>{"ThreadCargaUnit creation failed."});
  EXPECT_FALSE(fallido.EsperarParte(2));
  EXPECT_TRUE(fallido.Terminar());
}

TEST(KeysAndMouse, KeysReachTheLessonUnderThePageLock) {
  SesionFalsa s;
  s.Cargar();
  InterfaceAXTeclaPulsada(s.sesion, 0x10041);
  EXPECT_EQ(s.leccion.Log(), std::vector<std::string>{"tecla 65601"});
}

TEST(KeysAndMouse, MovesAndPressesAreDroppedWhileBusyButAReleaseIsDelivered) {
  SesionFalsa s;
  s.Cargar();
  s.sesion.Unit().parte = 2;
  s.leccion.ocupado = true;
  EventAXMouseEvent(s.sesion, 10, 20, 1, kModoUnit);
  EventAXMouseEvent(s.sesion, 10, 20, 2, kModoUnit);
  EventAXMouseEvent(s.sesion, 10, 20, 4, kModoUnit);
  EXPECT_TRUE(s.leccion.Log().empty());
  EventAXMouseEvent(s.sesion, 10, 20, 3, kModoUnit);
  EventAXMouseEvent(s.sesion, 11, 21, 5, kModoUnit);
  EXPECT_EQ(s.leccion.Log(),
            (std::vector<std::string>{"formateador", "raton 3 10,20", "raton 5 11,21"}));
  EXPECT_EQ(s.leccion.Actual(), &s.documento(2));
}

// A page drawn on another thread (the command worker) holds the page lock
// until let go; the test's thread is the GUI thread.
class Dibujo {
 public:
  explicit Dibujo(SesionAX& sesion) : hilo_([this, &sesion] {
      std::unique_lock<CriticalSection> pagina(sesion.cerrojo_pagina);
      std::unique_lock<std::mutex> lock(m_);
      dentro_ = true;
      cv_.notify_all();
      cv_.wait(lock, [this] { return fin_; });
    }) {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [this] { return dentro_; });
  }
  ~Dibujo() { Terminar(); }
  void Terminar() {
    {
      std::lock_guard<std::mutex> lock(m_);
      fin_ = true;
    }
    cv_.notify_all();
    if (hilo_.joinable()) hilo_.join();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool dentro_ = false, fin_ = false;
  std::thread hilo_;
};

// A lesson that notes the character the site holds for each key.
class LeccionConCaracter : public fakes::Leccion {
 public:
  explicit LeccionConCaracter(InstanciaAX& unit) : unit_(unit) {}
  void TeclaPulsada(uint32_t tecla) override {
    fakes::Leccion::TeclaPulsada(tecla);
    caracteres.push_back(unit_.ventana != nullptr ? unit_.ventana->KeyChar() : 0);
  }
  std::vector<uint16_t> caracteres;

 private:
  InstanciaAX& unit_;
};

TEST(KeysAndMouse, WhileAPageIsDrawnAMoveIsDroppedAndAReleaseIsKeptForAfterTheDraw) {
  SesionFalsa s;
  s.Cargar();
  {
    Dibujo dibujo(s.sesion);
    // Neither call waits for the draw (it is still holding the lock).
    EventAXMouseEvent(s.sesion, 5, 5, 1, kModoUnit);
    EventAXMouseEvent(s.sesion, 7, 8, 3, kModoUnit);
    EXPECT_TRUE(s.leccion.Log().empty());
    EXPECT_FALSE(AtenderEntradasPendientes(s.sesion));
    EXPECT_TRUE(s.leccion.Log().empty());
  }
  EXPECT_TRUE(AtenderEntradasPendientes(s.sesion));
  EXPECT_TRUE(AtenderEntradasPendientes(s.sesion));
  EXPECT_EQ(s.leccion.Log(), (std::vector<std::string>{"formateador", "raton 3 7,8"}));
}

TEST(KeysAndMouse, AKeyTypedDuringADrawIsHandledOnceAfterItWithItsCharacterAndInOrder) {
  SesionFalsa s;
  s.Cargar();
  platform::ui::HeadlessControlSite sitio(687, 534);
  s.sesion.Unit().ventana = &sitio;
  LeccionConCaracter leccion(s.sesion.Unit());
  s.sesion.leccion = &leccion;
  {
    Dibujo dibujo(s.sesion);
    sitio.SetKeyChar(u'a');
    InterfaceAXTeclaPulsada(s.sesion, 0x41);
    sitio.SetKeyChar(0);
    EventAXMouseEvent(s.sesion, 3, 4, 3, kModoUnit);
    sitio.SetKeyChar(u'b');
    InterfaceAXTeclaPulsada(s.sesion, 0x42);
    sitio.SetKeyChar(0);
    EXPECT_TRUE(leccion.Log().empty());
    // The timer's turns while the page is still drawn leave them waiting.
    EXPECT_FALSE(AtenderEntradasPendientes(s.sesion));
  }
  // A key typed once the page is free comes after the ones kept.
  sitio.SetKeyChar(u'c');
  InterfaceAXTeclaPulsada(s.sesion, 0x43);
  sitio.SetKeyChar(0);
  EXPECT_TRUE(AtenderEntradasPendientes(s.sesion));
  EXPECT_EQ(leccion.Log(), (std::vector<std::string>{"tecla 65", "formateador", "raton 3 3,4",
                                                     "tecla 66", "tecla 67"}));
  EXPECT_EQ(leccion.caracteres, (std::vector<uint16_t>{u'a', u'b', u'c'}));
  EXPECT_EQ(sitio.KeyChar(), 0);
}

TEST(KeysAndMouse, KeptEntriesAreBoundedAndForgottenWithTheirSession) {
  SesionFalsa s;
  s.Cargar();
  {
    Dibujo dibujo(s.sesion);
    for (int i = 0; i < 64; ++i) InterfaceAXTeclaPulsada(s.sesion, 0x30);
    InterfaceAXTeclaPulsada(s.sesion, 0x31);  // one past the bound: not kept
  }
  EXPECT_TRUE(AtenderEntradasPendientes(s.sesion));
  const auto log = s.leccion.Log();
  EXPECT_EQ(log.size(), 64u);
  EXPECT_EQ(std::count(log.begin(), log.end(), "tecla 49"), 0);
  {
    Dibujo dibujo(s.sesion);
    InterfaceAXTeclaPulsada(s.sesion, 0x32);
    DescartarEntradasPendientes(s.sesion);
  }
  EXPECT_TRUE(AtenderEntradasPendientes(s.sesion));
  EXPECT_EQ(s.leccion.Log().size(), 64u);
}

TEST(PageMoves, PartsWithNoPagesArePassedForwardAndBack) {
  // Parts 1 and 2 have no pages: part 0 is pages 1-3, part 3 starts at 4.
  SesionFalsa s({3, 0, 0, 4, 1, 6, 2, 3});
  s.Cargar();
  InstanciaAX& unit = s.sesion.Unit();
  unit.pagina = 3;
  InterfaceAXPaginaSiguiente(s.sesion, kModoUnit);
  EXPECT_EQ(unit.parte.load(), 3);
  EXPECT_EQ(unit.pagina.load(), 4);
  EXPECT_EQ(s.Movimientos(), (std::vector<std::string>{"3 saltar 0", "3 repintar"}));
  EXPECT_EQ(s.leccion.Actual(), &s.documento(3));
  s.LimpiarMovimientos();
  InterfaceAXPaginaAnterior(s.sesion, kModoUnit);
  EXPECT_EQ(unit.parte.load(), 0);
  EXPECT_EQ(unit.pagina.load(), 3);
  EXPECT_EQ(s.Movimientos(), (std::vector<std::string>{"0 saltar 2", "0 repintar"}));
  // One empty part (part 2 of the fixture pattern): "next" from part 1's
  // last page shows part 3's first page.
  SesionFalsa una({3, 5, 0, 4, 1, 6, 2, 3});
  una.Cargar();
  una.sesion.Unit().parte = 1;
  una.sesion.Unit().pagina = 8;
  InterfaceAXPaginaSiguiente(una.sesion, kModoUnit);
  EXPECT_EQ(una.sesion.Unit().parte.load(), 3);
  EXPECT_EQ(una.sesion.Unit().pagina.load(), 9);
  EXPECT_EQ(una.documento(3).Log(), (std::vector<std::string>{"saltar 0", "repintar"}));
  // Empty parts at the end: the last page of part 5 is the unit's last.
  SesionFalsa fin({3, 5, 2, 4, 1, 6, 0, 0});
  fin.Cargar();
  fin.sesion.Unit().parte = 5;
  fin.sesion.Unit().pagina = 21;
  InterfaceAXPaginaSiguiente(fin.sesion, kModoUnit);
  EXPECT_EQ(fin.sesion.Unit().pagina.load(), 21);
  EXPECT_EQ(fin.sesion.Unit().parte.load(), 5);
}

}  // namespace
