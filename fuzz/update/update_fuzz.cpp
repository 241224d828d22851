// Arbitrary bytes as the update manifest "upd/manifest.qor" of a program
// folder that offers a few files (over old ones, as new ones, through a
// symbolic link, as a folder), checked and then installed.
//
// What must hold for any bytes:
// - a check changes nothing, and the install agrees with it: the same
//   outcome, and for a refusal the same reason;
// - a refused update changes nothing at all (no copy left beside a target);
// - an installed one puts each listed file's bytes at its target, leaves
//   every other file as it was and removes the manifest;
// - nothing outside the program folder is touched, and no symbolic link is
//   followed (what a link points at is never written);
// - with file operations that do not fail, an install never stops part way.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "host/qorUpdate.h"
#include "platform/FileIo.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxInput = size_t{1} << 16;

// Every entry under a folder: files by their bytes, links by their target,
// folders by a mark; links are never followed.
using Arbol = std::map<std::string, std::string>;

Arbol Leer(const fs::path& raiz) {
  Arbol arbol;
  for (auto it = fs::recursive_directory_iterator(raiz); it != fs::recursive_directory_iterator();
       ++it) {
    const std::string nombre = fs::relative(it->path(), raiz).string();
    const fs::file_status estado = it->symlink_status();
    if (fs::is_symlink(estado)) {
      arbol[nombre] = "link:" + fs::read_symlink(it->path()).string();
    } else if (fs::is_directory(estado)) {
      arbol[nombre] = "folder";
    } else {
      std::ifstream in(it->path(), std::ios::binary);
      arbol[nombre] = "file:" + std::string((std::istreambuf_iterator<char>(in)),
                                            std::istreambuf_iterator<char>());
    }
  }
  return arbol;
}

void Poner(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) std::abort();
}

// The fixed folders: root/outside (never to be touched) and root/prog, whose
// upd offers
//   velarno      "new program" (CRC 3CDEA756) over the old one;
//   data/skin.dat "new skin" (CRC 8D16ABDD) over an old one;
//   doc/new.htm  "page" (CRC 140AB620) where there is none;
//   lnk          "link target" (CRC 3D8BCBB1) over prog/lnk, a link to outside/keep;
//   up           a link to outside/keep;
//   data         a folder.
void Preparar(const fs::path& raiz, const std::string& manifest) {
  fs::remove_all(raiz);
  const fs::path fuera = raiz / "outside";
  const fs::path prog = raiz / "prog";
  fs::create_directories(fuera);
  fs::create_directories(prog / "upd" / "data");
  fs::create_directories(prog / "upd" / "doc");
  fs::create_directories(prog / "data");
  fs::create_directories(prog / "doc");
  Poner(fuera / "keep", "kept");
  Poner(prog / "velarno", "old program");
  Poner(prog / "data" / "skin.dat", "old skin");
  Poner(prog / "upd" / "velarno", "new program");
  Poner(prog / "upd" / "data" / "skin.dat", "new skin");
  Poner(prog / "upd" / "doc" / "new.htm", "page");
  Poner(prog / "upd" / "lnk", "link target");
  fs::create_symlink("../outside/keep", prog / "lnk");
  fs::create_symlink("../../outside/keep", prog / "upd" / "up");
  Poner(prog / "upd" / "manifest.qor", manifest);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  static const std::string carpeta = [] {
    char pattern[] = "/tmp/lectoria-fuzz-update-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    return std::string(pattern);
  }();
  // Flushes to disk only slow the runs down here.
  static const platform::FileOps quick_ops = [] {
    platform::FileOps ops = platform::SystemFileOps();
    ops.fsync = [](int) { return 0; };
    ops.fsync_folder = [](const std::string&) { return 0; };
    return ops;
  }();
  const fs::path raiz = fs::path(carpeta) / "r";
  const fs::path prog = raiz / "prog";
  Preparar(raiz, std::string(reinterpret_cast<const char*>(data), size));
  const Arbol antes = Leer(raiz);

  platform::SetFileOpsForTesting(&quick_ops);
  const UpdateReport comprobado = ProcessPendingUpdate(prog.string(), UpdateMode::kCheck);
  if (Leer(raiz) != antes) std::abort();
  const UpdateReport instalado = ProcessPendingUpdate(prog.string(), UpdateMode::kInstall);
  platform::SetFileOpsForTesting(nullptr);
  const Arbol despues = Leer(raiz);

  using Outcome = UpdateReport::Outcome;
  if (comprobado.outcome == Outcome::kNoUpdate || instalado.outcome == Outcome::kNoUpdate) {
    std::abort();  // the manifest is always there
  }
  if (instalado.outcome == Outcome::kFailed) std::abort();
  if (comprobado.outcome != instalado.outcome || comprobado.reason != instalado.reason ||
      comprobado.files != instalado.files) {
    std::abort();
  }
  if (instalado.outcome == Outcome::kRefused) {
    if (instalado.reason.empty() || despues != antes || instalado.restart) std::abort();
    return 0;
  }

  // Installed: the listed files at their targets, the manifest gone, the
  // rest kept (what is left in upd is not looked at).
  if (despues.count("prog/upd/manifest.qor") != 0) std::abort();
  auto FueraDeUpd = [](const Arbol& arbol) {
    Arbol fuera;
    for (const auto& [nombre, valor] : arbol) {
      if (nombre != "prog/upd" && nombre.rfind("prog/upd/", 0) != 0) fuera[nombre] = valor;
    }
    return fuera;
  };
  Arbol esperado = FueraDeUpd(antes);
  for (std::string nombre : instalado.files) {
    for (char& c : nombre) {
      if (c == '\\') c = '/';
    }
    const auto fuente = antes.find("prog/upd/" + nombre);
    if (fuente == antes.end() || fuente->second.rfind("file:", 0) != 0) std::abort();
    esperado["prog/" + nombre] = fuente->second;
  }
  if (FueraDeUpd(despues) != esperado) std::abort();
  if (instalado.restart != instalado.restart_listed) std::abort();
  return 0;
}
