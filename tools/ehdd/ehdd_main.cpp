// ehdd: reads and writes files by virtual path through the eHDD client, in
// local mode (volumes and folders) or against an eHDD server.
//
//   ehdd [--local-root DIR] [--local LETTERS] [--server HOST:PORT --owner NAME]
//        [--mount L=STORE]... COMMAND ARGS
//   COMMAND: cat VPATH | size VPATH | put VPATH | mkdir VPATH | sync VPATH
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ehdd/TEHDDClient.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: ehdd [--local-root DIR] [--local LETTERS] [--server HOST:PORT --owner NAME]\n"
               "            [--mount L=STORE]... COMMAND ARGS\n"
               "commands: cat VPATH | size VPATH | put VPATH | mkdir VPATH | sync VPATH\n");
  return 2;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "ehdd: %s\n", message.c_str());
  return 1;
}

int Cat(TEHDDClient& client, const std::string& vpath) {
  TFicheroEHDD* file = client.Abrir(vpath.c_str(), 0);
  if (file == nullptr) return Fail(vpath + ": not found");
  std::vector<unsigned char> buffer(64000);
  uint32_t length = 0;
  uint32_t remaining = 0;
  client.Size(file, length, remaining);
  while (remaining > 0) {
    uint32_t got = client.Leer(buffer.data(), 1, static_cast<uint32_t>(buffer.size()), file);
    if (got == 0) {
      client.Cerrar(file);
      return Fail(vpath + ": read failed");
    }
    if (std::fwrite(buffer.data(), 1, got, stdout) != got) {
      client.Cerrar(file);
      return Fail("cannot write to standard output");
    }
    client.Size(file, length, remaining);
  }
  client.Cerrar(file);
  return std::fflush(stdout) == 0 ? 0 : Fail("cannot write to standard output");
}

int Size(TEHDDClient& client, const std::string& vpath) {
  TFicheroEHDD* file = client.Abrir(vpath.c_str(), 0);
  if (file == nullptr) return Fail(vpath + ": not found");
  uint32_t length = 0;
  uint32_t remaining = 0;
  client.Size(file, length, remaining);
  client.Cerrar(file);
  std::printf("%u\n", length);
  return 0;
}

int Put(TEHDDClient& client, const std::string& vpath) {
  TFicheroEHDD* file = client.Crear(vpath.c_str());
  if (file == nullptr) return Fail(vpath + ": cannot create");
  std::vector<unsigned char> buffer(16384);
  for (;;) {
    size_t got = std::fread(buffer.data(), 1, buffer.size(), stdin);
    if (got == 0) break;
    if (client.Escribir(buffer.data(), static_cast<uint32_t>(got), file) != got) {
      client.Cerrar(file);
      return Fail(vpath + ": write failed");
    }
  }
  client.Cerrar(file);
  return 0;
}

int MakeDirectory(TEHDDClient& client, const std::string& vpath) {
  if (vpath.size() < 3 || vpath[1] != ':') return Fail(vpath + ": not a drive path");
  client.CrearDirectorio(vpath.c_str() + 2, vpath[0]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string local_root;
  std::string local_letters;
  std::string server;
  std::string owner;
  std::vector<std::pair<char, std::string>> mounts;
  int i = 1;
  for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
    std::string option = argv[i];
    if (i + 1 >= argc) return Usage();
    std::string value = argv[++i];
    if (option == "--local-root") {
      local_root = value;
    } else if (option == "--local") {
      local_letters = value;
    } else if (option == "--server") {
      server = value;
    } else if (option == "--owner") {
      owner = value;
    } else if (option == "--mount") {
      if (value.size() < 3 || value[1] != '=') return Usage();
      mounts.emplace_back(value[0], value.substr(2));
    } else {
      return Usage();
    }
  }
  if (argc - i != 2) return Usage();
  const std::string command = argv[i];
  const std::string vpath = argv[i + 1];

  TEHDDClient client;
  client.SetLocalRoot(local_root);
  for (char letter : local_letters) client.AddLocalLetter(letter, "");
  for (const auto& mount : mounts) client.Mount(mount.second.c_str(), mount.first);

  try {
    if (!server.empty()) {
      size_t colon = server.rfind(':');
      if (colon == std::string::npos) return Usage();
      long port = std::strtol(server.c_str() + colon + 1, nullptr, 10);
      if (port <= 0 || port > 65535) return Fail("bad port in " + server);
      client.Conectar(server.substr(0, colon).c_str(), owner.c_str(), static_cast<uint16_t>(port));
    }
    if (command == "cat") return Cat(client, vpath);
    if (command == "size") return Size(client, vpath);
    if (command == "put") return Put(client, vpath);
    if (command == "mkdir") return MakeDirectory(client, vpath);
    if (command == "sync") {
      client.SyncTempFile(vpath.c_str());
      return 0;
    }
  } catch (const std::string& message) {
    return Fail(message);
  }
  return Usage();
}
