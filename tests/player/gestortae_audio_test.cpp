// The lesson manager's page lock and put-off boxes, its seams to sound and
// animation, and the real sound side on the null audio device: a click
// plays, a long press records "S:\NAME.STR", the release compares.
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "media/NullAudioDevice.h"
#include "media/TAudio.h"
#include "media/TGestorAudio.h"
#include "tests/player/tae_page_fixture.h"

namespace tae_test {
namespace {

using Log = std::vector<std::string>;

class GestorPagina : public PageFixture {};

TEST_F(GestorPagina, ABoxAskedForUnderThePageLockIsShownOnceItIsFree) {
  tae_.MostrarError("now");
  EXPECT_EQ(mensajes_.Textos(), (Log{"now"}));
  {
    TGestorTAE::Bloqueo bloqueo(&tae_);
    TGestorTAE::Bloqueo dentro(&tae_);  // the lock nests
    tae_.MostrarError("later");
    EXPECT_EQ(mensajes_.Textos(), (Log{"now"}));
  }
  // Shown by this thread as it let go of the lock.
  EXPECT_EQ(mensajes_.Textos(), (Log{"now", "later"}));
  // A try on a lock held elsewhere fails and holds nothing.
  CriticalSection& cerrojo = tae_.CerrojoPagina();
  std::thread otro([&] {
    std::lock_guard<CriticalSection> lock(cerrojo);
    TGestorTAE::Bloqueo intento(&tae_, false);
    EXPECT_TRUE(intento.Tomado());  // the same thread may take it again
  });
  otro.join();
}

TEST_F(GestorPagina, ChangingTheFormatterStopsTheOldOnesSoundAndAnimation) {
  tae_.CambiarFormateador(formateador_.get());
  EXPECT_TRUE(audio_.log.empty());
  tae_.CambiarFormateador(formateador_.get());  // already current: nothing
  EXPECT_TRUE(audio_.log.empty());
  tae_.SoltarFormateador();
  EXPECT_EQ(audio_.log, (Log{"StopAudio"}));
  EXPECT_EQ(anim_.log, (Log{"CloseAnim"}));
  EXPECT_EQ(tae_.FormateadorActual(), nullptr);
  tae_.SoltarFormateador();
  EXPECT_EQ(audio_.log.size(), 1u);
}

TEST_F(GestorPagina, WithoutSeamsEveryCallIsSkippedAndReadsZero) {
  tae_.SetAudioPagina(nullptr);
  tae_.SetAnimPagina(nullptr);
  Pagina("<SONIDO:1,1,N>a<SONIDO:1,0><BOTON:2>");
  Clic(4, 5);
  Clic(200, 100);
  EXPECT_EQ(tae_.AudioPagina().Estado(), 0);
  EXPECT_FALSE(tae_.AnimPagina().Cargada());
  EXPECT_EQ(tae_.AnimPagina().Seccion(3), 0);
}

// A manager of its own with the real sound side on a pumped null device,
// the student's folder on S:.
class SonidoReal : public PageFixture {
 protected:
  void SetUp() override {
    PageFixture::SetUp();
    alumno_ = almacen_.folder() + "/alumno";
    std::filesystem::create_directories(alumno_);
    client_.Mount(alumno_.c_str(), 'S');
    client_.AddLocalLetter('S', "");
    real_.SetOSAL(&osal_);
    real_.SetGestorGDI(&gdi_);
    real_.SetEHDDClient(&client_);
    real_.SetCerrojoPagina(&cerrojo_);
    real_.SetDispositivoAudio(&dispositivo_);
    real_.Iniciar();
    f_.reset(TFormatae::Crear(&real_, 0, 0, 664, kAlto, kAncho, kAlto, 0, 0, 0xFFFFFF, 0xBFDFDF));
    f_->SetSlotPagina(formateador_->ftae()->slot_pagina);
    f_->SetCarpetaAudioNativo("M:\\AUDIO\\");
    f_->SetCarpetaAlumno("S:\\");
    f_->SetRectangulosVirtuales(&tabla_);
    tabla_.SetOSAL(&osal_);
    tabla_.SetGestorTAE(&real_);
    ASSERT_TRUE(tabla_.Iniciar());
    tabla_.SetFormatae(f_.get());
  }
  void TearDown() override {
    f_.reset();
    PageFixture::TearDown();
  }

  std::string alumno_;
  CriticalSection cerrojo_;
  NullAudioDevice dispositivo_{NullAudioDevice::Pacing::kPumped};
  TGestorTAE real_;
  TRectangulosVirtuales tabla_;
  std::unique_ptr<TFormatae> f_;
};

TEST_F(SonidoReal, AClickPlaysALongPressRecordsAndTheReleaseCompares) {
  f_->CargarDocumento(
      almacen_.Escribir("REALSI.TAE", "<SONIDO:1,2,NAME>hello<SONIDO:1,0>").c_str());
  real_.CambiarFormateador(f_.get());
  f_->PintarPagina(0);
  TGestorAudio& gestor = *real_.GetGestorAudio();
  EXPECT_EQ(&real_.PaginaAudio()->BloqueoPagina(), &cerrojo_);
  EXPECT_EQ(gestor.CarpetaAlumno(), "S:\\");
  EXPECT_EQ(gestor.CarpetaNativa(), "M:\\AUDIO\\");

  for (uint8_t e = 1; e <= 3; ++e) tabla_.EventoRaton(10, 5, e);
  EXPECT_EQ(gestor.Estado(), TGestorAudio::kFraseNativa);
  EXPECT_EQ(f_->itae()->sonando, 2);

  tabla_.EventoRaton(10, 5, 2);
  EXPECT_EQ(gestor.Estado(), TGestorAudio::kFraseArmada);
  EXPECT_EQ(gestor.NombreFrase(), "NAME");
  clock_.Advance(TRectangulosVirtuales::kMsPulsacionLarga);
  ASSERT_GE(tabla_.TiempoPulsado(), TRectangulosVirtuales::kMsPulsacionLarga);
  tabla_.ActivarGrabacion();
  EXPECT_TRUE(gestor.Grabando());
  EXPECT_EQ(real_.GetAudio()->Estado(), TAudio::kGrabando);
  for (int i = 0; i < 5; ++i) dispositivo_.Pump();
  tabla_.EventoRaton(10, 5, 3);
  EXPECT_FALSE(gestor.Grabando());
  EXPECT_EQ(gestor.Estado(), TGestorAudio::kCompararAlumno);
  EXPECT_EQ(f_->Sonido(2)->grabaciones, 1);
  EXPECT_TRUE(std::filesystem::exists(alumno_ + "/NAME.STR"));
}

// A pumped null device whose streams note, as they close, whether the lesson
// manager they sound for still has its three contexts.
class DispositivoTestigo : public NullAudioDevice {
 public:
  DispositivoTestigo() : NullAudioDevice(Pacing::kPumped) {}

  std::unique_ptr<AudioStream> OpenDefaultStream(const AudioStreamParams& params,
                                                 AudioCallback callback, void* user,
                                                 std::string* reason) override {
    std::unique_ptr<AudioStream> stream =
        NullAudioDevice::OpenDefaultStream(params, callback, user, reason);
    if (stream == nullptr) return stream;
    return std::make_unique<Testigo>(std::move(stream), *this);
  }

  const TGestorTAE* tae = nullptr;
  int cierres = 0;
  int cierres_sin_contextos = 0;

 private:
  class Testigo : public AudioStream {
   public:
    Testigo(std::unique_ptr<AudioStream> stream, DispositivoTestigo& d)
        : stream_(std::move(stream)), d_(d) {}
    ~Testigo() override {
      stream_.reset();
      ++d_.cierres;
      if (d_.tae != nullptr && (d_.tae->ConEjEscrito() == nullptr ||
                                d_.tae->ConRolPlay() == nullptr || d_.tae->ConSpeak() == nullptr)) {
        ++d_.cierres_sin_contextos;
      }
    }
    bool Start(std::string* reason) override { return stream_->Start(reason); }
    void Stop() override { stream_->Stop(); }
    uint32_t TimeMs() override { return stream_->TimeMs(); }

   private:
    std::unique_ptr<AudioStream> stream_;
    DispositivoTestigo& d_;
  };
};

TEST_F(GestorPagina, TheManagerStopsItsSoundBeforeItFreesTheContextsTheSoundReaches) {
  const std::string alumno = almacen_.folder() + "/alumno";
  std::filesystem::create_directories(alumno);
  client_.Mount(alumno.c_str(), 'S');
  client_.AddLocalLetter('S', "");
  DispositivoTestigo dispositivo;
  CriticalSection cerrojo;
  auto tae = std::make_unique<TGestorTAE>();
  tae->SetOSAL(&osal_);
  tae->SetGestorGDI(&gdi_);
  tae->SetEHDDClient(&client_);
  tae->SetCerrojoPagina(&cerrojo);
  tae->SetDispositivoAudio(&dispositivo);
  tae->Iniciar();
  dispositivo.tae = tae.get();
  // A recording runs (a student's role-play line, say) when the session stops.
  tae->GetAudio()->GrabarAudioSTR("S:\\LINE.STR");
  ASSERT_EQ(tae->GetAudio()->Estado(), TAudio::kGrabando);
  for (int i = 0; i < 3; ++i) dispositivo.Pump();
  tae.reset();
  EXPECT_GE(dispositivo.cierres, 1);
  EXPECT_EQ(dispositivo.cierres_sin_contextos, 0);
}

}  // namespace
}  // namespace tae_test
