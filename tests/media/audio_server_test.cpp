// An OGG read from an eHDD server that goes away in the middle of the
// playback: the lost connection is reported, the playback cancelled, and
// nothing crashes or hangs.
#include "ehdd/TEHDDCache.h"
#include "tests/media/audio_support.h"
#include "tests/support/OggFixture.h"
#include "tests/support/TestServer.h"

namespace {

using audio_test::Banco;
using audio_test::EsperarQue;

TEST(AudioServidor, ALostConnectionInAnOggReadCancelsThePlayback) {
  char pattern[] = "/tmp/lectoria-audio-server-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  std::filesystem::create_directories(dir + "/root/data");
  // Long enough that its blocks are not all fetched by the first reads.
  const std::string bytes = ogg_fixture::Mono22050(40.0, 0.6f);
  audio_test::EscribirFichero(dir + "/root/data/largo.ogg", bytes);
  TEHDDCache::Destroy();
  unsetenv("http_proxy");
  unsetenv("HTTP_PROXY");
  setenv("LECTORIA_REGISTRY_DIR", (dir + "/registry").c_str(), 1);
  {
    auto server = std::make_unique<TestServer>(dir + "/root", dir + "/log");
    ASSERT_NE(server->port(), 0);
    Banco banco(NullAudioDevice::Pacing::kPumped, false);
    banco.client.SetTimeout(1);
    banco.client.Mount("data", 'D');
    banco.client.Conectar("127.0.0.1", "alumno", server->port());
    banco.Iniciar();
    banco.audio.PlayAudioOGG("D:\\largo.ogg");
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(banco.BombearListo());
    server.reset();
    int n = 0;
    while (banco.audio.Estado() == TAudio::kReproduciendo && n++ < 2000) banco.BombearListo();
    ASSERT_EQ(banco.audio.Estado(), TAudio::kCancelando);
    banco.device().Pump();
    ASSERT_TRUE(banco.EsperarAviso(TAudio::kCancelOGG));
    EXPECT_EQ(banco.EsperarMensajes(1),
              std::vector<std::string>{"Se ha perdido la conexión con el servidor"});
    EXPECT_TRUE(banco.Fines().empty());
    banco.MientrasBombea([&] { banco.audio.CloseAudio(); });
    EXPECT_EQ(banco.audio.Estado(), TAudio::kInactivo);
  }
  unsetenv("LECTORIA_REGISTRY_DIR");
  TEHDDCache::Destroy();
  std::filesystem::remove_all(dir);
}

}  // namespace
