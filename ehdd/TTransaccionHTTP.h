// The transaction engine of the eHDD connection: frames requests, sends
// them one at a time (window 1) or queues them, reads the replies on its
// own thread, matches them by id and completes each caller through a
// callback. Requests fail by age; a lost connection is re-established (with
// a back-off) and the requests in flight go out again; a 5xx reply fails
// everything in flight; an NTLM proxy is answered.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/CriticalSection.h"
#include "base/TThreadOSAL.h"
#include "ehdd/NTLM.h"
#include "platform/WakeEvent.h"

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

  // Frames and sends the request, or queues it (false). With no connection
  // it fails at once through the callback (status 1). A command that cannot
  // be framed fails the same way.
  bool Submit(const std::string& command, const unsigned char* data, uint32_t data_length,
              std::string& request_id, TEHDDReply* reply, unsigned char* receive_buffer,
              uint32_t receive_size);

  void Run() override;

  int32_t outstanding() const;
  size_t waiting() const;

 private:
  void Fail(TPeticionHTTP& p);
  void Complete(TPeticionHTTP& p, unsigned char* data, uint32_t length);
  void SendWaiting();
  void SweepTimeouts(bool forced);
  void CheckConnection(bool pending_only);
  bool Send(TPeticionHTTP& p);
  bool Expired(const TPeticionHTTP& p) const;
  bool ReadReply(int64_t& content_length);
  void ReadOneReply();
  void Drain(int64_t bytes);
  void Turn();

  mutable CriticalSection lock_;
  int32_t timeout_s_ = 30;
  int32_t window_ = 1;
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
  platform::WakeEvent wake_;
};
