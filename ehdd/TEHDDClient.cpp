#include "ehdd/TEHDDClient.h"

#include <cstdio>
#include <map>

#include "base/TThreadOSAL.h"
#include "base/TextUtils.h"
#include "ehdd/EHDDProtocol.h"
#include "ehdd/ProxyDiscovery.h"
#include "ehdd/TSocketTCP.h"
#include "ehdd/TTransaccionHTTP.h"

const char* const kErrorConexion = "No se ha podido conectar con el servidor";
const char* const kErrorSesion = "NO SESSION";
const char* const kErrorPerdida = "Se ha perdido la conexión con el servidor";

namespace {

// The plain-local switch belongs to the thread that turned it on, so one
// thread's audit copy never turns another thread's opens into local ones.
thread_local const TEHDDClient* t_plain_local_client = nullptr;

constexpr uint32_t kPollMs = 10;
constexpr int kMaxStartPolls = 500;  // 5 s for the transaction thread to come up

}  // namespace

bool PlainLocalOn(const TEHDDClient* client) {
  return t_plain_local_client == client;
}

TEHDDClient::TEHDDClient()
    : socket_(std::make_unique<TSocketTCP>()),
      transaccion_(std::make_unique<TTransaccionHTTP>()),
      local_store_(this) {}

TEHDDClient::~TEHDDClient() {
  // Stop the transaction thread and join it before the socket it uses goes,
  // and fail what it still carries while the replies of the hinted opens
  // are alive.
  if (transaccion_) transaccion_->StopAndJoin();
  transaccion_.reset();
  if (socket_) socket_->Close();
  if (t_plain_local_client == this) t_plain_local_client = nullptr;
}

int16_t TEHDDClient::AddMount(const char* path, char letter) {
  std::string copy;
  bool container = false;
  const std::string text = path ? path : "";
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '.' && i + 4 == text.size() &&
        (text.compare(i, 4, ".dat") == 0 || text.compare(i, 4, ".DAT") == 0)) {
      container = true;
      break;
    }
    copy += (c == '\\') ? '/' : c;
  }
  CriticalSectionGuard guard(mount_lock_);
  mount_table_[letter] = copy;
  container_flags_[letter] = container;
  return 0;
}

void TEHDDClient::AddLocalLetter(char letter, const char* store_name) {
  CriticalSectionGuard guard(mount_lock_);
  local_letters_[letter] = store_name ? store_name : "";
}

void TEHDDClient::ClearLocalLetters() {
  CriticalSectionGuard guard(mount_lock_);
  local_letters_.clear();
}

void TEHDDClient::SetLocalRoot(const std::string& folder) {
  CriticalSectionGuard guard(mount_lock_);
  local_store_.SetRoot(folder);
}

void TEHDDClient::SetPlainLocalFiles(bool on) {
  if (on) {
    t_plain_local_client = this;
  } else if (t_plain_local_client == this) {
    t_plain_local_client = nullptr;
  }
}

void TEHDDClient::SetSessionTag(const std::string& tag) {
  session_tag_ = tag;
}

void TEHDDClient::ForgetOpenFiles() {
  {
    CriticalSectionGuard guard(mount_lock_);
    open_files_.clear();  // objects still used by an operation in flight stay alive until it ends
  }
  SoltarAnticipos(nullptr);
  CriticalSectionGuard guard(buffer_lock_);
  complete_files_.clear();
  write_buffers_.clear();
}

void TEHDDClient::EscribirLog(const char* /*fichero*/, const char* /*linea*/) {}

bool TEHDDClient::connected() const {
  return thread_started_ && socket_ && socket_->IsConnected();
}

void TEHDDClient::Conectar(const char* host, const char* owner, uint16_t port) {
  const std::string server_host = host ? host : "";
  std::string connect_host = server_host;
  int connect_port = port;
  std::string proxy_host;
  int proxy_port = 0;
  const bool via_proxy = FindServerProxy(server_host, port, proxy_host, proxy_port);
  if (via_proxy) {
    connect_host = proxy_host;
    connect_port = proxy_port;
  }
  owner_ = owner ? owner : "";

  if (thread_started_) {
    // A later start of the engine: the transaction thread keeps running,
    // so the socket it uses is closed and connected again under its lock.
    // Hinted opens of the last session name its session: not to be taken.
    SoltarAnticipos(nullptr);
    if (!transaccion_->Reconectar(connect_host, static_cast<uint16_t>(connect_port), server_host,
                                  port)) {
      throw std::string(kErrorConexion);
    }
    transaccion_->SetWindow(via_proxy ? 1 : kVentana);
    transaccion_->SetTimeout(timeout_s_);
    if (!AbrirSesion(owner_, session_id_)) throw std::string(kErrorSesion);
    return;
  }

  socket_->Connect(connect_host.c_str(), static_cast<uint16_t>(connect_port));
  if (!socket_->IsConnected()) throw std::string(kErrorConexion);
  transaccion_->SetServer(server_host, port);
  transaccion_->SetSocket(socket_.get());
  transaccion_->SetTimeout(timeout_s_);
  transaccion_->SetCallback(&TEHDDClient::OnRequestDone);
  transaccion_->SetWindow(via_proxy ? 1 : kVentana);
  transaccion_->Launch();
  for (int i = 0; i < kMaxStartPolls && transaccion_->running.load() == 0; ++i) Dormir(kPollMs);
  thread_started_ = true;
  if (!AbrirSesion(owner_, session_id_)) {
    transaccion_->StopAndJoin();
    thread_started_ = false;
    socket_->Close();
    throw std::string(kErrorSesion);
  }
}

bool TEHDDClient::AbrirSesion(const std::string& owner, std::string& session_id) {
  std::string command;
  if (!ehdd_protocol::Comando({{"CM", "OS"}, {"OW", owner}}, command)) return false;
  command += session_tag_;
  TEHDDReply reply;
  if (!Enviar(command, nullptr, 0, nullptr, 0, reply)) return false;
  std::map<std::string, std::string> values;
  bool parsed = reply.data != nullptr && ParseKeyValues(reinterpret_cast<const char*>(reply.data),
                                                        reply.length, values, '&', '=');
  auto it = values.find("IS");
  if (!parsed || it == values.end()) return false;
  session_id = it->second;
  return true;
}

void TEHDDClient::OnRequestDone(TRespuestaHTTP& respuesta) {
  TEHDDReply* reply = respuesta.reply;
  if (reply == nullptr) return;
  reply->Fill(respuesta.status, respuesta.data, respuesta.length);
  respuesta.data = nullptr;
  respuesta.length = 0;
  Terminar(*reply);
}

void TEHDDClient::Terminar(TEHDDReply& reply) {
  if (reply.suelta) {
    delete &reply;  // and the data with it
  } else {
    reply.semaphore.Release();
  }
}

void TEHDDClient::EnviarSinEsperar(const std::string& command, const unsigned char* data,
                                   uint32_t data_length, unsigned char* receive,
                                   uint32_t receive_size, TEHDDReply& reply) {
  reply.receive = receive;
  reply.receive_size = receive_size;
  if (!thread_started_) {
    // Never connected: nothing would carry the request.
    reply.Fill(1, nullptr, 0);
    Terminar(reply);
    return;
  }
  std::string id;
  transaccion_->Submit(command, data, data_length, id, &reply, receive, receive_size);
}

bool TEHDDClient::Esperar(TEHDDReply& reply) {
  reply.semaphore.Wait();
  return reply.status == 0;
}

void TEHDDClient::EnviarSinRespuesta(const std::string& command) {
  auto* reply = new TEHDDReply;
  reply->suelta = true;
  EnviarSinEsperar(command, nullptr, 0, nullptr, 0, *reply);
}

bool TEHDDClient::Enviar(const std::string& command, const unsigned char* data,
                         uint32_t data_length, unsigned char* receive, uint32_t receive_size,
                         TEHDDReply& reply) {
  EnviarSinEsperar(command, data, data_length, receive, receive_size, reply);
  return Esperar(reply);
}
