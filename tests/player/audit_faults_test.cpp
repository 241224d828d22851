// Saves cut short: every step of the two atomic saves failed in turn with
// EIO, and a saving process killed at random moments. Whatever happens,
// both files stay whole, each the old or the new one, the main file never
// newer than its backup, and the next load finds the newest save reported.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "platform/FileIo.h"
#include "tests/player/audit_fixture.h"

namespace {

// Fails the k-th call of the file operation table with EIO.
struct FallarLlamada {
  explicit FallarLlamada(int k) : fallar_en(k) {
    const platform::FileOps& real = platform::SystemFileOps();
    ops = real;
    ops.open_temporary = [this, &real](std::string& name) {
      return Paso() ? real.open_temporary(name) : -1;
    };
    ops.write_at = [this, &real](int fd, const void* data, size_t n, off_t at) {
      return Paso() ? real.write_at(fd, data, n, at) : static_cast<ssize_t>(-1);
    };
    ops.chmod = [this, &real](int fd, mode_t mode) { return Paso() ? real.chmod(fd, mode) : -1; };
    ops.fsync = [this, &real](int fd) { return Paso() ? real.fsync(fd) : -1; };
    ops.close = [this, &real](int fd) {
      const int result = real.close(fd);
      return Paso() ? result : -1;
    };
    ops.rename = [this, &real](const std::string& from, const std::string& to) {
      return Paso() ? real.rename(from, to) : -1;
    };
    ops.fsync_folder = [this, &real](const std::string& folder) {
      return Paso() ? real.fsync_folder(folder) : -1;
    };
  }
  bool Paso() {
    if (++llamadas != fallar_en) return true;
    errno = EIO;
    return false;
  }
  int fallar_en;
  int llamadas = 0;
  platform::FileOps ops;
};

const std::vector<uint16_t> kCuentas(8, 2);

TEST(AuditFaults, EveryFailedStepOfTheSaveLeavesBothFilesWholeAndTheMainNeverNewer) {
  AuditoriaBanco banco(kCuentas, kCuentas);
  banco.leccion().almacenado = 1000;
  banco.alumno().ActualizarAuditoriaUnit();
  ASSERT_TRUE(banco.alumno().GuardarAuditoriaUnidad(AuditoriaBanco::kUnidad));
  const std::string viejo = banco.Leer("AUDIT.ALU");
  banco.leccion().almacenado = 2000;
  banco.documento(3).Sonido(1)[1] = 7;
  banco.alumno().ActualizarAuditoriaUnit();
  const std::string nuevo = banco.alumno().Construir().ABytes();
  ASSERT_NE(viejo, nuevo);

  int k = 1;
  for (;; ++k) {
    banco.Escribir("AUDIT.ALU", viejo);
    banco.Escribir("AUDIT.BKP", viejo);
    const size_t cajas = banco.cajas().Textos().size();
    FallarLlamada fallo(k);
    platform::SetFileOpsForTesting(&fallo.ops);
    const bool guardada = banco.alumno().GuardarAuditoriaUnidad(AuditoriaBanco::kUnidad);
    platform::SetFileOpsForTesting(nullptr);
    const std::string alu = banco.Leer("AUDIT.ALU");
    const std::string bkp = banco.Leer("AUDIT.BKP");
    EXPECT_TRUE(alu == viejo || alu == nuevo) << "call " << k;
    EXPECT_TRUE(bkp == viejo || bkp == nuevo) << "call " << k;
    EXPECT_FALSE(alu == nuevo && bkp == viejo) << "the main file newer than its backup, call " << k;
    EXPECT_EQ(banco.Entradas(), (std::vector<std::string>{"AUDIT.ALU", "AUDIT.BKP"}))
        << "call " << k;
    if (fallo.llamadas < k) {
      EXPECT_TRUE(guardada);
      EXPECT_EQ(alu, nuevo);
      EXPECT_EQ(bkp, nuevo);
      EXPECT_EQ(banco.cajas().Textos().size(), cajas);
      break;
    }
    EXPECT_FALSE(guardada) << "call " << k;
    EXPECT_EQ(banco.cajas().Textos().size(), cajas + 1) << "one box, call " << k;
  }
  // Seven steps a file: open, write, mode, flush, close, rename, folder flush.
  EXPECT_EQ(k, 15);
}

// The child: saves for ever with a rising study time, reporting each save
// that returned true.
[[noreturn]] void Guardar(AuditoriaBanco& banco, int salida, uint32_t desde) {
  for (uint32_t tiempo = desde;; ++tiempo) {
    banco.leccion().almacenado = tiempo;
    banco.alumno().ActualizarAuditoriaUnit();
    if (banco.alumno().GuardarAuditoriaUnidad(AuditoriaBanco::kUnidad)) {
      if (write(salida, &tiempo, sizeof(tiempo)) != sizeof(tiempo)) _exit(3);
    }
  }
}

TEST(AuditFaults, KilledWhileSavingTheLoadFindsASaveAtLeastAsNewAsTheLastReported) {
  AuditoriaBanco banco(kCuentas, kCuentas);
  ASSERT_TRUE(banco.alumno().GuardarAuditoriaUnidad(AuditoriaBanco::kUnidad));
  std::mt19937 azar(20240607);
  uint32_t siguiente = 1;
  for (int ronda = 0; ronda < 50; ++ronda) {
    int tubo[2];
    ASSERT_EQ(pipe(tubo), 0);
    const pid_t hijo = fork();
    ASSERT_GE(hijo, 0);
    if (hijo == 0) {
      close(tubo[0]);
      Guardar(banco, tubo[1], siguiente);
    }
    close(tubo[1]);
    uint32_t ultimo = 0;
    ASSERT_EQ(read(tubo[0], &ultimo, sizeof(ultimo)), static_cast<ssize_t>(sizeof(ultimo)));
    usleep(std::uniform_int_distribution<int>(0, 15000)(azar));
    kill(hijo, SIGKILL);
    ASSERT_EQ(waitpid(hijo, nullptr, 0), hijo);
    for (uint32_t t = 0; read(tubo[0], &t, sizeof(t)) == static_cast<ssize_t>(sizeof(t));)
      ultimo = t;
    close(tubo[0]);

    for (const char* nombre : {"AUDIT.ALU", "AUDIT.BKP"}) {
      EXPECT_EQ(AuditoriaUnit::DesdeBytes(banco.Leer(nombre), nullptr).estado,
                LecturaAuditoria::kEntera)
          << nombre << " round " << ronda;
    }
    banco.NuevaSesion();
    const TGestorAlumno::Origen origen =
        banco.alumno().LeerAuditoriaUnidad(AuditoriaBanco::kUnidad);
    EXPECT_TRUE(origen == TGestorAlumno::Origen::kPrincipal ||
                origen == TGestorAlumno::Origen::kCopia)
        << "round " << ronda;
    const uint32_t leido = banco.leccion().almacenado.load();
    EXPECT_GE(leido, ultimo) << "round " << ronda;
    siguiente = leido + 1;
  }
  EXPECT_TRUE(banco.cajas().Textos().empty());
}

}  // namespace
