// lectoria-audit: shows, checks and makes a unit's audit files (plain files).
//
//   lectoria-audit dump FILE
//   lectoria-audit check FILE --counts N0:M0,N1:M1,...,N7:M7
//   lectoria-audit new FOLDER --unit U --counts N0:M0,...,N7:M7
//
// A file is read as the engine reads it: whole, and refused when it is
// empty, larger than 64 MiB, has a magic or tag that differs or a block cut
// short. Exit 0 when the command ran, 1 for a file that is missing, cannot
// be read or is damaged (and for a check that finds a mismatch), 2 for a
// bad command line.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ehdd/TEHDDClient.h"
#include "platform/Clock.h"
#include "platform/MessageBox.h"
#include "player/AuditoriaUnit.h"
#include "player/IDocumentoParte.h"
#include "player/SesionAX.h"
#include "player/TGestorAlumno.h"

namespace {

const char* const kNombresParte[8] = {"SIT", "STU", "DIC", "ROL", "GRA", "WRI", "NEW", "SPE"};

int Usage() {
  std::fprintf(stderr,
               "usage: lectoria-audit dump FILE\n"
               "       lectoria-audit check FILE --counts N0:M0,N1:M1,...,N7:M7\n"
               "       lectoria-audit new FOLDER --unit U --counts N0:M0,N1:M1,...,N7:M7\n"
               "counts: the highest sound (N) and exercise (M) numbers of the eight parts, "
               "0-65535\n");
  return 2;
}

int Fail(const std::string& what, const std::string& reason) {
  std::fprintf(stderr, "lectoria-audit: %s: %s\n", what.c_str(), reason.c_str());
  return 1;
}

// A decimal number of digits only, at most `maximum`.
bool Numero(const std::string& text, unsigned long maximum, unsigned long* value) {
  if (text.empty() || text.size() > 10) return false;
  unsigned long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned long>(c - '0');
  }
  if (v > maximum) return false;
  *value = v;
  return true;
}

bool Cuentas(const std::string& text, uint16_t n[8], uint16_t m[8]) {
  size_t start = 0;
  for (int i = 0; i < 8; ++i) {
    const size_t end = text.find(',', start);
    if ((i < 7) != (end != std::string::npos)) return false;
    const std::string pair =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const size_t colon = pair.find(':');
    unsigned long a = 0;
    unsigned long b = 0;
    if (colon == std::string::npos || !Numero(pair.substr(0, colon), 65535, &a) ||
        !Numero(pair.substr(colon + 1), 65535, &b)) {
      return false;
    }
    n[i] = static_cast<uint16_t>(a);
    m[i] = static_cast<uint16_t>(b);
    start = end + 1;
  }
  return true;
}

// Bytes 0x20-0x7E as themselves but '"' and '\', the others as \xHH.
std::string Citar(const uint8_t* bytes, size_t n) {
  std::string out = "\"";
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = bytes[i];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c <= 0x7E) {
      out += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof(hex), "\\x%02X", c);
      out += hex;
    }
  }
  return out + "\"";
}

// The bytes up to the first NUL, all of them without one.
std::string CitarHastaNul(const uint8_t* bytes, size_t n) {
  const void* nul = std::memchr(bytes, 0, n);
  return Citar(bytes,
               nul != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - bytes) : n);
}

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// Reads a plain file whole (at most one byte past the 64 MiB bound) and as
// the engine does; false with the message given when it will not serve.
bool Leer(const std::string& path, AuditoriaUnit* auditoria) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    Fail(path, errno == ENOENT ? "missing"
                               : std::string("cannot be read (") + std::strerror(errno) + ")");
    return false;
  }
  std::string bytes;
  std::vector<char> chunk(1 << 16);
  for (;;) {
    const ssize_t got = ::read(fd, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      ::close(fd);
      Fail(path, std::string("cannot be read (") + std::strerror(error) + ")");
      return false;
    }
    if (got == 0) break;
    bytes.append(chunk.data(), static_cast<size_t>(got));
    if (bytes.size() > AuditoriaUnit::kMaxBytes) break;  // enough to be refused
  }
  ::close(fd);
  const LecturaAuditoria lectura = AuditoriaUnit::DesdeBytes(bytes, auditoria);
  if (lectura.estado == LecturaAuditoria::kVacia) {
    Fail(path, "empty");
    return false;
  }
  if (lectura.estado == LecturaAuditoria::kDanada) {
    Fail(path, lectura.motivo + " at offset " + std::to_string(lectura.offset));
    return false;
  }
  return true;
}

int Dump(const std::string& path) {
  AuditoriaUnit a;
  if (!Leer(path, &a)) return 1;
  std::string out;
  auto Linea = [&out](const std::string& text) { out += text + "\n"; };
  const CabeceraAuditoria& c = a.cabecera;
  Linea("study_ms " + std::to_string(c.tiempo_estudio));
  Linea("frames " + std::to_string(c.frames));
  auto Ocho = [&](const char* name, auto&& value) {
    std::string line = name;
    for (int i = 0; i < 8; ++i) line += " " + std::to_string(value(i));
    Linea(line);
  };
  Ocho("progress", [&](int i) { return static_cast<unsigned>(c.progreso[i]); });
  Ocho("errors", [&](int i) { return static_cast<unsigned>(c.errores[i]); });
  Ocho("answers", [&](int i) { return static_cast<unsigned>(c.respuestas[i]); });
  for (int i = 0; i < 8; ++i) {
    const AuditoriaParte& p = a.partes[i];
    Linea("part " + std::to_string(i) + " " + kNombresParte[i] + " N " + std::to_string(p.n) +
          " M " + std::to_string(p.m));
    for (size_t j = 0; p.n > 0 && j <= p.n; ++j) {
      const uint8_t* s = p.sonidos.data() + j * AuditoriaUnit::kBytesSonido;
      Linea("sound " + std::to_string(j) + " " + std::to_string(s[0]) + " " + std::to_string(s[1]) +
            " " + std::to_string(s[2]) + " " + std::to_string(s[3]));
    }
    for (size_t j = 0; p.m > 0 && j <= p.m; ++j) {
      const uint8_t* e = p.ejercicios.data() + j * AuditoriaUnit::kBytesEjercicio;
      Linea("exercise " + std::to_string(j) + " type " +
            std::to_string(static_cast<int16_t>(U16(e))) + " selector " +
            std::to_string(U16(e + 2)) + " result1 " + std::to_string(e[204]) + " result2 " +
            std::to_string(e[405]) + " listens " + std::to_string(e[406]) + " recordings " +
            std::to_string(e[407]) + " comparisons " + std::to_string(e[408]) + " area1 " +
            CitarHastaNul(e + 4, 200) + " area2 " + CitarHastaNul(e + 205, 200));
    }
  }
  Linea("roleplay");
  for (int k = 0; k < 60; ++k) {
    const uint8_t* slot = a.rolplay + k * 16;
    Linea("line " + std::to_string(k) + " " + CitarHastaNul(slot, 15) + " " +
          std::to_string(slot[15]));
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int Check(const std::string& path, const uint16_t n[8], const uint16_t m[8]) {
  AuditoriaUnit a;
  if (!Leer(path, &a)) return 1;
  const DiferenciaCuentas d = a.CompararCuentas(n, m);
  if (!d.hay) {
    std::printf("match\n");
    return 0;
  }
  std::printf("mismatch part %u %c %u expected %u\n", static_cast<unsigned>(d.parte), d.campo,
              static_cast<unsigned>(d.encontrado), static_cast<unsigned>(d.esperado));
  return 1;
}

// A document as it stands right after its load: zero sound records and
// fresh exercise records for its highest numbers.
class DocumentoNuevo : public IDocumentoParte {
 public:
  DocumentoNuevo(uint16_t n, uint16_t m)
      : sonidos_((size_t{n} + 1) * AuditoriaUnit::kBytesSonido, 0),
        ejercicios_((size_t{m} + 1) * AuditoriaUnit::kBytesEjercicio, '*') {
    for (size_t j = 0; j <= m; ++j) {
      uint8_t* e = ejercicios_.data() + j * AuditoriaUnit::kBytesEjercicio;
      e[0] = e[1] = 0;  // type 0
      e[2] = 1;         // selector 1
      e[3] = 0;
      e[204] = e[405] = 0;
      e[406] = e[407] = e[408] = 0;
    }
    auditoria_.sonido_mayor = n;
    auditoria_.ejercicio_mayor = m;
    auditoria_.bufsontrat = sonidos_.data();
    auditoria_.bufejetrat = ejercicios_.data();
    auditoria_.respuestas = &respuestas_;
    auditoria_.errores = &errores_;
  }
  void Cargar(const char*) override {}
  void Preparar(platform::gfx::COLORREF, platform::gfx::COLORREF, const char*,
                const char*) override {}
  int16_t Paginas() override { return 1; }
  AuditoriaDocumento Auditoria() override { return auditoria_; }
  int SaltarPagina(uint16_t) override { return 1; }
  int PaginaAdelante() override { return 1; }
  int PaginaAtras() override { return 1; }
  void SolicitudRepintar() override {}
  uint16_t SuperficiePagina() override { return TGestorGDI::kBufferInvalido; }

 private:
  std::vector<uint8_t> sonidos_;
  std::vector<uint8_t> ejercicios_;
  uint16_t respuestas_ = 0;
  uint16_t errores_ = 0;
  AuditoriaDocumento auditoria_;
};

int New(const std::string& folder, unsigned unit, const uint16_t n[8], const uint16_t m[8]) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    return Fail(folder, "not a folder");
  }
  char resolved[PATH_MAX];
  if (::realpath(folder.c_str(), resolved) == nullptr) {
    return Fail(folder, std::string("cannot be used (") + std::strerror(errno) + ")");
  }
  char unit_folder[16];
  std::snprintf(unit_folder, sizeof(unit_folder), "C%03u", unit);
  const std::string target = std::string(resolved) + "/" + unit_folder;
  if (::mkdir(target.c_str(), 0755) != 0 && errno != EEXIST) {
    return Fail(target, std::string("cannot be made (") + std::strerror(errno) + ")");
  }
  // The engine's boxes are not this tool's output.
  platform::SetMessageSink(
      [](const std::string&, const std::string&, unsigned) { return platform::kIdOk; });
  // The pause after each save lets a server settle; plain files need none.
  platform::ManualClock clock;
  platform::ScopedClock scoped(&clock);

  TEHDDClient client;
  client.AddLocalLetter('S', "");
  // A trailing '/' keeps a folder whose name ends in ".dat" a folder.
  client.Mount((std::string(resolved) + "/").c_str(), 'S');
  SesionAX sesion;
  sesion.ehdd = &client;
  std::vector<DocumentoNuevo> documentos;
  documentos.reserve(8);
  for (int i = 0; i < 8; ++i) {
    documentos.emplace_back(n[i], m[i]);
    sesion.Unit().partes[i].formatae = &documentos.back();
  }
  TGestorAlumno alumno(sesion);
  alumno.Iniciar();
  if (!alumno.GuardarAuditoriaUnidad(static_cast<uint8_t>(unit))) {
    return Fail(target, "the audit could not be saved");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string command = argv[1];
  const std::string path = argv[2];
  std::string counts;
  std::string unit;
  bool have_counts = false;
  bool have_unit = false;
  for (int i = 3; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 >= argc) return Usage();
    if (option == "--counts" && !have_counts) {
      counts = argv[++i];
      have_counts = true;
    } else if (option == "--unit" && !have_unit && command == "new") {
      unit = argv[++i];
      have_unit = true;
    } else {
      return Usage();
    }
  }
  uint16_t n[8] = {};
  uint16_t m[8] = {};
  if (command == "dump") {
    if (have_counts || have_unit) return Usage();
    return Dump(path);
  }
  if (command == "check") {
    if (!have_counts || !Cuentas(counts, n, m)) return Usage();
    return Check(path, n, m);
  }
  if (command == "new") {
    unsigned long u = 0;
    if (!have_counts || !have_unit || !Cuentas(counts, n, m) || !Numero(unit, 255, &u) || u == 0) {
      return Usage();
    }
    return New(path, static_cast<unsigned>(u), n, m);
  }
  return Usage();
}
