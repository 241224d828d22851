// The audit save and the unit load against their bounds, in one run:
// GuardarAuditoriaUnidad of eight parts of 40 sounds and 30 exercises (the
// pause after each save skipped on a manual clock) beside write + fsync of
// the same bytes to two files, and beside the full atomic bound: each of the
// two files written to a temporary name, flushed, renamed over the file and
// its folder flushed (goal: at most 1.2 times that); the unit loader's
// sequence on the fixture unit from local volumes, block cache warm, beside
// reading the same files whole through the client (goal: under 100 ms).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ehdd/TEHDDCache.h"
#include "player/InterfaceAXNavegacion.h"
#include "player/ThreadCargaUnit.h"
#include "tests/player/audit_fixture.h"
#include "tests/player/session_fixture.h"

namespace fs = std::filesystem;

namespace {

AuditoriaBanco& Banco() {
  static AuditoriaBanco banco(std::vector<uint16_t>(8, 40), std::vector<uint16_t>(8, 30));
  return banco;
}

void BM_GuardarAuditoriaUnidad(benchmark::State& state) {
  AuditoriaBanco& banco = Banco();
  for (auto _ : state) {
    if (!banco.alumno().GuardarAuditoriaUnidad(AuditoriaBanco::kUnidad))
      state.SkipWithError("save failed");
  }
  state.SetBytesProcessed(state.iterations() * 2 * banco.alumno().Construir().ABytes().size());
}

bool WriteFsync(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
                  ::fsync(fd) == 0;
  return ::close(fd) == 0 && ok;
}

void BM_WriteFsyncTwoFilesBound(benchmark::State& state) {
  AuditoriaBanco& banco = Banco();
  const std::string bytes = banco.alumno().Construir().ABytes();
  for (auto _ : state) {
    if (!WriteFsync(banco.Fichero("BOUND.BKP"), bytes) ||
        !WriteFsync(banco.Fichero("BOUND.ALU"), bytes)) {
      state.SkipWithError("write failed");
    }
  }
  state.SetBytesProcessed(state.iterations() * 2 * bytes.size());
}

// What an atomic save of one file cannot do without: a temporary name in
// the folder, the bytes, fsync, the rename, and fsync of the folder.
bool AtomicWrite(const std::string& path, const std::string& bytes) {
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
            ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok && ::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    return false;
  }
  const int folder = ::open(fs::path(path).parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return false;
  ok = ::fsync(folder) == 0;
  return ::close(folder) == 0 && ok;
}

void BM_AtomicSaveTwoFilesBound(benchmark::State& state) {
  AuditoriaBanco& banco = Banco();
  const std::string bytes = banco.alumno().Construir().ABytes();
  for (auto _ : state) {
    if (!AtomicWrite(banco.Fichero("BOUND.BKP"), bytes) ||
        !AtomicWrite(banco.Fichero("BOUND.ALU"), bytes)) {
      state.SkipWithError("write failed");
    }
  }
  state.SetBytesProcessed(state.iterations() * 2 * bytes.size());
}

// The fixture unit mounted as its load leaves it, with a warm block cache.
struct Carga {
  UnidadFixture unidad;
  TEHDDClient cliente;
  std::unique_ptr<SesionFalsa> sesion;
  std::unique_ptr<TGestorAlumno> alumno;
  std::unique_ptr<ThreadCargaUnit> carga;
  bool ok = false;

  Carga() {
    if (!unidad.Construir() || !unidad.Auditorias()) return;
    TEHDDCache::Instance()->Iniciar("userdata", 2000, unidad.raiz());
    sesion = std::make_unique<SesionFalsa>(std::vector<int16_t>{3, 5, 2, 4, 1, 6, 2, 3}, &cliente);
    SesionAX& s = sesion->sesion;
    unidad.Preparar(cliente, s);
    s.solo_stores = 1;  // the mounts and the folders only
    InterfaceAXCargarUnit(s, UnidadFixture::kUnidad);
    alumno = std::make_unique<TGestorAlumno>(s);
    alumno->Iniciar();
    s.alumno = alumno.get();
    carga = std::make_unique<ThreadCargaUnit>(s);
    carga->CargarUnit();  // warms the cache
    ok = !alumno->AuditoriaRechazada() && sesion->documento(5).Paginas() == 6;
  }
  ~Carga() { TEHDDCache::Destroy(); }
};

Carga& SharedCarga() {
  static Carga carga;
  return carga;
}

void BM_CargarUnit(benchmark::State& state) {
  Carga& c = SharedCarga();
  if (!c.ok) {
    state.SkipWithError("fixture could not be built");
    return;
  }
  for (auto _ : state) c.carga->CargarUnit();
}

// What the load reads, read whole through the client.
void BM_LeerFicherosBound(benchmark::State& state) {
  Carga& c = SharedCarga();
  if (!c.ok) {
    state.SkipWithError("fixture could not be built");
    return;
  }
  std::vector<std::string> paths;
  for (const char* documento : ThreadCargaUnit::kDocumentos) {
    char name[32];
    std::snprintf(name, sizeof(name), documento, 7u);
    paths.push_back(std::string("U:\\") + name);
  }
  paths.push_back("S:\\C007\\AUDIT.ALU");
  paths.push_back("S:\\C007\\AUDIT.BKP");
  for (const char* skin : ThreadCargaUnit::kSkin)
    paths.push_back(std::string("X:\\HDD\\DATOS\\SKIN\\COMUN\\") + skin + ".PNG");
  std::vector<unsigned char> buffer(1 << 16);
  for (auto _ : state) {
    for (const std::string& path : paths) {
      TFicheroEHDD* f = c.cliente.Abrir(path.c_str(), 0);
      if (f == nullptr) {
        state.SkipWithError(("cannot open " + path).c_str());
        return;
      }
      while (c.cliente.Leer(buffer.data(), 1, static_cast<uint32_t>(buffer.size()), f) > 0) {
      }
      c.cliente.Cerrar(f);
    }
  }
}

}  // namespace

BENCHMARK(BM_GuardarAuditoriaUnidad)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteFsyncTwoFilesBound)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AtomicSaveTwoFilesBound)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CargarUnit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LeerFicherosBound)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
