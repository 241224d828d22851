// The transaction engine of the eHDD connection: frames requests, sends
// them one at a time (window 1) or queues them, reads the replies on its
// own thread, matches them by id and completes each caller through a
// callback. Requests fail by age; a lost connection is re-established (with
// a back-off) and the requests in flight go out again; a 5xx reply fails
// everything in flight; an NTLM proxy is answered.
//
// The thread sleeps in one wait on the socket and its wake event, bounded by
// the nearest deadline: a reply is taken in the moment its bytes arrive and
// handed to its caller as soon as it is whole; a new request, a reconnect
// or a stop wakes it. The engine's lock is never held while waiting for the
// socket: replies are taken in as their bytes arrive (a reply that stalls keeps nobody waiting
// and fails with its request's age), and the message boxes a reply asks for
// are shown after the lock is left.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/CriticalSection.h"
#include "base/TThreadOSAL.h"
#include "ehdd/NTLM.h"

class TSocketTCP;
struct TEHDDReply;
struct THTTPReply;

// What the completion callback gets.
struct TRespuestaHTTP {
  TSocketTCP* socket = nullptr;
  unsigned char* data = nullptr;  // the caller's receive buffer, or new[] length + 1 bytes
  uint32_t length = 0;
  std::string id;
  TEHDDReply* reply = nullptr;
  int32_t status = 1;  // 0 the reply came, 1 the request failed
};

// One request, kept for a resend.
struct TPeticionHTTP {
  uint32_t submitted_ms = 0;
  uint64_t orden = 0;  // submission order: a resend keeps it
  std::string id;
  std::string cabeza;
  std::vector<unsigned char> cuerpo;
  unsigned char* receive = nullptr;
  uint32_t receive_size = 0;
  TEHDDReply* reply = nullptr;
};

class TTransaccionHTTP : public TThreadOSAL {
 public:
  using Callback = void (*)(TRespuestaHTTP&);

  TTransaccionHTTP();
  ~TTransaccionHTTP() override;

  // Stores the server; the header block follows it.
  void SetServer(const std::string& host, int port);
  void SetSocket(TSocketTCP* socket);
  void SetTimeout(int32_t seconds);
  void SetCallback(Callback callback);
  // How many requests may be on the wire unanswered at once (1 to
  // kVentanaMaxima). Replies come back in the order their requests went
  // out and are matched by id; with more than one, the requests that wait
  // for no answer of each other overlap their round trips.
  void SetWindow(int32_t window);
  static constexpr int32_t kVentanaMaxima = 32;
  int32_t window() const;

  // Frames and sends the request, or queues it (false). With no connection
  // it fails at once through the callback (status 1). A command that cannot
  // be framed fails the same way.
  bool Submit(const std::string& command, const unsigned char* data, uint32_t data_length,
              std::string& request_id, TEHDDReply* reply, unsigned char* receive_buffer,
              uint32_t receive_size);

  void Run() override;
  // Sets the stop flag, wakes the thread out of its wait and joins it.
  void StopAndJoin();

  // Closes the connection and connects the socket again to host:port (the
  // proxy, or the server itself), the requests then naming server_host and
  // server_port: a later start of the session. Requests on the wire go
  // back to the front of the line. True when connected.
  bool Reconectar(const std::string& host, uint16_t port, const std::string& server_host,
                  int server_port);

  int32_t outstanding() const;
  size_t waiting() const;
  // Turns the thread has taken (each one wait and what follows it).
  uint64_t turns() const { return turns_.load(); }

 private:
  // Where the reader stands in the reply that is arriving.
  enum class Lectura { kCabeza, kBloque, kDatos, kCuerpoError, kDescarte };
  // What follows once a reply's body has been read or dropped.
  enum class Despues { kNada, kLineaHandshake, kCerrar, kReenviarPrimera, kFalloForzado };

  void Fail(TPeticionHTTP& p);
  void Complete(TPeticionHTTP& p, unsigned char* data, uint32_t length);
  void SendWaiting();
  void ExpireWaiting();
  void SweepTimeouts(bool forced);
  void CheckConnection(bool pending_only);
  void Requeue();
  bool Send(TPeticionHTTP& p);
  bool Expired(const TPeticionHTTP& p) const;
  void CloseSocket();
  void ResetReader();
  // Takes in what has arrived on the socket without waiting.
  void ReadAvailable();
  void Feed(const unsigned char* bytes, size_t n);
  // n more bytes of the reply's data are in datos_: completes the request
  // once they are all there.
  void DatosRecibidos(size_t n);
  // A whole reply head: what its status asks for.
  void ReadReply(const THTTPReply& reply, int64_t content_length);
  void StartDrain(int64_t bytes, Despues despues);
  void EndBody();
  void Turn(bool readable);
  bool InHandshake() const;
  // How long the thread may wait before a deadline needs it (a request's
  // age, a reconnect's back-off); kSinFin when nothing does.
  int WaitBound() const;
  void Wake();

  mutable CriticalSection lock_;
  int32_t timeout_s_ = 30;
  int32_t window_ = 1;
  uint64_t siguiente_orden_ = 0;
  Callback callback_ = nullptr;
  TSocketTCP* socket_ = nullptr;
  std::map<std::string, TPeticionHTTP> sent_;
  std::deque<TPeticionHTTP> waiting_;
  std::string header_block_;
  std::string host_;
  int port_ = 0;
  NtlmHandshake handshake_;
  uint32_t next_reconnect_ms_ = 0;
  uint32_t backoff_ms_ = 0;
  // The thread's wake event, waited on in the same poll as the socket.
  int wake_fd_ = -1;
  std::atomic<uint64_t> turns_{0};

  // The reply being read, on the connection of reader_generation_.
  uint64_t reader_generation_ = 0;
  Lectura lectura_ = Lectura::kCabeza;
  std::string cabeza_;
  int64_t cuerpo_restante_ = 0;  // body bytes still to come
  unsigned char bloque_[32] = {};
  size_t bloque_lleno_ = 0;
  std::string id_actual_;  // the sent request whose data are arriving
  unsigned char* datos_ = nullptr;
  bool datos_propios_ = false;  // datos_ was allocated here
  uint32_t datos_longitud_ = 0;
  uint32_t datos_lleno_ = 0;
  std::string cuerpo_error_;  // the body of a 5xx reply, for its box
  Despues despues_ = Despues::kNada;

  // Boxes asked for under the lock, shown by the engine's thread after it.
  std::vector<std::pair<std::string, std::string>> cajas_;

  // The engine thread's own copy of the socket's descriptor, to wait on
  // outside the lock: nobody else can close it under the wait.
  int poll_fd_ = -1;
  uint64_t poll_generation_ = 0;
  bool poll_wanted_ = false;
  int wait_ms_ = -1;
  // The connection the thread waits on (0 for none), known under the lock.
  uint64_t espera_generacion_ = 0;
};
