// The ServerEHDD channel and the local copy of the audit: each code, what
// emptying the cache folder spares, the copy's name (its student and its
// store), the copy's files and their order under failing writes, the check
// of the store against the copy under failing steps, and copies of two
// stores side by side.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "base/Checksums.h"
#include "ehdd/TEHDDCache.h"
#include "ehdd/TEHDDClient.h"
#include "platform/FileIo.h"
#include "player/AuditoriaUnit.h"
#include "player/ServerEHDD.h"
#include "player/TGestorAlumno.h"
#include "player/ThreadCargaUnit.h"
#include "tests/player/control_fixture.h"

namespace fs = std::filesystem;

namespace {

// Fails the n-th call of any file operation through the platform's table
// (EIO), counting every call, while it lives.
class FalloEnLaLlamada {
 public:
  explicit FalloEnLaLlamada(int n) : n_(n) {
    using platform::SystemFileOps;
    ops_ = SystemFileOps();
    ops_.open = [this](const std::string& p, int f, mode_t m) {
      return Falla() ? Error() : SystemFileOps().open(p, f, m);
    };
    ops_.open_temporary = [this](std::string& t) {
      return Falla() ? Error() : SystemFileOps().open_temporary(t);
    };
    ops_.read_at = [this](int fd, void* b, size_t s, off_t at) -> ssize_t {
      return Falla() ? Error() : SystemFileOps().read_at(fd, b, s, at);
    };
    ops_.write_at = [this](int fd, const void* d, size_t s, off_t at) -> ssize_t {
      return Falla() ? Error() : SystemFileOps().write_at(fd, d, s, at);
    };
    ops_.chmod = [this](int fd, mode_t m) { return Falla() ? Error() : SystemFileOps().chmod(fd, m); };
    ops_.fsync = [this](int fd) { return Falla() ? Error() : SystemFileOps().fsync(fd); };
    ops_.rename = [this](const std::string& a, const std::string& b) {
      return Falla() ? Error() : SystemFileOps().rename(a, b);
    };
    ops_.unlink = [this](const std::string& p) {
      return Falla() ? Error() : SystemFileOps().unlink(p);
    };
    ops_.fsync_folder = [this](const std::string& f) {
      return Falla() ? Error() : SystemFileOps().fsync_folder(f);
    };
    ops_.stat = [this](const std::string& p, struct stat* st) {
      return Falla() ? Error() : SystemFileOps().stat(p, st);
    };
    platform::SetFileOpsForTesting(&ops_);
  }
  ~FalloEnLaLlamada() { platform::SetFileOpsForTesting(nullptr); }
  FalloEnLaLlamada(const FalloEnLaLlamada&) = delete;
  FalloEnLaLlamada& operator=(const FalloEnLaLlamada&) = delete;
  int llamadas() const { return llamadas_; }

 private:
  bool Falla() { return ++llamadas_ == n_; }
  static int Error() {
    errno = EIO;
    return -1;
  }
  const int n_;
  int llamadas_ = 0;
  platform::FileOps ops_;
};

// Temporary files of atomic saves left in a folder.
int Temporales(const std::string& carpeta) {
  int n = 0;
  for (const auto& e : fs::directory_iterator(carpeta)) {
    const std::string nombre = e.path().filename();
    n += nombre.find(".QOR.") != std::string::npos || nombre.find(".QOL.") != std::string::npos ||
         nombre.find(".ALU.") != std::string::npos;
  }
  return n;
}

class Canal : public ControlTest {
 protected:
  void SetUp() override {
    raiz_ = temp_ + "course/";
    fs::create_directories(raiz_ + "userdata/work/C007");
    fs::create_directories(temp_ + "eHDD");
    cliente_.SetLocalRoot(raiz_);
    cliente_.AddLocalLetter('S', "");
    cliente_.Mount("userdata\\work", 'S');
    SesionAX& s = Motor().sesion;
    s.ehdd = &cliente_;
    s.alumno = &alumno_;
    s.unidad = 7;
    s.nombre_alumno = "userdata";
    s.modo_navegacion = 0;
    alumno_.Iniciar();
    InterfaceAXServerEHDD("127.0.0.1", "127.0.0.1", 80, 10);
    ASSERT_EQ(Motor().canal.nombre_cache, CacheName("userdata"));
    NombrarCopiaLocal();
    ASSERT_FALSE(Motor().canal.nombre_copia.empty());
  }
  void TearDown() override {
    SesionAX& s = Motor().sesion;
    s.ehdd = nullptr;
    s.alumno = nullptr;
    s.unidad = 0;
    s.nombre_alumno.clear();
  }
  std::string Cache(const char* extension) const {
    return temp_ + "eHDD/" + Motor().canal.nombre_copia + extension;
  }
  std::string Main() const { return raiz_ + "userdata/work/C007/AUDIT.ALU"; }
  std::string Backup() const { return raiz_ + "userdata/work/C007/AUDIT.BKP"; }
  static void Escribir(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::string Audit() { return alumno_.Construir().ABytes(); }

  std::string raiz_;
  TEHDDClient cliente_;
  TGestorAlumno alumno_{Motor().sesion};
};

TEST_F(Canal, EachCodeSetsItsSetting) {
  CanalServerEHDD& c = Motor().canal;
  InterfaceAXServerEHDD("/c/", "/c/", 1, 3232);
  EXPECT_EQ(c.modo_local, 1);
  EXPECT_EQ(c.raiz_local, "/c/");
  InterfaceAXServerEHDD("/d/", "/d/", 0, 3232);
  EXPECT_EQ(c.modo_local, 0);
  EXPECT_EQ(c.raiz_local, "/d/");
  InterfaceAXServerEHDD("", "", 1, 4242);
  EXPECT_EQ(Motor().sesion.solo_stores.load(), 1u);
  InterfaceAXServerEHDD("", "", 0, 4242);
  EXPECT_EQ(Motor().sesion.solo_stores.load(), 0u);
  const std::string nombre = c.nombre_cache;
  Motor().sesion.nombre_alumno = "otro";
  InterfaceAXServerEHDD("10.0.0.9", "10.0.0.9", 8081, 6002);
  EXPECT_EQ(c.sin_guardar_auditoria, 1);
  EXPECT_EQ(c.servidor, "10.0.0.9");
  EXPECT_EQ(c.puerto, 8081);
  EXPECT_EQ(c.nombre_cache, nombre);  // 6002 leaves the cache name
  InterfaceAXServerEHDD("abc", "abc", 0, 6003);
  EXPECT_EQ(c.etiqueta, "[Tabc");
  InterfaceAXServerEHDD("", "", 0, 6003);
  EXPECT_EQ(c.etiqueta, "");
  InterfaceAXServerEHDD("x", "x", 1, 2323);
  EXPECT_EQ(c.servidor, "10.0.0.9");
  InterfaceAXServerEHDD("host", "host", 0x10050, 70000);  // taken as 16 bits: 80 and 4464
  EXPECT_EQ(c.sin_guardar_auditoria, 0);
  EXPECT_EQ(c.puerto, 80);
  EXPECT_EQ(c.nombre_cache, CacheName("otro"));
}

TEST_F(Canal, EmptyingTheCacheFolderSparesTheCopyAndFolders) {
  const std::string e = temp_ + "eHDD/";
  for (const char* n : {"A.QOL", "b.qor", "C.QoR", "D.LCK", "e.lck", "blocks", "x.tmp", "CMP.QOR.bak"})
    Escribir(e + n, "x");
  fs::create_directories(e + "sub");
  fs::create_symlink(e + "blocks", e + "link");
  // The block cache's slot file is open: it stays.
  ASSERT_EQ(TEHDDCache::Instance()->Iniciar("userdata", 16), 0);
  ASSERT_TRUE(TEHDDCache::Instance()->persistente());
  const std::string slots = fs::path(TEHDDCache::Instance()->slots().path()).filename();
  Motor().cache_iniciada = true;
  InterfaceAXServerEHDD("", "", 0, 5252);
  Motor().cache_iniciada = false;
  TEHDDCache::Destroy();
  std::vector<std::string> quedan;
  for (const auto& entry : fs::directory_iterator(e)) quedan.push_back(entry.path().filename());
  std::sort(quedan.begin(), quedan.end());
  std::vector<std::string> esperado = {"A.QOL", "C.QoR", "D.LCK", "b.qor", "e.lck", "link", "sub", slots};
  std::sort(esperado.begin(), esperado.end());
  EXPECT_EQ(quedan, esperado);
}

TEST_F(Canal, TheCopyIsTheUnitNumberAndTheWholeAudit) {
  ASSERT_TRUE(GuardarCopiaLocalAuditoria());
  EXPECT_EQ(Leido(Cache(".QOL")), std::string("7\0", 2));
  EXPECT_EQ(Leido(Cache(".QOR")), Audit());
  uint8_t unidad = 0;
  EXPECT_TRUE(HayCopiaLocalAuditoria(unidad));
  EXPECT_EQ(unidad, 7);
  // Under the no-save code there is no copy, and none is seen.
  InterfaceAXServerEHDD("h", "h", 80, 6002);
  EXPECT_FALSE(HayCopiaLocalAuditoria(unidad));
  fs::remove(Cache(".QOL"));
  EXPECT_FALSE(GuardarCopiaLocalAuditoria());
  EXPECT_FALSE(fs::exists(Cache(".QOL")));
}

TEST_F(Canal, ARefusedAuditOrNavigationModeWritesNoCopy) {
  Motor().sesion.modo_navegacion = 1;
  EXPECT_TRUE(GuardarCopiaLocalAuditoria());
  EXPECT_FALSE(fs::exists(Cache(".QOR")));
  Motor().sesion.modo_navegacion = 0;
  alumno_.RechazarAuditoria();
  EXPECT_FALSE(GuardarCopiaLocalAuditoria());
  EXPECT_FALSE(fs::exists(Cache(".QOR")));
  EXPECT_FALSE(fs::exists(Cache(".QOL")));
}

TEST_F(Canal, APendingCopyNeedsANonZeroUnitAndItsAuditFile) {
  uint8_t unidad = 0;
  Escribir(Cache(".QOL"), std::string("0\0", 2));
  Escribir(Cache(".QOR"), Audit());
  EXPECT_FALSE(HayCopiaLocalAuditoria(unidad));
  EXPECT_FALSE(SincronizarCopiaLocalAuditoria());
  EXPECT_TRUE(fs::exists(Cache(".QOR")));  // left alone
  EXPECT_FALSE(fs::exists(Main()));
  Escribir(Cache(".QOL"), std::string("7\0", 2));
  fs::remove(Cache(".QOR"));
  EXPECT_FALSE(HayCopiaLocalAuditoria(unidad));
}

TEST_F(Canal, AMainFileEqualToTheCopyEndsTheCheck) {
  ASSERT_TRUE(GuardarCopiaLocalAuditoria());
  Escribir(Main(), Audit());
  fs::last_write_time(Main(), fs::file_time_type::clock::now() - std::chrono::hours(2));
  const auto antes = fs::last_write_time(Main());
  EXPECT_TRUE(SincronizarCopiaLocalAuditoria());
  EXPECT_EQ(fs::last_write_time(Main()), antes);  // nothing uploaded
  EXPECT_FALSE(fs::exists(Cache(".QOL")));
  EXPECT_FALSE(fs::exists(Cache(".QOR")));
  EXPECT_FALSE(fs::exists(temp_ + "eHDD/CMP.QOR"));
}

TEST_F(Canal, OnlyTheBackupEqualStillUploadsTheMainFile) {
  ASSERT_TRUE(GuardarCopiaLocalAuditoria());
  Escribir(Backup(), Audit());
  Escribir(Main(), "older");
  EXPECT_TRUE(SincronizarCopiaLocalAuditoria());
  EXPECT_EQ(Leido(Main()), Audit());
  EXPECT_FALSE(fs::exists(Cache(".QOR")));
}

TEST_F(Canal, BothStoreFilesDifferingGetTheMainFileUploadedAndChecked) {
  ASSERT_TRUE(GuardarCopiaLocalAuditoria());
  Escribir(Backup(), "older backup");
  Escribir(Main(), "older");
  EXPECT_TRUE(SincronizarCopiaLocalAuditoria());
  EXPECT_EQ(Leido(Main()), Audit());
  EXPECT_EQ(Leido(Backup()), "older backup");  // only the main file is written
  EXPECT_FALSE(fs::exists(Cache(".QOL")));
  EXPECT_FALSE(fs::exists(temp_ + "eHDD/CMP.QOR"));
}

TEST_F(Canal, AStoreThatCannotBeWrittenKeepsTheCopyForTheNextStart) {
  ASSERT_TRUE(GuardarCopiaLocalAuditoria());
  fs::create_directories(Main());  // neither read nor replaced
  EXPECT_FALSE(SincronizarCopiaLocalAuditoria());
  EXPECT_EQ(Leido(Cache(".QOR")), Audit());
  uint8_t unidad = 0;
  EXPECT_TRUE(HayCopiaLocalAuditoria(unidad));
}

TEST_F(Canal, ACopyShorterThanTheSmallestAuditIsNeverUploaded) {
  const std::string audit = Audit();
  ASSERT_EQ(audit.size(), kBytesAuditoriaMinima);
  Escribir(Cache(".QOL"), std::string("7\0", 2));
  Escribir(Cache(".QOR"), audit.substr(0, kBytesAuditoriaMinima - 1));
  Escribir(Main(), "the learner's own");
  EXPECT_FALSE(SincronizarCopiaLocalAuditoria());
  EXPECT_EQ(Leido(Main()), "the learner's own");
  EXPECT_FALSE(fs::exists(Cache(".QOL")));
  EXPECT_EQ(Leido(Cache(".BAD")).size(), kBytesAuditoriaMinima - 1);
  // At the smallest size it is an audit and goes up.
  Escribir(Cache(".QOL"), std::string("7\0", 2));
  Escribir(Cache(".QOR"), audit);
  EXPECT_TRUE(SincronizarCopiaLocalAuditoria());
  EXPECT_EQ(Leido(Main()), audit);
  // Another magic is not an audit either.
  Escribir(Cache(".QOL"), std::string("7\0", 2));
  Escribir(Cache(".QOR"), "XLUMNOVe1.0    " + audit.substr(15));
  EXPECT_FALSE(SincronizarCopiaLocalAuditoria());
  EXPECT_EQ(Leido(Main()), audit);
}

TEST_F(Canal, AFailingWriteAnywhereLeavesNoPendingPairButAWholeOne) {
  const std::string audit = Audit();
  int total = -1;
  for (int n = 1; n < 60; ++n) {
    fs::remove(Cache(".QOL"));
    fs::remove(Cache(".QOR"));
    // An earlier, different pending copy.
    Escribir(Cache(".QOL"), std::string("9\0", 2));
    Escribir(Cache(".QOR"), "old copy");
    bool ok = false;
    int llamadas = 0;
    {
      FalloEnLaLlamada fallo(n);
      ok = GuardarCopiaLocalAuditoria();
      llamadas = fallo.llamadas();
    }
    // Pending: the earlier pair whole, or the new one whole.
    uint8_t unidad = 0;
    const bool pendiente = HayCopiaLocalAuditoria(unidad);
    const std::string qor = Leido(Cache(".QOR"));
    const bool nueva = pendiente && unidad == 7 && qor == audit;
    if (pendiente) {
      EXPECT_TRUE(nueva || (unidad == 9 && qor == "old copy")) << "failing call " << n;
    }
    EXPECT_TRUE(!ok || nueva) << "failing call " << n;
    EXPECT_EQ(Temporales(temp_ + "eHDD"), 0) << "failing call " << n;
    if (llamadas < n) {
      EXPECT_TRUE(ok);
      total = n;
      break;
    }
  }
  EXPECT_GT(total, 8);  // every step was failed once before a run went through
}

TEST_F(Canal, AFailingStepOfTheCheckLeavesTheOldOrTheNewAuditAndAWholeCopyOrNone) {
  const std::string audit = Audit();
  int total = -1;
  for (int n = 1; n < 200; ++n) {
    fs::remove(Cache(".QOL"));
    fs::remove(Cache(".QOR"));
    Escribir(Main(), "older");
    ASSERT_TRUE(GuardarCopiaLocalAuditoria());
    bool ok = false;
    int llamadas = 0;
    {
      FalloEnLaLlamada fallo(n);
      ok = SincronizarCopiaLocalAuditoria();
      llamadas = fallo.llamadas();
    }
    const std::string main = Leido(Main());
    EXPECT_TRUE(main == "older" || main == audit) << "failing call " << n;
    uint8_t unidad = 0;
    if (HayCopiaLocalAuditoria(unidad)) {
      EXPECT_EQ(Leido(Cache(".QOR")), audit) << "failing call " << n;
    } else {
      // Cleared only once the store holds it.
      EXPECT_FALSE(fs::exists(Cache(".QOL"))) << "failing call " << n;
      EXPECT_EQ(main, audit) << "failing call " << n;
    }
    EXPECT_TRUE(!ok || main == audit) << "failing call " << n;
    EXPECT_EQ(Temporales(raiz_ + "userdata/work/C007"), 0) << "failing call " << n;
    if (llamadas < n) {
      EXPECT_TRUE(ok);
      EXPECT_FALSE(fs::exists(Cache(".QOL")));
      EXPECT_FALSE(fs::exists(Cache(".QOR")));
      total = n;
      break;
    }
  }
  EXPECT_GT(total, 10);
}

TEST_F(Canal, TheCopyNameCarriesTheStudentAndTheStore) {
  CanalServerEHDD& c = Motor().canal;
  auto nombre = [&] {
    NombrarCopiaLocal();
    return c.nombre_copia;
  };
  c.servidor = "Host.Example";
  c.puerto = 80;
  const std::string servidor = nombre();
  EXPECT_EQ(servidor.rfind(CacheName("userdata") + "_", 0), 0u);
  // The alternate port and the host's case name the same server.
  c.puerto = 6002;
  EXPECT_EQ(nombre(), servidor);
  c.servidor = "host.example";
  EXPECT_EQ(nombre(), servidor);
  c.servidor = "host.example2";
  EXPECT_NE(nombre(), servidor);
  EXPECT_EQ(RutaCerrojoAlumno(), temp_ + "eHDD/" + c.nombre_copia + ".LCK");
  // Local: the folder's real path, however it is written.
  c.modo_local = 1;
  c.raiz_local = raiz_;
  const std::string local = nombre();
  fs::create_directory_symlink(raiz_, temp_ + "alias");
  c.raiz_local = temp_ + "alias/";
  EXPECT_EQ(nombre(), local);
  c.raiz_local = raiz_ + "userdata/../.";
  EXPECT_EQ(nombre(), local);
  EXPECT_EQ(RutaCerrojoAlumno(), platform::RealPath(raiz_) + "/userdata/work.lck");
  fs::create_directories(temp_ + "other");
  c.raiz_local = temp_ + "other";
  EXPECT_NE(nombre(), local);
  EXPECT_NE(nombre(), servidor);
  // Another student of the same folder.
  c.raiz_local = raiz_;
  Motor().sesion.nombre_alumno = "otro";
  EXPECT_NE(nombre(), local);
  Motor().sesion.nombre_alumno = "userdata";
  // With no name yet there is no copy to write or find.
  c.nombre_copia.clear();
  EXPECT_FALSE(GuardarCopiaLocalAuditoria());
  uint8_t unidad = 0;
  EXPECT_FALSE(HayCopiaLocalAuditoria(unidad));
  EXPECT_EQ(RutaCerrojoAlumno(), "");
}

TEST_F(Canal, ACopyOfAnotherStoreIsLeftForItsOwnSession) {
  // Store A (this server) keeps a copy pending.
  ASSERT_TRUE(GuardarCopiaLocalAuditoria());
  const std::string copia_a = Audit();
  const std::string qol_a = Cache(".QOL"), qor_a = Cache(".QOR");
  // A session of store B, same student and unit.
  Motor().canal.servidor = "b.example";
  NombrarCopiaLocal();
  Escribir(Main(), "B's own");
  uint8_t unidad = 0;
  EXPECT_FALSE(HayCopiaLocalAuditoria(unidad));
  EXPECT_FALSE(SincronizarCopiaLocalAuditoria());
  EXPECT_EQ(Leido(Main()), "B's own");
  // B's own copy is written, checked and cleared beside A's.
  alumno_.SumarFrameMostrado();
  const std::string copia_b = Audit();
  ASSERT_NE(copia_b, copia_a);
  ASSERT_TRUE(GuardarCopiaLocalAuditoria());
  EXPECT_NE(Cache(".QOR"), qor_a);
  EXPECT_TRUE(SincronizarCopiaLocalAuditoria());
  EXPECT_EQ(Leido(Main()), copia_b);
  EXPECT_FALSE(fs::exists(Cache(".QOL")));
  EXPECT_EQ(Leido(qol_a), std::string("7\0", 2));
  EXPECT_EQ(Leido(qor_a), copia_a);
  // A's next session uploads A's copy and clears it.
  Motor().canal.servidor = "127.0.0.1";
  NombrarCopiaLocal();
  EXPECT_TRUE(SincronizarCopiaLocalAuditoria());
  EXPECT_EQ(Leido(Main()), copia_a);
  EXPECT_FALSE(fs::exists(qol_a));
  EXPECT_FALSE(fs::exists(qor_a));
}

TEST_F(Canal, TwoStoresUnloadingTogetherEachKeepTheirOwn) {
  const std::string raiz_b = temp_ + "course2/";
  fs::create_directories(raiz_b + "userdata/work/C007");
  CanalServerEHDD& c = Motor().canal;
  c.modo_local = 1;
  auto store = [&](const std::string& raiz) {
    c.raiz_local = raiz;
    cliente_.SetLocalRoot(raiz);
    NombrarCopiaLocal();
  };
  // A writes its copy and its audit; B does the same before A's check.
  store(raiz_);
  ASSERT_TRUE(GuardarCopiaLocalAuditoria());
  const std::string de_a = Audit();
  Escribir(Main(), de_a);
  store(raiz_b);
  alumno_.SumarFrameMostrado();
  const std::string de_b = Audit();
  ASSERT_TRUE(GuardarCopiaLocalAuditoria());
  Escribir(raiz_b + "userdata/work/C007/AUDIT.ALU", de_b);
  // Each check finds its own store holding its own copy.
  store(raiz_);
  EXPECT_TRUE(SincronizarCopiaLocalAuditoria());
  store(raiz_b);
  EXPECT_TRUE(SincronizarCopiaLocalAuditoria());
  EXPECT_EQ(Leido(Main()), de_a);
  EXPECT_EQ(Leido(raiz_b + "userdata/work/C007/AUDIT.ALU"), de_b);
}

}  // namespace

namespace {

// The figures read whole: the host sums them as ints.
TEST_F(Canal, AnswersAndErrorsReadTheirWholeCounters) {
  CAXeTAE* c = Nuevo();
  SesionAX& s = Motor().sesion;
  s.alumno = &alumno_;
  fakes::Documento documento(1);
  documento.Cargar("U:\\X.TAE");
  // The writing part keeps its document's counters.
  s.Unit().partes[5].formatae = &documento;
  s.Unit().activa = 1;
  ThreadCargaUnit carga(s);
  s.carga_unit = &carga;
  Motor().auditoria_seleccionada = 5;
  // Nothing is read before the loader has read the audit.
  EXPECT_EQ(Leer(c, lectoria::kDispAnswersAuditoria), 0);
  carga.CargarUnit();  // no audit yet: a first study of the unit
  ASSERT_TRUE(carga.AuditoriaCargada());
  documento.respuestas() = 300;
  documento.errores() = 65535;
  alumno_.ActualizarParte(5);
  EXPECT_EQ(Leer(c, lectoria::kDispAnswersAuditoria), 300);
  EXPECT_EQ(Leer(c, lectoria::kDispErrorsAuditoria), 65535);
  {
    // A worker that keeps the audit lock (a save at the unit stop) is not
    // waited for: the figure last read is given again. The worker lets go
    // only once the read has returned (or after 5 s, failing the test).
    std::promise<void> tomado;
    std::promise<void> leido;
    std::thread guardado([&] {
      std::lock_guard<CriticalSection> lock(s.cerrojo_auditoria);
      tomado.set_value();
      EXPECT_EQ(leido.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
    });
    tomado.get_future().wait();
    documento.respuestas() = 301;
    EXPECT_EQ(Leer(c, lectoria::kDispAnswersAuditoria), 300);
    leido.set_value();
    guardado.join();
  }
  // A selection past the eight parts reads 0.
  Motor().auditoria_seleccionada = 8;
  EXPECT_EQ(Leer(c, lectoria::kDispAnswersAuditoria), 0);
  Motor().auditoria_seleccionada = 0;
  s.Unit().activa = 0;
  s.Unit().partes[5].formatae = nullptr;
  s.carga_unit = nullptr;
}

}  // namespace
