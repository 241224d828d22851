// ehdd-volume: writes and inspects local volumes (NAME.FAT + NAME.DAT).
//
//   ehdd-volume build SRC_FOLDER OUT_PREFIX [--block-size N]
//   ehdd-volume list PREFIX [/PATH]
//   ehdd-volume cat PREFIX /PATH
//
// A build stamps its blocks with SOURCE_DATE_EPOCH (seconds since 1970)
// when it is set, so the same folder always gives the same volume.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "ehdd/TCacheVolumenes.h"
#include "ehdd/TVolumen.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kDefaultBlockSize = 4096;
constexpr const char* kOwner = TCacheVolumenes::kPropietario;

int Usage() {
  std::fprintf(stderr,
               "usage: ehdd-volume build SRC_FOLDER OUT_PREFIX [--block-size N]\n"
               "       ehdd-volume list PREFIX [/PATH]\n"
               "       ehdd-volume cat PREFIX /PATH\n");
  return 2;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "ehdd-volume: %s\n", message.c_str());
  return 1;
}

const char* ErrorText(TVolumen::Error error) {
  switch (error) {
    case TVolumen::Error::kNoEncontrado:
      return "not found";
    case TVolumen::Error::kEsDirectorio:
      return "is a directory";
    case TVolumen::Error::kNoEsDirectorio:
      return "not a directory";
    case TVolumen::Error::kDanado:
      return "damaged volume";
    case TVolumen::Error::kExiste:
      return "already exists";
    case TVolumen::Error::kLleno:
      return "volume full";
    case TVolumen::Error::kNombre:
      return "name too long";
    default:
      return "failed";
  }
}

// ASCII upper-casing: the names the client looks up.
std::string Upper(std::string name) {
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return name;
}

int BuildFolder(TVolumen& volume, const fs::path& folder, const std::string& inner) {
  std::vector<fs::directory_entry> entries;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) entries.push_back(entry);
  if (ec) return Fail(folder.string() + ": " + ec.message());
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });
  std::set<std::string> names;
  for (const auto& entry : entries) {
    const std::string name = Upper(entry.path().filename().string());
    const std::string path = inner + "/" + name;
    if (!names.insert(name).second) return Fail(path + ": two names differ only in case");
    if (entry.is_directory()) {
      if (!volume.CrearDirectorio(path, kOwner)) return Fail(path + ": " + ErrorText(volume.ultimo_error()));
      if (int rc = BuildFolder(volume, entry.path(), path)) return rc;
    } else if (entry.is_regular_file()) {
      TFicheroVolumen record = volume.AbrirFichero(path, "w", kOwner);
      if (record.nombre.empty()) return Fail(path + ": " + ErrorText(volume.ultimo_error()));
      std::ifstream in(entry.path(), std::ios::binary);
      std::vector<char> chunk(1 << 16);
      while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        std::streamsize got = in.gcount();
        if (got <= 0) break;
        if (volume.Escribir(record, chunk.data(), static_cast<uint32_t>(got)) != got) {
          return Fail(path + ": " + ErrorText(volume.ultimo_error()));
        }
      }
      volume.CerrarFichero(record);
    }
  }
  return 0;
}

// SOURCE_DATE_EPOCH as block time; false when it is set but not a time a
// block header can hold (1 to 2^32 - 1 seconds).
bool FixBlockTime() {
  const char* text = std::getenv("SOURCE_DATE_EPOCH");
  if (text == nullptr || *text == '\0') return true;
  char* end = nullptr;
  errno = 0;
  const unsigned long long seconds = std::strtoull(text, &end, 10);
  if (*end != '\0' || errno != 0 || text[0] == '-' || seconds == 0 || seconds > 0xFFFFFFFFull) {
    return false;
  }
  volumen::FijarAhora(static_cast<uint32_t>(seconds));
  return true;
}

int Build(const std::string& source, const std::string& prefix, uint32_t block_size) {
  if (!fs::is_directory(source)) return Fail(source + ": not a folder");
  if (block_size <= 289) return Fail("block size must be above 289");
  if (!FixBlockTime()) {
    return Fail(std::string("bad SOURCE_DATE_EPOCH '") + std::getenv("SOURCE_DATE_EPOCH") + "'");
  }
  if (!TVolumen::Crear(prefix, fs::path(prefix).filename().string(), block_size)) {
    return Fail(prefix + ": cannot create the volume files");
  }
  TVolumen volume;
  if (!volume.Abrir(prefix, true)) return Fail(prefix + ": cannot open the new volume");
  return BuildFolder(volume, source, "");
}

bool OpenVolume(TVolumen& volume, const std::string& prefix) {
  if (volume.Abrir(prefix)) return true;
  if (!fs::exists(prefix + ".FAT") || !fs::exists(prefix + ".DAT")) {
    Fail(prefix + ": not found");
  } else {
    Fail(prefix + ": damaged volume");
  }
  return false;
}

int List(const std::string& prefix, const std::string& path) {
  TVolumen volume;
  if (!OpenVolume(volume, prefix)) return 1;
  uint32_t block = 0;
  if (!volume.BuscarDirectorio(path, &block))
    return Fail(path + ": " + ErrorText(volume.ultimo_error()));
  std::vector<TEntradaDirectorio> entries;
  if (!volume.Listar(block, "full", entries)) return Fail(path + ": damaged volume");
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.nombre < b.nombre; });
  for (const auto& e : entries) {
    std::printf("%c %u %s\n", e.tipo == 1 ? 'd' : 'f', e.tipo == 1 ? 0u : e.size, e.nombre.c_str());
  }
  return 0;
}

int Cat(const std::string& prefix, const std::string& path) {
  TVolumen volume;
  if (!OpenVolume(volume, prefix)) return 1;
  TFicheroVolumen record = volume.AbrirFichero(path, "r", kOwner);
  if (record.nombre.empty()) return Fail(path + ": " + ErrorText(volume.ultimo_error()));
  const int64_t size = volume.Size(record);
  if (size < 0) return Fail(path + ": damaged volume");
  std::vector<char> chunk(1 << 16);
  int64_t done = 0;
  while (done < size) {
    int64_t got = volume.Leer(record, chunk.data(), static_cast<uint32_t>(chunk.size()));
    if (got <= 0) return Fail(path + ": damaged volume");
    if (std::fwrite(chunk.data(), 1, static_cast<size_t>(got), stdout) !=
        static_cast<size_t>(got)) {
      return Fail("cannot write to standard output");
    }
    done += got;
  }
  volume.CerrarFichero(record);
  return std::fflush(stdout) == 0 ? 0 : Fail("cannot write to standard output");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  const std::string command = args[0];
  if (command == "build") {
    uint32_t block_size = kDefaultBlockSize;
    std::vector<std::string> rest;
    for (size_t i = 1; i < args.size(); ++i) {
      if (args[i] == "--block-size") {
        if (i + 1 >= args.size()) return Usage();
        char* end = nullptr;
        unsigned long v = std::strtoul(args[++i].c_str(), &end, 10);
        if (*end != '\0' || v > volumen::kMaxTamBloque) return Fail("bad block size " + args[i]);
        block_size = static_cast<uint32_t>(v);
      } else {
        rest.push_back(args[i]);
      }
    }
    if (rest.size() != 2) return Usage();
    return Build(rest[0], rest[1], block_size);
  }
  if (command == "list" && (args.size() == 2 || args.size() == 3)) {
    return List(args[1], args.size() == 3 ? args[2] : "/");
  }
  if (command == "cat" && args.size() == 3) return Cat(args[1], args[2]);
  return Usage();
}
