// TAudio playing OGG files on the pumped null device, against a bare
// vorbisfile decode of the same bytes.
#include "tests/media/audio_support.h"
#include "tests/support/OggFixture.h"

namespace {

using audio_test::Banco;
using audio_test::EsperarQue;
using audio_test::SinSilencios;

constexpr size_t kBuffer = TAudio::kFramesOGG;

// The decode padded with zeros to whole buffers, as the last buffer is.
std::vector<int16_t> Rellenado(std::vector<int16_t> muestras) {
  muestras.resize((muestras.size() + kBuffer - 1) / kBuffer * kBuffer, 0);
  return muestras;
}

TEST(AudioOgg, WholeFilePlaysAsTheBareDecodeWithOneEnd) {
  Banco banco;
  banco.Iniciar();
  const std::string bytes = ogg_fixture::Mono22050(1.37);
  const std::string ruta = banco.Escribir("uno.ogg", bytes);
  banco.audio.PlayAudioOGG(ruta.c_str());
  EXPECT_EQ(banco.audio.Estado(), TAudio::kReproduciendo);
  banco.BombearHastaElFin();
  ASSERT_TRUE(banco.EsperarAviso(TAudio::kFinOGG));
  ASSERT_TRUE(EsperarQue([&] { return banco.Fines().size() == 1; }));
  EXPECT_EQ(banco.Fines()[0], banco.audio.Generacion());
  EXPECT_EQ(banco.audio.Estado(), TAudio::kInactivo);

  const std::vector<int16_t> esperado = Rellenado(ogg_fixture::Decodificar(bytes));
  const std::vector<int16_t> tocado = banco.LeerSalida(1);
  EXPECT_EQ(tocado.size() % kBuffer, 0u);  // every buffer handed to the device, silences too
  EXPECT_EQ(SinSilencios(tocado, kBuffer), esperado);
  EXPECT_EQ(banco.Avisos(TAudio::kFinOGG), 1);
  EXPECT_TRUE(banco.Mensajes().empty());
  EXPECT_EQ(banco.audio.PorcentajeCargado(), 100);
  EXPECT_EQ(banco.audio.BytesLeidos(), bytes.size());
  EXPECT_EQ(banco.audio.LongitudFuente(), bytes.size());
}

TEST(AudioOgg, PlayingAtAPositionStartsAtItsSample) {
  Banco banco;
  banco.Iniciar();
  const std::string bytes = ogg_fixture::Mono22050(6.5);
  const std::string ruta = banco.Escribir("seis.ogg", bytes);
  banco.audio.PlayAudioOGGPosicion(ruta.c_str(), 5000);
  banco.BombearHastaElFin();
  ASSERT_TRUE(banco.EsperarAviso(TAudio::kFinOGG));
  const std::vector<int16_t> entero = ogg_fixture::Decodificar(bytes);
  ASSERT_GT(entero.size(), 110250u);
  const std::vector<int16_t> desde(entero.begin() + 110250, entero.end());
  EXPECT_EQ(SinSilencios(banco.LeerSalida(1), kBuffer), Rellenado(desde));
}

TEST(AudioOgg, AFileOfAnotherFormatIsRefusedAndCancelled) {
  for (auto [canales, frecuencia] : {std::pair<int, long>{1, 44100}, {2, 22050}}) {
    Banco banco;
    banco.Iniciar();
    const std::string ruta = banco.Escribir(
        "otro.ogg", ogg_fixture::Codificar(ogg_fixture::Senal(frecuencia / 2, frecuencia, canales),
                                           canales, frecuencia));
    banco.audio.PlayAudioOGG(ruta.c_str());
    ASSERT_TRUE(EsperarQue([&] { return banco.audio.Estado() == TAudio::kCancelando; }));
    ASSERT_TRUE(banco.device().Pump());  // the callback reports the cancellation
    ASSERT_TRUE(banco.EsperarAviso(TAudio::kCancelOGG));
    EXPECT_EQ(banco.EsperarMensajes(1),
              std::vector<std::string>{"El fichero OGG no tiene las caracteristicas correctas."});
    for (int i = 0; i < 5; ++i) banco.device().Pump();
    EXPECT_EQ(banco.Avisos(TAudio::kCancelOGG), 1);  // once
    EXPECT_TRUE(banco.Fines().empty());
    EXPECT_EQ(banco.audio.BytesLeidos(), 0u);
  }
}

// The same stream under another serial number, so it can follow another
// as a later link of a chained file.
std::string OtraSerie(std::string bytes, uint32_t serie) {
  size_t pos = 0;
  while (pos + 27 <= bytes.size() && bytes.compare(pos, 4, "OggS") == 0) {
    auto* cabecera = reinterpret_cast<unsigned char*>(&bytes[pos]);
    const size_t segmentos = cabecera[26];
    size_t cuerpo = 0;
    for (size_t k = 0; k < segmentos; ++k) cuerpo += cabecera[27 + k];
    for (int k = 0; k < 4; ++k) cabecera[14 + k] = static_cast<unsigned char>(serie >> (8 * k));
    ogg_page pagina{cabecera, static_cast<long>(27 + segmentos), cabecera + 27 + segmentos,
                    static_cast<long>(cuerpo)};
    ogg_page_checksum_set(&pagina);
    pos += 27 + segmentos + cuerpo;
  }
  return bytes;
}

TEST(AudioOgg, ALaterLinkOfAnotherFormatIsRefusedAtThatLink) {
  for (auto [canales, frecuencia] : {std::pair<int, long>{1, 44100}, {2, 22050}}) {
    Banco banco;
    banco.Iniciar();
    const std::string bien = ogg_fixture::Mono22050(2.0);
    const std::string mal =
        OtraSerie(ogg_fixture::Codificar(ogg_fixture::Senal(frecuencia / 2, frecuencia, canales),
                                         canales, frecuencia),
                  777);
    const std::string ruta = banco.Escribir("cadena.ogg", bien + mal);
    banco.audio.PlayAudioOGG(ruta.c_str());
    // The first link plays; the second is refused when the loader reaches it.
    int bombeados = 0;
    while (banco.audio.Estado() == TAudio::kReproduciendo && bombeados < 200 &&
           banco.BombearListo()) {
      ++bombeados;
    }
    ASSERT_TRUE(EsperarQue([&] { return banco.audio.Estado() == TAudio::kCancelando; }));
    ASSERT_TRUE(banco.device().Pump());
    ASSERT_TRUE(banco.EsperarAviso(TAudio::kCancelOGG));
    EXPECT_GE(bombeados, 19);  // 2 s of the first link: twenty buffers
    EXPECT_EQ(banco.EsperarMensajes(1),
              std::vector<std::string>{"El fichero OGG no tiene las caracteristicas correctas."});
    EXPECT_TRUE(banco.Fines().empty());
    EXPECT_EQ(banco.Avisos(TAudio::kFinOGG), 0);
  }
}

TEST(AudioOgg, BytesThatAreNoOggAndAMissingFileCancel) {
  Banco banco;
  banco.Iniciar();
  const std::string ruta = banco.Escribir("basura.ogg", std::string(5000, 'x'));
  banco.audio.PlayAudioOGG(ruta.c_str());
  ASSERT_TRUE(EsperarQue([&] { return banco.audio.Estado() == TAudio::kCancelando; }));
  banco.device().Pump();
  ASSERT_TRUE(banco.EsperarAviso(TAudio::kCancelOGG));
  EXPECT_EQ(banco.EsperarMensajes(1), std::vector<std::string>{"Fichero OGG incorrecto."});
  // A file that does not open is a cancellation without a box.
  banco.audio.PlayAudioOGG(banco.Ruta("nada.ogg").c_str());
  ASSERT_TRUE(EsperarQue([&] { return banco.audio.Estado() == TAudio::kCancelando; }));
  banco.device().Pump();
  ASSERT_TRUE(EsperarQue([&] { return banco.Avisos(TAudio::kCancelOGG) == 2; }));
  EXPECT_EQ(banco.Mensajes().size(), 1u);
  EXPECT_TRUE(banco.Fines().empty());
}

TEST(AudioOgg, ACutFilePlaysWhatIsWholeAndALostPageIsSkipped) {
  Banco banco;
  banco.Iniciar();
  const std::string bytes = ogg_fixture::Mono22050(8.0);
  const std::vector<size_t> paginas = ogg_fixture::Paginas(bytes);
  ASSERT_GT(paginas.size(), 8u);
  // Cut in the middle of a page in the second half.
  const size_t corte = (paginas[paginas.size() - 3] + paginas[paginas.size() - 2]) / 2;
  const std::string cortado = bytes.substr(0, corte);
  banco.audio.PlayAudioOGG(banco.Escribir("cortado.ogg", cortado).c_str());
  banco.BombearHastaElFin();
  ASSERT_TRUE(banco.EsperarAviso(TAudio::kFinOGG));
  EXPECT_EQ(SinSilencios(banco.LeerSalida(1), kBuffer),
            Rellenado(ogg_fixture::Decodificar(cortado)));

  // A page of audio taken out of the middle.
  const std::string sin_pagina = bytes.substr(0, paginas[5]) + bytes.substr(paginas[6]);
  banco.MientrasBombea(
      [&] { banco.audio.PlayAudioOGG(banco.Escribir("hueco.ogg", sin_pagina).c_str()); });
  banco.BombearHastaElFin();
  ASSERT_TRUE(EsperarQue([&] { return banco.Avisos(TAudio::kFinOGG) == 2; }));
  const std::vector<int16_t> esperado = ogg_fixture::Decodificar(sin_pagina);
  EXPECT_GT(esperado.size(), 22050u);
  EXPECT_EQ(SinSilencios(banco.LeerSalida(2), kBuffer), Rellenado(esperado));
  EXPECT_TRUE(banco.Mensajes().empty());
}

TEST(AudioOgg, AStartDuringAPlaybackCancelsItWithoutAnEnd) {
  Banco banco;
  banco.Iniciar();
  const std::string primero = banco.Escribir("a.ogg", ogg_fixture::Mono22050(2.0));
  const std::string segundo_bytes = ogg_fixture::Mono22050(0.8);
  const std::string segundo = banco.Escribir("b.ogg", segundo_bytes);
  banco.audio.PlayAudioOGG(primero.c_str());
  const uint32_t gen_primero = banco.audio.Generacion();
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(banco.BombearListo());
  banco.MientrasBombea([&] { banco.audio.PlayAudioOGG(segundo.c_str()); });
  banco.BombearHastaElFin();
  ASSERT_TRUE(banco.EsperarAviso(TAudio::kFinOGG));
  ASSERT_TRUE(EsperarQue([&] { return banco.Fines().size() == 1; }));
  EXPECT_EQ(banco.Fines()[0], banco.audio.Generacion());
  std::vector<NotificacionAudio> avisos = banco.TodosLosAvisos();
  ASSERT_GE(avisos.size(), 2u);
  EXPECT_EQ(avisos[0].codigo, TAudio::kCancelOGG);
  EXPECT_EQ(avisos[0].generacion, gen_primero);
  EXPECT_EQ(SinSilencios(banco.LeerSalida(2), kBuffer),
            Rellenado(ogg_fixture::Decodificar(segundo_bytes)));
}

TEST(AudioOgg, AStalledLoaderGivesSilenceAndThePositionLeavesItOut) {
  Banco banco;
  banco.Iniciar();
  std::mutex mutex;
  std::condition_variable cv;
  bool suelto = false;
  banco.audio.SetHookCargaForTesting([&] {
    std::unique_lock<std::mutex> lock(mutex);
    cv.wait(lock, [&] { return suelto; });
  });
  banco.audio.PlayAudioOGG(banco.Escribir("c.ogg", ogg_fixture::Mono22050(2.0)).c_str());
  EXPECT_EQ(banco.audio.PosicionAudio(), 0u);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(banco.device().Pump());
  EXPECT_FALSE(banco.audio.Empezado());
  {
    std::lock_guard<std::mutex> lock(mutex);
    suelto = true;
  }
  cv.notify_all();
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(banco.BombearListo());
  EXPECT_TRUE(banco.audio.Empezado());
  const uint32_t posicion = banco.audio.PosicionAudio();
  EXPECT_GE(posicion, 400u);
  EXPECT_LE(posicion, 600u);
  banco.MientrasBombea([&] { banco.audio.CloseAudio(); });
  EXPECT_EQ(banco.audio.PosicionAudio(), 0u);
  const std::vector<int16_t> salida = banco.LeerSalida(1);
  ASSERT_GE(salida.size(), 8 * kBuffer);
  EXPECT_TRUE(
      std::all_of(salida.begin(), salida.begin() + 3 * kBuffer, [](int16_t v) { return v == 0; }));
}

TEST(AudioOgg, AFailedOpenOrStartLeavesItIdleAndTheNextPlayWorks) {
  Banco banco;
  banco.Iniciar();
  const std::string ruta = banco.Escribir("d.ogg", ogg_fixture::Mono22050(0.5));
  banco.device().FailNextOpen("no device");
  banco.audio.PlayAudioOGG(ruta.c_str());
  EXPECT_EQ(banco.audio.Estado(), TAudio::kInactivo);
  banco.device().FailNextStart("busy");
  banco.audio.PlayAudioOGG(ruta.c_str());
  EXPECT_EQ(banco.audio.Estado(), TAudio::kInactivo);
  EXPECT_FALSE(banco.device().Running());
  EXPECT_EQ(banco.Mensajes(),
            (std::vector<std::string>{"No se ha podido crear el stream de audio.",
                                      "No se ha podido empezar el play del audio."}));
  banco.audio.PlayAudioOGG(ruta.c_str());
  banco.BombearHastaElFin();
  ASSERT_TRUE(banco.EsperarAviso(TAudio::kFinOGG));
  ASSERT_TRUE(EsperarQue([&] { return banco.Fines().size() == 1; }));
}

TEST(AudioOgg, CloseWithStoppedCallbacksReturnsInItsBound) {
  Banco banco;
  banco.Iniciar();
  banco.audio.PlayAudioOGG(banco.Escribir("e.ogg", ogg_fixture::Mono22050(2.0)).c_str());
  ASSERT_TRUE(banco.BombearListo());
  ASSERT_TRUE(banco.BombearListo());
  banco.device().StopCallbacks(true);
  const auto inicio = std::chrono::steady_clock::now();
  banco.audio.CloseAudio();
  const auto pasado = std::chrono::steady_clock::now() - inicio;
  EXPECT_LT(pasado, std::chrono::seconds(8));
  EXPECT_EQ(banco.audio.Estado(), TAudio::kInactivo);
  EXPECT_FALSE(banco.device().Running());
  EXPECT_TRUE(banco.Fines().empty());
}

TEST(AudioOgg, AStreamClosedRightAfterItsOpenWaitsTheGuard) {
  Banco banco;
  banco.Iniciar();
  banco.audio.PlayAudioOGG(banco.Escribir("f.ogg", ogg_fixture::Mono22050(0.5)).c_str());
  const uint32_t antes = banco.clock().Now();
  banco.audio.CloseAudio();  // the clock has not moved since the open
  EXPECT_EQ(banco.clock().Now() - antes, TAudio::kGuardaCierreMs);
  banco.audio.PlayAudioOGG(banco.Ruta("f.ogg").c_str());
  banco.clock().Advance(TAudio::kGuardaCierreMs + 1);
  const uint32_t despues = banco.clock().Now();
  banco.audio.CloseAudio();
  EXPECT_EQ(banco.clock().Now(), despues);
}

TEST(AudioOgg, StartAndCancelRoundsNeverHang) {
  Banco banco;
  banco.Iniciar();
  const std::string ogg = banco.Escribir("g.ogg", ogg_fixture::Mono22050(0.4));
  const std::string str = banco.Escribir("g.STR", audio_test::CodificarSTR(audio_test::Voz(1600)));
  std::atomic<bool> fin{false};
  std::thread bomba([&] {
    while (!fin.load()) {
      if (!banco.device().Pump()) std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  });
  for (int i = 0; i < 200; ++i) {
    if (i % 3 == 0) {
      banco.audio.PlayAudioSTR(str.c_str());
    } else {
      banco.audio.PlayAudioOGG(ogg.c_str());
    }
    if (i % 7 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    banco.audio.CloseAudio();
    ASSERT_EQ(banco.audio.Estado(), TAudio::kInactivo);
  }
  fin.store(true);
  bomba.join();
  EXPECT_TRUE(banco.Mensajes().empty());
}

TEST(AudioLifecycle, IdleCallsAndTerminateWithNothingPlayed) {
  {
    Banco banco;
    banco.Iniciar();
    EXPECT_EQ(banco.audio.PosicionAudio(), 0u);
    EXPECT_FALSE(banco.audio.Empezado());
    banco.audio.FinGrabarFraseSTR();
    banco.audio.CloseAudio();
    banco.audio.Terminar();
    banco.audio.Terminar();
    EXPECT_TRUE(banco.Mensajes().empty());
  }
  {
    // Never started: nothing to stop, and a play does nothing.
    Banco banco;
    banco.audio.PlayAudioOGG(banco.Ruta("x.ogg").c_str());
    EXPECT_EQ(banco.audio.Estado(), TAudio::kInactivo);
    EXPECT_EQ(banco.device().OutputStreamsOpened(), 0u);
  }
  {
    // The loader could not be made: a play would never end, so none starts.
    ThreadRecord::FailCreationsForTesting(1);
    Banco banco;
    banco.Iniciar();
    EXPECT_EQ(banco.Mensajes(), std::vector<std::string>{"ThreadCargaAudioB creation failed."});
    banco.audio.PlayAudioOGG(banco.Ruta("x.ogg").c_str());
    EXPECT_EQ(banco.audio.Estado(), TAudio::kInactivo);
  }
}

}  // namespace
