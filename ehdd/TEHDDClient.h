// The engine's one gateway to its stores: drive-letter mounts, local mode,
// the connection and session with the eHDD server, and the file interface
// every loader uses (open, read, write, seek, size, close, make directory).
//
// Exceptions: Conectar throws std::string "No se ha podido conectar con el
// servidor" or "NO SESSION". Leer throws "Se ha perdido la conexión con el
// servidor" when a read request fails; Escribir and Cerrar throw the same
// text when a write-buffer flush fails. Every other failure is a null, 0 or
// -1 result. Callers of Leer/Escribir/Cerrar on server files must catch the
// text (the session start, the unit loader and the audit save do); no lock
// of the client is held when it leaves.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/CriticalSection.h"
#include "base/OSAL.h"
#include "ehdd/TEHDDLocalStore.h"
#include "ehdd/TEHDDReply.h"
#include "ehdd/TEHDDWriteBuffer.h"
#include "ehdd/TFicheroEHDD.h"

class TSocketTCP;
class TTransaccionHTTP;
struct TRespuestaHTTP;

extern const char* const kErrorConexion;  // "No se ha podido conectar con el servidor"
extern const char* const kErrorSesion;    // "NO SESSION"
extern const char* const kErrorPerdida;   // "Se ha perdido la conexión con el servidor"

class TEHDDClient : public TEHDDLogTarget {
 public:
  static constexpr uint32_t kBloque = 4000;
  static constexpr uint32_t kTrozoCopia = 16384;

  TEHDDClient();
  ~TEHDDClient() override;
  TEHDDClient(const TEHDDClient&) = delete;
  TEHDDClient& operator=(const TEHDDClient&) = delete;

  // Mounts and local mode.
  int16_t AddMount(const char* path, char letter);
  bool Mount(const char* path, char letter) { return AddMount(path, letter) == 0; }
  void AddLocalLetter(char letter, const char* store_name);
  void ClearLocalLetters();
  void SetLocalRoot(const std::string& folder);
  // The plain-local switch of the calling thread: while on, every open made
  // by this thread is a plain local open of the path as given.
  void SetPlainLocalFiles(bool on);
  void SetSessionTag(const std::string& tag);
  // Age in seconds after which a server request fails (30 by default).
  void SetTimeout(int32_t seconds) { timeout_s_ = seconds; }
  void ForgetOpenFiles();

  // Connection and session.
  void Conectar(const char* host, const char* owner, uint16_t port);
  bool AbrirSesion(const std::string& owner, std::string& session_id);
  static void OnRequestDone(TRespuestaHTTP& respuesta);

  // Log lines handed over by OSAL::EscribirLog: nothing is written.
  void EscribirLog(const char* fichero, const char* linea) override;

  // The file interface.
  TFicheroEHDD* Abrir(const char* path, int32_t mode);
  TFicheroEHDD* Crear(const char* path) { return Abrir(path, 2); }

  // Why the last Abrir of the calling thread gave null: the file is really
  // not there (a plain file that does not exist, a server that answered the
  // open with a refusal), or it could not be reached or read (a server
  // request that failed or timed out, a local error other than a missing
  // name, a container, a write open).
  enum class FalloApertura : uint8_t { kNinguno, kAusente, kIlegible };
  static FalloApertura UltimoFalloApertura();

  // Writes a whole file so that it is either the old one or the new one:
  // plain local paths (the plain-local switch, letters served from a local
  // folder) through platform::WriteFileAtomically; a server file by create,
  // one write and close. Containers are refused. False on any failure.
  bool SaveFileAtomically(const char* path, const std::string& bytes);
  uint32_t Leer(void* buffer, uint32_t item_size, uint32_t count, TFicheroEHDD* file);
  uint32_t Escribir(const void* data, uint32_t size, TFicheroEHDD* file);
  int32_t Posicionar(TFicheroEHDD* file, uint32_t position, uint16_t whence);
  uint32_t Posicion(TFicheroEHDD* file);
  void Size(TFicheroEHDD* file, uint32_t& length, uint32_t& remaining);
  void Cerrar(TFicheroEHDD* file);
  void CrearDirectorio(const char* text, char letter);
  void SyncTempFile(const char* path);
  // Where a picture that could not be loaded would be reported; the tag
  // names the loader and the step that failed. Does nothing; true.
  bool ReportMissingImage(const char* path, const char* tag);

  // What the path resolves to: the mount's store path joined with the rest
  // (see Abrir). *local tells whether the letter is served locally.
  std::string ResolvePath(std::string_view path, bool* local = nullptr, bool* container = nullptr);

  // Sends one request and waits for its completion; false on failure. The
  // reply's data is moved into *reply (owned by the caller when not the
  // given receive buffer). With no connection it fails at once.
  bool Enviar(const std::string& command, const unsigned char* data, uint32_t data_length,
              unsigned char* receive, uint32_t receive_size, TEHDDReply& reply);
  // Enviar in two halves, so that requests which do not need each other's
  // answers are on their way together: the request leaves (or fails at
  // once, completing the reply), then Esperar waits for its completion.
  // Every reply handed to EnviarSinEsperar must be waited for before it
  // goes. Without a receive buffer, receive_size (when not 0) bounds the
  // data taken.
  void EnviarSinEsperar(const std::string& command, const unsigned char* data,
                        uint32_t data_length, unsigned char* receive, uint32_t receive_size,
                        TEHDDReply& reply);
  static bool Esperar(TEHDDReply& reply);
  // Sends a request whose answer nobody needs (a close): no wait.
  void EnviarSinRespuesta(const std::string& command);

  // Files of the stores that are about to be opened for reading, in the
  // order they will be: each server file among them is opened and its
  // first blocks asked for now, their round trips overlapping one another
  // and whatever the caller does meanwhile; the open that follows takes
  // what came. A file hinted but never opened is closed when the open
  // files are forgotten, or when more than kMaxAnticipos hints are held
  // (the oldest first). Nothing is hinted through a proxy, where requests
  // go one at a time.
  void Anticipar(const std::vector<std::string>& paths);
  static constexpr size_t kMaxAnticipos = 64;
  // How many requests may be unanswered at once on a direct connection
  // (through a proxy, one: its handshake answers one request at a time).
  static constexpr int32_t kVentana = 16;

  const std::string& session_id() const { return session_id_; }
  uint32_t read_ahead() const { return read_ahead_; }
  TTransaccionHTTP* transaccion() { return transaccion_.get(); }
  bool connected() const;

  // For tests and tools: the folder SyncTempFile copies through (default:
  // the temporary folder + "eHDD").
  void SetTempFolderForSync(const std::string& folder) { sync_folder_ = folder; }

 private:
  friend class TEHDDLocalStore;
  friend class TEHDDWriteBuffer;

  std::shared_ptr<TFicheroEHDD> FindOpenFile(TFicheroEHDD* file);
  // The write buffer of a server file, found under the buffer lock; it is
  // then used without that lock.
  std::shared_ptr<TEHDDWriteBuffer> FindWriteBuffer(const std::string& file_id);
  TFicheroEHDD* EnterOpenFile(std::unique_ptr<TFicheroEHDD> file, const char* given_path);
  TFicheroEHDD* AbrirSinMotivo(const char* path, int32_t mode);
  TFicheroEHDD* AbrirServidor(const std::string& resolved, int32_t mode);
  // A completed reply: its waiter is woken, or one nobody waits for goes.
  static void Terminar(TEHDDReply& reply);
  // A server open on its way, with the read of the file's first blocks
  // that goes with it (TEHDDClient_files.cpp).
  struct Apertura;
  bool EmpezarApertura(Apertura& apertura, int32_t mode);
  TFicheroEHDD* AcabarApertura(Apertura& apertura, int32_t mode);
  std::shared_ptr<Apertura> TomarAnticipo(const std::string& resolved);
  // Hands the hinted opens over to be closed once their answers are in
  // (all of them, or the one of resolved), without waiting.
  void SoltarAnticipos(const std::string* resolved);
  // Closes the handed-over opens whose answers are in, and lets go of the
  // reads ahead whose answers are in.
  void BarrerSoltadas();
  // The read ahead of a server file: asked for from `desde`, and taken into
  // the cache when it starts at `desde` (true), else let go; taking one
  // asks for the range after it first. The client keeps each one until its
  // answer is in, whatever becomes of its file.
  void Adelantar(TFicheroEHDD& file, uint64_t desde);
  bool TomarAdelantada(TFicheroEHDD& file, uint64_t desde);
  // The read of `blocks` blocks of a server file from `desde`.
  bool ComandoLectura(const std::string& id, uint64_t desde, uint32_t blocks,
                      std::string& command) const;
  // Closes a server file without waiting: nothing of the answer is used,
  // and it goes ahead of whatever this client sends next.
  void CerrarSinEsperar(const std::string& id);
  // Takes a read's answer from `desde` into the cache, up to the file's
  // `length`; nothing when it failed or brought nothing.
  static void GuardarLeido(const std::string& path, const TEHDDReply& reply, uint64_t desde,
                           uint32_t length);
  FalloApertura ClasificarFallo(const char* path, int32_t mode);
  std::string RutaLocal(const std::string& resolved);
  // Fetches blocks from start into the cache; false when none came. *whole:
  // a local store gave every one asked for (up to the file's end).
  bool FetchBlocks(TFicheroEHDD& file, uint64_t start, uint32_t blocks, bool* whole);
  bool FetchLocalBlocks(TFicheroEHDD& file, uint64_t start, uint32_t blocks, bool* whole);
  void MakeLocalDirectories(const std::string& root, const std::string& target);
  std::string SyncLocalName(const std::string& path) const;

  std::string owner_;
  std::string session_id_;
  std::map<char, std::string> mount_table_;
  std::map<char, bool> container_flags_;
  uint32_t read_ahead_ = 16;
  std::unordered_map<TFicheroEHDD*, std::pair<std::shared_ptr<TFicheroEHDD>, std::string>>
      open_files_;
  std::unique_ptr<TSocketTCP> socket_;
  std::unique_ptr<TTransaccionHTTP> transaccion_;
  struct CompleteFile {
    uint32_t size;
    uint32_t flag;
  };
  std::map<std::string, CompleteFile> complete_files_;
  std::map<std::string, std::shared_ptr<TEHDDWriteBuffer>> write_buffers_;
  CriticalSection mount_lock_;
  CriticalSection buffer_lock_;
  int32_t timeout_s_ = 30;
  std::map<char, std::string> local_letters_;
  TEHDDLocalStore local_store_;
  std::string session_tag_;
  std::string sync_folder_;
  std::atomic<bool> thread_started_{false};
  // The server names a file by the cache name of its path, as the complete
  // files need: the first blocks can be asked for beside the open. Off for
  // good once an open answers with another id.
  std::atomic<bool> ids_por_nombre_{true};
  // Under buffer_lock_: hinted opens by resolved path, and opens nobody
  // will take, waiting for their answers to be closed.
  std::map<std::string, std::shared_ptr<Apertura>> anticipos_;
  std::list<std::shared_ptr<Apertura>> soltadas_;
  std::list<std::shared_ptr<TEHDDReply>> adelantadas_;
  uint64_t siguiente_anticipo_ = 0;
};
