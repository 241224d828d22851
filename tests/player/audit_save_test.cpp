// The client side of the audit: whole files saved atomically (local
// folders, the plain-local switch, a server store; containers refused), and
// the reason a failed open gives, which alone tells a first study from a
// store that could not be reached.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "ehdd/TEHDDCache.h"
#include "tests/player/audit_fixture.h"
#include "tests/support/TestServer.h"

namespace fs = std::filesystem;

namespace {

using Fallo = TEHDDClient::FalloApertura;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class ClientSave : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lectoria-save-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = std::string(pattern) + "/";
    fs::create_directories(root_ + "userdata/work/C007");
    client_.SetLocalRoot(root_);
    client_.AddLocalLetter('S', "");
    client_.AddLocalLetter('U', "");
    client_.Mount("userdata\\work", 'S');
  }
  void TearDown() override { fs::remove_all(root_); }
  std::string root_;
  TEHDDClient client_;
};

TEST_F(ClientSave, ALocalLetterIsWrittenAtomicallyInItsFolder) {
  ASSERT_TRUE(client_.SaveFileAtomically("S:\\C007\\AUDIT.ALU", std::string("one\0two", 7)));
  EXPECT_EQ(Read(root_ + "userdata/work/C007/AUDIT.ALU"), std::string("one\0two", 7));
  ASSERT_TRUE(client_.SaveFileAtomically("S:\\C007\\AUDIT.ALU", "second"));
  EXPECT_EQ(Read(root_ + "userdata/work/C007/AUDIT.ALU"), "second");
  size_t entries = 0;
  for (const auto& e : fs::directory_iterator(root_ + "userdata/work/C007")) entries += e.exists();
  EXPECT_EQ(entries, 1u);
  // What was saved is what the next open reads, not a cached older copy.
  TFicheroEHDD* f = client_.Abrir("S:\\C007\\AUDIT.ALU", 0);
  ASSERT_NE(f, nullptr);
  char buffer[16] = {};
  EXPECT_EQ(client_.Leer(buffer, 1, sizeof(buffer), f), 6u);
  client_.Cerrar(f);
  EXPECT_STREQ(buffer, "second");
}

TEST_F(ClientSave, RefusedPathsGiveFalseAndWriteNothing) {
  EXPECT_FALSE(client_.SaveFileAtomically("S:\\C008\\AUDIT.ALU", "x"));  // no such folder
  EXPECT_FALSE(client_.SaveFileAtomically("S:\\..\\escape", "x"));
  EXPECT_FALSE(client_.SaveFileAtomically(nullptr, "x"));
  client_.Mount("data\\unit007.dat", 'U');  // volumes are never written
  EXPECT_FALSE(client_.SaveFileAtomically("U:\\AUDIT.ALU", "x"));
  EXPECT_FALSE(fs::exists(root_ + "escape"));
  EXPECT_FALSE(fs::exists(root_ + "data"));
}

TEST_F(ClientSave, ThePlainLocalSwitchSavesThePathAsGivenOnItsThreadOnly) {
  const std::string path = root_ + "copy.QOR";
  client_.SetPlainLocalFiles(true);
  EXPECT_TRUE(client_.SaveFileAtomically(path.c_str(), "copy"));
  std::thread other(
      [&] { EXPECT_FALSE(client_.SaveFileAtomically((root_ + "other").c_str(), "x")); });
  other.join();
  client_.SetPlainLocalFiles(false);
  EXPECT_EQ(Read(path), "copy");
  EXPECT_FALSE(fs::exists(root_ + "other"));
}

TEST_F(ClientSave, AFailedOpenSaysWhetherTheFileIsAbsent) {
  std::ofstream(root_ + "userdata/work/C007/A.TXT") << "a";
  fs::create_directory(root_ + "userdata/work/C007/FOLDER");
  EXPECT_EQ(client_.Abrir("S:\\C007\\NONE.TXT", 0), nullptr);
  EXPECT_EQ(TEHDDClient::UltimoFalloApertura(), Fallo::kAusente);
  EXPECT_EQ(client_.Abrir("S:\\C009\\NONE.TXT", 0), nullptr);  // the folder is missing too
  EXPECT_EQ(TEHDDClient::UltimoFalloApertura(), Fallo::kAusente);
  EXPECT_EQ(client_.Abrir("S:\\C007\\A.TXT\\B", 0), nullptr);  // a file as a folder
  EXPECT_EQ(TEHDDClient::UltimoFalloApertura(), Fallo::kAusente);
  EXPECT_EQ(client_.Abrir("S:\\C007\\FOLDER", 0), nullptr);  // there, but not a file
  EXPECT_EQ(TEHDDClient::UltimoFalloApertura(), Fallo::kIlegible);
  EXPECT_EQ(client_.Abrir("S:\\..\\x", 0), nullptr);
  EXPECT_EQ(TEHDDClient::UltimoFalloApertura(), Fallo::kIlegible);
  client_.Mount("data\\unit007.dat", 'U');  // a container that is not there
  EXPECT_EQ(client_.Abrir("U:\\A.TXT", 0), nullptr);
  EXPECT_EQ(TEHDDClient::UltimoFalloApertura(), Fallo::kIlegible);
  // Each thread keeps its own reason.
  TFicheroEHDD* f = client_.Abrir("S:\\C007\\A.TXT", 0);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(TEHDDClient::UltimoFalloApertura(), Fallo::kNinguno);
  std::thread other([&] {
    EXPECT_EQ(client_.Abrir("S:\\C007\\FOLDER", 0), nullptr);
    EXPECT_EQ(TEHDDClient::UltimoFalloApertura(), Fallo::kIlegible);
  });
  other.join();
  EXPECT_EQ(TEHDDClient::UltimoFalloApertura(), Fallo::kNinguno);
  client_.Cerrar(f);
}

class ServerSave : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lectoria-save-server-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ / "root" / "userdata" / "work" / "C007");
    TEHDDCache::Destroy();
    unsetenv("http_proxy");
    unsetenv("HTTP_PROXY");
    setenv("LECTORIA_REGISTRY_DIR", (dir_ / "registry").c_str(), 1);
    server_ = std::make_unique<TestServer>(dir_ / "root", dir_ / "log");
    ASSERT_NE(server_->port(), 0);
  }
  void TearDown() override {
    server_.reset();
    unsetenv("LECTORIA_REGISTRY_DIR");
    TEHDDCache::Destroy();
    fs::remove_all(dir_);
  }
  fs::path dir_;
  std::unique_ptr<TestServer> server_;
};

TEST_F(ServerSave, AServerFileIsSavedByOneWriteAndADeadServerIsNotAnAbsentFile) {
  TEHDDClient client;
  client.SetTimeout(1);  // a dead server is found out within a second
  client.Mount("userdata\\work", 'S');
  client.Conectar("127.0.0.1", "userdata", server_->port());
  ASSERT_TRUE(client.SaveFileAtomically("S:\\C007\\AUDIT.ALU", std::string(40000, 'a')));
  EXPECT_EQ(Read((dir_ / "root/userdata/work/C007/AUDIT.ALU").string()), std::string(40000, 'a'));
  EXPECT_EQ(client.Abrir("S:\\C007\\NONE", 0), nullptr);  // the server refuses the open
  EXPECT_EQ(TEHDDClient::UltimoFalloApertura(), Fallo::kAusente);

  server_->Kill();
  EXPECT_EQ(client.Abrir("S:\\C007\\AUDIT.ALU", 0), nullptr);
  EXPECT_EQ(TEHDDClient::UltimoFalloApertura(), Fallo::kIlegible);
  EXPECT_FALSE(client.SaveFileAtomically("S:\\C007\\AUDIT.ALU", "b"));
  EXPECT_EQ(Read((dir_ / "root/userdata/work/C007/AUDIT.ALU").string()), std::string(40000, 'a'));
}

TEST_F(ServerSave, AnAuditOnAServerThatCannotBeReachedIsRefusedNotReplaced) {
  fakes::Cajas cajas;
  TEHDDClient client;
  client.SetTimeout(1);  // a dead server is found out within a second
  client.Mount("userdata\\work", 'S');
  client.Conectar("127.0.0.1", "userdata", server_->port());
  SesionAX sesion;
  sesion.ehdd = &client;
  fakes::Documento documentos[8];
  for (int i = 0; i < 8; ++i) {
    documentos[i].Cargar("U:\\X.TAE");
    sesion.Unit().partes[i].formatae = &documentos[i];
  }
  TGestorAlumno primera(sesion);
  primera.Iniciar();
  // Saved by the client directly: the manager's pause after each save would
  // cost real seconds here (the transaction engine keeps the real clock).
  const std::string bytes = primera.Construir().ABytes();
  ASSERT_TRUE(client.SaveFileAtomically("S:\\C007\\AUDIT.BKP", bytes));
  ASSERT_TRUE(client.SaveFileAtomically("S:\\C007\\AUDIT.ALU", bytes));
  const std::string guardado = Read((dir_ / "root/userdata/work/C007/AUDIT.ALU").string());
  ASSERT_EQ(guardado.size(), 1331u);

  server_->Kill();
  TGestorAlumno segunda(sesion);
  segunda.Iniciar();
  EXPECT_EQ(segunda.LeerAuditoriaUnidad(7), TGestorAlumno::Origen::kRechazada);
  EXPECT_TRUE(segunda.AuditoriaRechazada());
  EXPECT_EQ(cajas.Textos().size(), 1u);
  EXPECT_FALSE(segunda.GuardarAuditoriaUnidad(7));
  EXPECT_EQ(Read((dir_ / "root/userdata/work/C007/AUDIT.ALU").string()), guardado);
}

}  // namespace
