// The sentence audio manager with a recording fake of the page side and the
// real TAudio on the pumped null device.
#include "media/TGestorAudio.h"

#include <array>
#include <map>

#include "tests/media/audio_support.h"
#include "tests/support/OggFixture.h"

namespace {

using audio_test::Banco;
using audio_test::EsperarQue;

class FakePagina : public IPaginaAudio {
 public:
  CriticalSection& BloqueoPagina() override { return lock; }
  uint8_t* SonidoTratado(uint16_t id) override {
    return id < sonidos.size() ? sonidos[id].data() : nullptr;
  }
  uint8_t* EjercicioTratado(uint16_t id) override {
    return id < ejercicios.size() ? ejercicios[id].data() : nullptr;
  }
  uint16_t SonidoActual() override { return sonido_actual; }
  void SeleccionarIcono(uint8_t icono) override { Anotar("icono " + std::to_string(icono)); }
  void PosicionarIcono(int16_t x, int16_t y) override {
    Anotar("posicion " + std::to_string(x) + "," + std::to_string(y));
  }
  void MostrarIcono(bool mostrar) override { Anotar(mostrar ? "mostrar" : "ocultar"); }
  void SolicitudActualizarPagina() override { Anotar("actualizar"); }
  void SolicitudRepintar(uint16_t x, uint16_t y, uint16_t w, uint16_t h) override {
    Anotar("repintar " + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(w) +
           "," + std::to_string(h));
  }
  uint16_t PaginaActual() override { return pagina; }
  uint16_t NumPaginas() override { return static_cast<uint16_t>(paginas.size()); }
  void PintarPagina(uint16_t n) override {
    pagina = n;
    Anotar("pagina " + std::to_string(n));
  }
  void RellenarRect(int16_t x, int16_t y, uint16_t w, uint16_t h, uint32_t color) override {
    char linea[64];
    std::snprintf(linea, sizeof linea, "rellenar %d,%d %ux%u %06X", x, y, w, h, color);
    Anotar(linea);
  }
  void PintarPNG(const char* imagen, int16_t x, int16_t y) override {
    Anotar(std::string("png ") + imagen + " " + std::to_string(x) + "," + std::to_string(y));
  }
  uint16_t NumRegiones() override {
    return pagina < paginas.size() ? static_cast<uint16_t>(paginas[pagina].size() + 1) : 1;
  }
  bool LeerRegion(uint16_t slot, RegionPagina* region) override {
    if (pagina >= paginas.size() || slot == 0 || slot > paginas[pagina].size()) return false;
    *region = paginas[pagina][slot - 1];
    return true;
  }
  void ActualizarBotones() override { Anotar("botones"); }
  void LimpiarPulsacion() override { Anotar("pulsacion"); }
  // What the player's release handler does when FinAudio hands it a
  // recording to end.
  void TratarCIUFraseAudioNormal() override {
    Anotar("ciu frase");
    if (gestor->Grabando() && gestor->Estado() == TGestorAudio::kFraseArmada) {
      audio->FinGrabarFraseSTR();
      MostrarIcono(false);
      gestor->SetGrabando(false);
      if (uint8_t* r = SonidoTratado(gestor->IdFrase())) ++r[2];
      gestor->IniciarComparar();
    }
  }
  void TratarCIUEjercicioEscrito() override { Anotar("ciu ejercicio"); }
  void ActivarTiempo() override { ++actividad; }
  bool ModoNavegacion() override { return navegacion; }
  EstadoRolePlay LeerRolePlay() override { return rp; }
  void EscribirRolePlay(const EstadoRolePlay& estado) override {
    const uint8_t lineas = rp.num_lineas;
    rp = estado;
    rp.num_lineas = lineas;
  }
  void NombreLineaRolePlay(uint8_t linea, char* nombre, size_t capacidad) override {
    std::snprintf(nombre, capacidad, "%s", linea < 60 ? nombres[linea].c_str() : "");
  }
  bool LineaGrabada(uint8_t linea) override { return linea < 60 && grabadas[linea]; }
  void MarcarLineaGrabada(uint8_t linea) override {
    if (linea < 60) grabadas[linea] = true;
  }
  uint8_t LineaDePersonaje(uint8_t personaje, uint8_t posicion) override {
    return personaje < 5 && posicion < 60 ? filas[personaje][posicion] : kFinFila;
  }
  bool RegionRespuesta(RegionPagina* region) override {
    if (!hay_respuesta) return false;
    *region = respuesta;
    return true;
  }
  void FinRespuesta() override { Anotar("fin respuesta"); }

  void Anotar(const std::string& llamada) {
    std::lock_guard<std::mutex> l(mutex_);
    llamadas.push_back(llamada);
  }
  std::vector<std::string> Llamadas() {
    std::lock_guard<std::mutex> l(mutex_);
    return llamadas;
  }
  bool Llamo(const std::string& llamada) {
    auto v = Llamadas();
    return std::find(v.begin(), v.end(), llamada) != v.end();
  }
  void Olvidar() {
    std::lock_guard<std::mutex> l(mutex_);
    llamadas.clear();
  }

  CriticalSection lock;
  std::vector<std::array<uint8_t, 4>> sonidos = std::vector<std::array<uint8_t, 4>>(10);
  std::vector<std::array<uint8_t, 410>> ejercicios = std::vector<std::array<uint8_t, 410>>(10);
  uint16_t sonido_actual = 0;
  std::vector<std::vector<RegionPagina>> paginas = {{}};
  uint16_t pagina = 0;
  EstadoRolePlay rp;
  std::array<std::string, 60> nombres;
  std::array<bool, 60> grabadas{};
  std::array<std::array<uint8_t, 60>, 5> filas{};
  bool navegacion = false;
  bool hay_respuesta = false;
  RegionPagina respuesta;
  std::atomic<int> actividad{0};
  TGestorAudio* gestor = nullptr;
  TAudio* audio = nullptr;

 private:
  std::mutex mutex_;
  std::vector<std::string> llamadas;
};

RegionPagina Linea(uint16_t id, uint16_t top) {
  RegionPagina r;
  r.tipo = 8;
  r.en_uso = 1;
  r.left = 100;
  r.top = top;
  r.right = 300;
  r.bottom = static_cast<uint16_t>(top + 18);
  r.id = id;
  return r;
}

class Gestor : public testing::Test {
 protected:
  void SetUp() override {
    banco_.Iniciar();
    for (const char* carpeta : {"nat", "seg", "alu"})
      std::filesystem::create_directory(banco_.Local(carpeta));
    pagina_.gestor = &gestor_;
    pagina_.audio = &banco_.audio;
    for (auto& fila : pagina_.filas) fila.fill(255);
    gestor_.SetTAudio(&banco_.audio);
    gestor_.SetPaginaAudio(&pagina_);
    gestor_.Iniciar();
    gestor_.SetCarpetas("Q:\\nat\\", "Q:\\seg\\", "Q:\\alu\\");
    gestor_.ConectarFinAudio();
  }
  // A short OGG of its own length, so the source being played tells which.
  size_t Ogg(const std::string& nombre, double segundos) {
    const std::string bytes = ogg_fixture::Mono22050(segundos);
    banco_.Escribir(nombre, bytes);
    return bytes.size();
  }
  // Plays the running sound to its end and waits for FinAudio to be done.
  void HastaElFin() {
    const int antes = Fines();
    banco_.BombearHastaElFin();
    ASSERT_TRUE(EsperarQue([&] { return Fines() == antes + 1; }));
  }
  int Fines() { return banco_.Avisos(TAudio::kFinOGG) + banco_.Avisos(TAudio::kFinSTR); }
  // The loader has opened a source of that length.
  bool Suena(size_t longitud) {
    return EsperarQue([&] { return banco_.audio.LongitudFuente() == longitud; });
  }

  Banco banco_;
  FakePagina pagina_;
  TGestorAudio gestor_;
};

TEST_F(Gestor, AListenCountsOnceAndOnlyTheFirstRendersAgain) {
  Ogg("nat/S00005.OGG", 0.3);
  pagina_.sonido_actual = 5;
  for (int vez = 1; vez <= 2; ++vez) {
    pagina_.Olvidar();
    gestor_.StopAudio();
    gestor_.SetEstado(TGestorAudio::kFraseNativa);
    gestor_.PlayAudio("S00005", 1);
    HastaElFin();
    EXPECT_EQ(pagina_.sonidos[5][1], vez);
    EXPECT_EQ(pagina_.Llamo("actualizar"), vez == 1);
    EXPECT_EQ(gestor_.Estado(), TGestorAudio::kInactivo);
  }
  EXPECT_GE(pagina_.actividad.load(), 2);
  // A counter at 255 stays there.
  pagina_.sonidos[5][1] = 255;
  gestor_.SetEstado(TGestorAudio::kFraseNativa);
  gestor_.PlayAudio("S00005", 1);
  HastaElFin();
  EXPECT_EQ(pagina_.sonidos[5][1], 255);
  // A sound outside the document's records is counted nowhere.
  pagina_.sonido_actual = 50;
  gestor_.SetEstado(TGestorAudio::kFraseNativa);
  gestor_.PlayAudio("S00005", 1);
  HastaElFin();
  EXPECT_EQ(gestor_.Estado(), TGestorAudio::kInactivo);
}

TEST_F(Gestor, RecordingThenCompareCountsBothAndPlaysStudentThenNative) {
  const size_t nativa = Ogg("nat/S00007.OGG", 0.25);
  const std::vector<int16_t> voz = audio_test::Voz(160 * 400);
  std::string error;
  ASSERT_TRUE(WriteWav16(banco_.Local("mic.wav"), 8000, voz.data(), voz.size(), &error));
  banco_.device().SetCaptureFile(banco_.Local("mic.wav"), false);
  // Button down on the sentence, held: the handler and the timer do this.
  gestor_.StopAudio();
  gestor_.SetNombreFrase("S00007");
  gestor_.SetIdFrase(7);
  gestor_.SetTipoFrase(TGestorAudio::kTipoFrase);
  gestor_.SetEstado(TGestorAudio::kFraseArmada);
  banco_.audio.GrabarAudioSTR((gestor_.CarpetaAlumno() + gestor_.NombreFrase() + ".STR").c_str());
  gestor_.SetGrabando(true);
  for (int i = 0; i < 12; ++i) ASSERT_TRUE(banco_.device().Pump());
  // Released: the mouse hands it to FinAudio.
  gestor_.FinAudio();
  EXPECT_EQ(pagina_.sonidos[7][2], 1);
  EXPECT_EQ(gestor_.Estado(), TGestorAudio::kCompararAlumno);
  const size_t alumno = std::filesystem::file_size(banco_.Local("alu/S00007.STR"));
  EXPECT_TRUE(Suena(alumno));
  HastaElFin();  // the student's sentence, then the native one starts
  EXPECT_EQ(pagina_.sonidos[7][3], 1);
  EXPECT_TRUE(pagina_.Llamo("actualizar"));
  EXPECT_EQ(gestor_.Estado(), TGestorAudio::kInactivo);
  EXPECT_TRUE(Suena(nativa));
  HastaElFin();  // its end finds state 0
  EXPECT_EQ(pagina_.sonidos[7][3], 1);
}

// An exercise's listens (state 5) and comparisons (kind 4) land in bytes
// 406 and 408 of its 410-byte record; the recordings byte 407 and the
// sentence records stay as they were.
TEST_F(Gestor, AnExercisesListensAndComparisonsLandInTheirOwnBytes) {
  Ogg("nat/E00004.OGG", 0.2);
  banco_.Escribir("alu/E00004.STR", audio_test::CodificarSTR(audio_test::Voz(160 * 3)));
  pagina_.sonido_actual = 4;
  for (int vez = 1; vez <= 2; ++vez) {
    gestor_.StopAudio();
    gestor_.SetEstado(TGestorAudio::kEjercicio);
    gestor_.PlayAudio("E00004", 1);
    HastaElFin();
    EXPECT_EQ(pagina_.ejercicios[4][406], vez);
  }
  gestor_.StopAudio();
  gestor_.SetNombreFrase("E00004");
  gestor_.SetIdFrase(4);
  gestor_.SetTipoFrase(TGestorAudio::kTipoEjercicio);
  gestor_.IniciarComparar();
  HastaElFin();  // the student's recording, then the native one starts
  EXPECT_EQ(pagina_.ejercicios[4][408], 1);
  HastaElFin();
  EXPECT_EQ(pagina_.ejercicios[4][406], 2);
  EXPECT_EQ(pagina_.ejercicios[4][407], 0);
  EXPECT_EQ(pagina_.ejercicios[4][408], 1);
  for (size_t i = 0; i < 410; ++i) {
    if (i != 406 && i != 408) {
      EXPECT_EQ(pagina_.ejercicios[4][i], 0) << i;
    }
  }
  for (const auto& sonido : pagina_.sonidos) {
    EXPECT_EQ(sonido, (std::array<uint8_t, 4>{}));
  }
}

TEST_F(Gestor, InNavigationModeACompareStaysInState3) {
  banco_.Escribir("alu/S00001.STR", audio_test::CodificarSTR(audio_test::Voz(160 * 3)));
  pagina_.navegacion = true;
  gestor_.SetNombreFrase("S00001");
  gestor_.SetIdFrase(1);
  gestor_.SetTipoFrase(TGestorAudio::kTipoFrase);
  gestor_.IniciarComparar();
  HastaElFin();
  EXPECT_EQ(gestor_.Estado(), TGestorAudio::kCompararAlumno);
  EXPECT_EQ(pagina_.sonidos[1][3], 0);
  pagina_.Olvidar();
  gestor_.StopAudio();
  EXPECT_EQ(gestor_.Estado(), TGestorAudio::kInactivo);
  EXPECT_TRUE(pagina_.Llamo("pulsacion"));
}

TEST_F(Gestor, StopWhenIdleAndFilesOfNoKindPlayNothing) {
  const uint32_t generacion = banco_.audio.Generacion();
  gestor_.StopAudio();
  EXPECT_TRUE(pagina_.Llamadas().empty());
  gestor_.PlayFichero("Q:\\nat\\X.WAV");
  gestor_.PlayFichero("");
  gestor_.PlayAudio("S00001", 3);  // only folders 1 and 2 exist
  EXPECT_EQ(banco_.audio.Generacion(), generacion);
  gestor_.PlayFichero("Q:\\nat\\x.ogg");
  gestor_.PlayFichero("Q:\\alu\\x.str");
  EXPECT_EQ(banco_.audio.Generacion(), generacion + 2);
}

TEST_F(Gestor, NamesAndFoldersAreKeptWithinTheirFields) {
  gestor_.SetNombreFrase("ABCDEFGHIJKLMN");
  EXPECT_EQ(gestor_.NombreFrase(), "ABCDEFGHIJKLMN");
  gestor_.SetNombreFrase("ABCDEFGHIJKLMNO");  // 15: the last one goes
  EXPECT_EQ(gestor_.NombreFrase(), "ABCDEFGHIJKLMN");
  gestor_.SetCarpetas(std::string(199, 'a').c_str(), std::string(200, 'b').c_str(), "S:\\");
  EXPECT_EQ(gestor_.CarpetaNativa().size(), 199u);
  EXPECT_EQ(gestor_.CarpetaSegunda().size(), 199u);
  gestor_.SetCarpetas("", nullptr, "S:\\");
  EXPECT_EQ(gestor_.CarpetaSegunda(), "");
  EXPECT_EQ(gestor_.CarpetaAlumno(), "S:\\");
  gestor_.Iniciar();
  EXPECT_EQ(gestor_.CarpetaNativa(), "AUDIO\\");
}

TEST_F(Gestor, PerformingARolePlayTurnsToTheNextPageForItsLine) {
  const size_t l0 = Ogg("seg/L0.OGG", 0.2);
  const size_t l2 = Ogg("seg/L2.OGG", 0.3);
  Ogg("seg/L3.OGG", 0.25);
  const std::vector<int16_t> voz = audio_test::Voz(160 * 400);
  std::string error;
  ASSERT_TRUE(WriteWav16(banco_.Local("mic.wav"), 8000, voz.data(), voz.size(), &error));
  banco_.device().SetCaptureFile(banco_.Local("mic.wav"), false);
  pagina_.paginas = {{Linea(1, 40), Linea(2, 80)}, {Linea(3, 40), Linea(4, 80)}};
  pagina_.nombres = {"L0", "L1", "L2", "L3"};
  pagina_.rp.num_lineas = 4;
  pagina_.filas[0][0] = 1;  // the student is character 0 and says line 1
  std::vector<int> pasos;
  gestor_.SetHookContadorPaginas([&](int paso) { pasos.push_back(paso); });
  // The performing button: the context set up, then the first step.
  gestor_.StopAudio();
  pagina_.rp.modo = 2;
  pagina_.rp.finalizado = 0;
  gestor_.PlayRolePlayGrabar();
  EXPECT_EQ(gestor_.Estado(), TGestorAudio::kRolePlayGrabar);
  EXPECT_TRUE(pagina_.Llamo("icono 2"));
  EXPECT_TRUE(pagina_.Llamo("posicion 65,35"));
  EXPECT_TRUE(Suena(l0));
  HastaElFin();
  // The student's turn: the microphone waits for the button.
  EXPECT_EQ(gestor_.Estado(), TGestorAudio::kRolePlayEspera);
  EXPECT_EQ(pagina_.rp.microfono, 1);
  EXPECT_TRUE(pagina_.Llamo("icono 3"));
  gestor_.FinAudio();  // button down outside the regions: the line records
  EXPECT_EQ(gestor_.Estado(), TGestorAudio::kRolePlayGrabar);
  EXPECT_TRUE(gestor_.Grabando());
  EXPECT_EQ(pagina_.rp.linea_actual, 2);
  EXPECT_EQ(pagina_.rp.posicion, 1);
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(banco_.device().Pump());
  pagina_.Olvidar();
  gestor_.FinAudio();  // button up: the line ends, the next is on page 2
  EXPECT_FALSE(gestor_.Grabando());
  EXPECT_TRUE(pagina_.grabadas[1]);
  EXPECT_GT(std::filesystem::file_size(banco_.Local("alu/RP01G.STR")), 0u);
  EXPECT_EQ(pasos, std::vector<int>{1});
  EXPECT_EQ(pagina_.pagina, 1);
  EXPECT_TRUE(pagina_.Llamo("pagina 1"));
  EXPECT_TRUE(Suena(l2));
  HastaElFin();
  HastaElFin();  // line 3, then the end
  EXPECT_EQ(gestor_.Estado(), TGestorAudio::kInactivo);
  EXPECT_EQ(pagina_.rp.modo, 0);
  EXPECT_EQ(pagina_.rp.finalizado, 1);
  EXPECT_EQ(pagina_.rp.right, 0);
  EXPECT_TRUE(pagina_.Llamo("botones"));
  EXPECT_EQ(pasos, std::vector<int>{1});
}

TEST_F(Gestor, PlaybackPlaysTheStudentsLinesOrTheEmptySound) {
  const size_t l0 = Ogg("seg/L0.OGG", 0.2);
  const size_t vacio = Ogg("nat/VACIO.OGG", 0.35);
  const size_t l2 = Ogg("seg/L2.OGG", 0.3);
  const std::string rp03 = audio_test::CodificarSTR(audio_test::Voz(160 * 9));
  banco_.Escribir("alu/RP03G.STR", rp03);
  pagina_.paginas = {{Linea(1, 40), Linea(2, 60), Linea(3, 80), Linea(4, 100)}};
  pagina_.nombres = {"L0", "L1", "L2", "L3"};
  pagina_.rp.num_lineas = 4;
  pagina_.filas[0][0] = 1;
  pagina_.filas[0][1] = 3;
  pagina_.grabadas[3] = true;  // line 1 was never recorded, line 3 was
  pagina_.rp.modo = 1;
  gestor_.SetEstado(TGestorAudio::kRolePlayAlumno);
  gestor_.PlayRolePlayAlumno();
  EXPECT_TRUE(Suena(l0));
  HastaElFin();
  EXPECT_TRUE(Suena(vacio));
  EXPECT_EQ(pagina_.rp.posicion, 1);
  HastaElFin();
  EXPECT_TRUE(Suena(l2));
  HastaElFin();
  EXPECT_TRUE(Suena(rp03.size()));  // "RP03G.STR": the 0-based line index
  HastaElFin();
  EXPECT_EQ(gestor_.Estado(), TGestorAudio::kInactivo);
  EXPECT_EQ(pagina_.rp.finalizado, 1);
}

TEST_F(Gestor, ALineOnNoPageEndsTheRolePlay) {
  // Pages 0 and 1 hold lines 1 and 2; line 6 is nowhere: the search turns
  // forward, finds nothing on the last page and stops.
  pagina_.paginas = {{Linea(1, 40)}, {Linea(2, 40)}};
  pagina_.rp.num_lineas = 8;
  pagina_.rp.linea_actual = 5;
  pagina_.rp.modo = 2;
  pagina_.rp.finalizado = 0;
  std::vector<int> pasos;
  gestor_.SetHookContadorPaginas([&](int paso) { pasos.push_back(paso); });
  const uint32_t generacion = banco_.audio.Generacion();
  gestor_.PlayRolePlayGrabar();
  EXPECT_EQ(gestor_.Estado(), TGestorAudio::kInactivo);
  EXPECT_EQ(pagina_.rp.modo, 0);
  EXPECT_EQ(pagina_.rp.finalizado, 1);
  EXPECT_EQ(pasos, std::vector<int>{1});
  EXPECT_EQ(banco_.audio.Generacion(), generacion);  // nothing played
  // A page with no line region at all, searching backwards from page 1.
  pagina_.paginas = {{}, {Linea(9, 40)}};
  pagina_.pagina = 1;
  pagina_.rp.linea_actual = 0;
  pagina_.rp.modo = 1;
  gestor_.PlayRolePlayAlumno();
  EXPECT_EQ(pagina_.rp.modo, 0);
  EXPECT_EQ(pasos, (std::vector<int>{1, -1}));
  // A line count past the context's 60 lines is held to them.
  pagina_.paginas = {{Linea(61, 40)}};
  pagina_.pagina = 0;
  pagina_.rp.num_lineas = 200;
  pagina_.rp.linea_actual = 60;
  gestor_.PlayRolePlayGrabar();
  EXPECT_EQ(pagina_.rp.modo, 0);
}

TEST_F(Gestor, TheEndOfASpeakingAnswerErasesWhatItsClickWrote) {
  pagina_.hay_respuesta = true;
  pagina_.respuesta.left = 100;
  pagina_.respuesta.top = 50;
  pagina_.respuesta.right = 126;
  pagina_.respuesta.bottom = 68;
  gestor_.SetEstado(TGestorAudio::kRespuesta);
  gestor_.FinAudio();
  EXPECT_EQ(pagina_.Llamadas(),
            (std::vector<std::string>{"rellenar 130,51 529x18 FFFFFF", "png COMUN\\BTNSOLN 100,50",
                                      "repintar 0,0,0,0", "fin respuesta"}));
  EXPECT_EQ(gestor_.Estado(), TGestorAudio::kInactivo);
}

TEST_F(Gestor, TheEndWaitsForThePageLockAndAStaleEndIsIgnored) {
  Ogg("nat/S00002.OGG", 0.2);
  pagina_.sonido_actual = 2;
  gestor_.SetEstado(TGestorAudio::kFraseNativa);
  gestor_.PlayAudio("S00002", 1);
  {
    std::lock_guard<CriticalSection> click(pagina_.lock);
    banco_.BombearHastaElFin();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(pagina_.sonidos[2][1], 0);  // not beside the click
  }
  ASSERT_TRUE(EsperarQue([&] {
    std::lock_guard<CriticalSection> lock(pagina_.lock);
    return pagina_.sonidos[2][1] == 1;
  }));
  // An end for a playback a later start replaced does nothing.
  gestor_.SetEstado(TGestorAudio::kFraseNativa);
  gestor_.FinAudioDeStream(banco_.audio.Generacion() + 5);
  EXPECT_EQ(pagina_.sonidos[2][1], 1);
  EXPECT_EQ(gestor_.Estado(), TGestorAudio::kFraseNativa);
}

// A sound's end that waited for the page while a click stopped it and set
// up something new belongs to what was stopped: it must not drive the new
// state (here, start the student's role-play line by itself).
TEST_F(Gestor, AnEndThatWaitedBesideAStopDrivesNothingAfterIt) {
  Ogg("nat/S00003.OGG", 0.2);
  pagina_.sonido_actual = 3;
  pagina_.paginas = {{Linea(1, 40)}};
  pagina_.nombres = {"L0"};
  pagina_.rp.num_lineas = 1;
  pagina_.filas[0][0] = 0;  // the student says the first line
  gestor_.SetEstado(TGestorAudio::kFraseNativa);
  gestor_.PlayAudio("S00003", 1);
  const uint32_t generacion = banco_.audio.Generacion();
  {
    std::lock_guard<CriticalSection> click(pagina_.lock);
    banco_.BombearHastaElFin();
    // The notifier has closed the ended stream and waits for the page.
    ASSERT_TRUE(EsperarQue([&] { return !banco_.device().Running(); }));
    // The performing button: stop, set up the context, the first step.
    gestor_.StopAudio();
    pagina_.rp.modo = 2;
    pagina_.rp.finalizado = 0;
    gestor_.PlayRolePlayGrabar();
    ASSERT_EQ(gestor_.Estado(), TGestorAudio::kRolePlayEspera);
  }
  // The observer hears of the end once the end sink has returned.
  ASSERT_TRUE(banco_.EsperarAviso(TAudio::kFinOGG));
  EXPECT_EQ(gestor_.Estado(), TGestorAudio::kRolePlayEspera);
  EXPECT_FALSE(gestor_.Grabando());
  EXPECT_EQ(banco_.audio.Estado(), TAudio::kInactivo);
  EXPECT_EQ(banco_.audio.Generacion(), generacion);  // no recording was started
  EXPECT_EQ(pagina_.rp.microfono, 1);
  // The student's own press still starts the line.
  gestor_.FinAudio();
  EXPECT_EQ(gestor_.Estado(), TGestorAudio::kRolePlayGrabar);
  EXPECT_TRUE(gestor_.Grabando());
  gestor_.StopAudio();
}

}  // namespace
