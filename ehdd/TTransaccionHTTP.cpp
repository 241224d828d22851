#include "ehdd/TTransaccionHTTP.h"

#include <algorithm>
#include <ctime>
#include <new>

#include <poll.h>

#include "ehdd/EHDDProtocol.h"
#include "ehdd/TEHDDReply.h"
#include "ehdd/THTTPReply.h"
#include "ehdd/TSocketTCP.h"
#include "platform/Clock.h"
#include "platform/MessageBox.h"

namespace {

constexpr uint32_t kFirstBackoffMs = 100;
constexpr uint32_t kMaxBackoffMs = 1000;
constexpr uint32_t kPieza = 512;

}  // namespace

TTransaccionHTTP::TTransaccionHTTP() : TThreadOSAL(1) {}

TTransaccionHTTP::~TTransaccionHTTP() {
  // The thread uses this object's members: stop it before they go.
  StopAndJoin();
  CriticalSectionGuard guard(lock_);
  for (auto& [id, p] : sent_) Fail(p);
  for (auto& p : waiting_) Fail(p);
  sent_.clear();
  waiting_.clear();
}

void TTransaccionHTTP::SetServer(const std::string& host, int port) {
  CriticalSectionGuard guard(lock_);
  host_ = host;
  port_ = port;
  header_block_ = ehdd_protocol::BloqueCabeceras(host, port);
}

void TTransaccionHTTP::SetSocket(TSocketTCP* socket) {
  CriticalSectionGuard guard(lock_);
  socket_ = socket;
  header_block_ = ehdd_protocol::BloqueCabeceras(host_, port_);
}

void TTransaccionHTTP::SetTimeout(int32_t seconds) {
  CriticalSectionGuard guard(lock_);
  timeout_s_ = seconds < 0 ? 0 : seconds;
}

void TTransaccionHTTP::SetCallback(Callback callback) {
  CriticalSectionGuard guard(lock_);
  callback_ = callback;
}

int32_t TTransaccionHTTP::outstanding() const {
  CriticalSectionGuard guard(lock_);
  return static_cast<int32_t>(sent_.size());
}

size_t TTransaccionHTTP::waiting() const {
  CriticalSectionGuard guard(lock_);
  return waiting_.size();
}

void TTransaccionHTTP::Fail(TPeticionHTTP& p) {
  TRespuestaHTTP r;
  r.socket = socket_;
  r.id = p.id;
  r.reply = p.reply;
  r.status = 1;
  if (callback_) callback_(r);
  if (r.data != nullptr && r.data != p.receive) delete[] r.data;
}

void TTransaccionHTTP::Complete(TPeticionHTTP& p, unsigned char* data, uint32_t length) {
  TRespuestaHTTP r;
  r.socket = socket_;
  r.id = p.id;
  r.reply = p.reply;
  r.data = data;
  r.length = length;
  r.status = 0;
  if (callback_) callback_(r);
  // The callback takes the buffer over by clearing the pointer.
  if (r.data != nullptr && r.data != p.receive) delete[] r.data;
}

bool TTransaccionHTTP::Expired(const TPeticionHTTP& p) const {
  return timeout_s_ != 0 &&
         platform::TickCount() - p.submitted_ms > static_cast<uint32_t>(timeout_s_) * 1000u;
}

bool TTransaccionHTTP::Send(TPeticionHTTP& p) {
  // Each send builds a new head: a new request-line counter and time, and
  // the header block of the server as it is now.
  p.cabeza = ehdd_protocol::LineaPeticion(host_, port_, static_cast<long>(std::time(nullptr)),
                                          ehdd_protocol::SiguienteContadorLinea()) +
             header_block_ + "Content-Length: " + std::to_string(p.cuerpo.size()) + "\r\n\r\n";
  sent_[p.id] = p;
  if (socket_ == nullptr || !socket_->IsConnected()) return false;
  return socket_->Send(p.cabeza.data(), p.cabeza.size(), p.cuerpo.data(), p.cuerpo.size()) == kSocketOk;
}

bool TTransaccionHTTP::Submit(const std::string& command, const unsigned char* data,
                              uint32_t data_length, std::string& request_id, TEHDDReply* reply,
                              unsigned char* receive_buffer, uint32_t receive_size) {
  CriticalSectionGuard guard(lock_);
  TPeticionHTTP p;
  p.submitted_ms = platform::TickCount();
  p.reply = reply;
  p.receive = receive_buffer;
  p.receive_size = receive_size;
  ehdd_protocol::PeticionEnMarcada framed;
  const bool framed_ok = ehdd_protocol::EnmarcarPeticion(
      host_, port_, header_block_, command, data, data_length, ehdd_protocol::SiguienteContadorId(),
      0, 0, framed);
  p.id = framed.id;
  p.cuerpo = std::move(framed.cuerpo);
  request_id = p.id;
  if (!framed_ok || socket_ == nullptr || running.load() == 0) {
    Fail(p);  // nothing could carry it: fail now rather than wait forever
    return false;
  }
  CheckConnection(false);
  SendWaiting();
  const bool in_handshake = handshake_.paso() == NtlmHandshake::kTipo1 ||
                            handshake_.paso() == NtlmHandshake::kTipo3;
  if (static_cast<int32_t>(sent_.size()) < window_ && !in_handshake && socket_->IsConnected()) {
    Send(p);
    wake_.Wake();
    return true;
  }
  waiting_.push_back(std::move(p));
  wake_.Wake();
  return false;
}

void TTransaccionHTTP::SendWaiting() {
  // Requests that waited past their time fail wherever they stand in line.
  for (auto it = waiting_.begin(); it != waiting_.end();) {
    if (Expired(*it)) {
      Fail(*it);
      it = waiting_.erase(it);
    } else {
      ++it;
    }
  }
  const bool in_handshake = handshake_.paso() == NtlmHandshake::kTipo1 ||
                            handshake_.paso() == NtlmHandshake::kTipo3;
  while (!in_handshake && static_cast<int32_t>(sent_.size()) < window_ && !waiting_.empty() &&
         socket_ != nullptr && socket_->IsConnected()) {
    TPeticionHTTP p = std::move(waiting_.front());
    waiting_.pop_front();
    Send(p);
  }
}

void TTransaccionHTTP::SweepTimeouts(bool forced) {
  if (!forced && (timeout_s_ == 0 || sent_.empty())) return;
  bool failed = false;
  for (auto it = sent_.begin(); it != sent_.end();) {
    if (forced || Expired(it->second)) {
      Fail(it->second);
      it = sent_.erase(it);
      failed = true;
    } else {
      ++it;
    }
  }
  if (failed && socket_ != nullptr) socket_->Close();
}

void TTransaccionHTTP::CheckConnection(bool pending_only) {
  if (socket_ == nullptr) return;
  const size_t n = waiting_.size() + sent_.size();
  if (pending_only && n == 0) return;
  const int poll = socket_->Poll();
  if (poll == kSocketOk || poll == kSocketNothing) {
    backoff_ms_ = 0;
    return;
  }
  if (n > 0) {
    // Requests on the wire go back to the front of the line, in id order,
    // keeping their ids and their submission times.
    std::vector<TPeticionHTTP> back;
    for (auto& [id, p] : sent_) back.push_back(std::move(p));
    sent_.clear();
    waiting_.insert(waiting_.begin(), std::make_move_iterator(back.begin()),
                    std::make_move_iterator(back.end()));
  }
  handshake_.Reiniciar();
  const uint32_t now = platform::TickCount();
  if (backoff_ms_ != 0 && static_cast<int32_t>(now - next_reconnect_ms_) < 0) return;
  if (socket_->Reconnect()) {
    backoff_ms_ = 0;
  } else {
    backoff_ms_ = backoff_ms_ == 0 ? kFirstBackoffMs : std::min(backoff_ms_ * 2, kMaxBackoffMs);
    next_reconnect_ms_ = now + backoff_ms_;
  }
}

void TTransaccionHTTP::Drain(int64_t bytes) {
  unsigned char scratch[4096];
  while (bytes > 0 && socket_->IsConnected()) {
    size_t n = static_cast<size_t>(std::min<int64_t>(bytes, sizeof(scratch)));
    size_t count = 0;
    if (socket_->Receive(scratch, n, count) != kSocketOk) return;
    bytes -= static_cast<int64_t>(n);
  }
}

bool TTransaccionHTTP::ReadReply(int64_t& content_length) {
  THTTPReply reply;
  if (!ReadReplyHeader(*socket_, content_length, reply)) {
    // A head that never came whole leaves the stream out of step.
    if (socket_->IsConnected() && socket_->Poll() == kSocketOk) socket_->Close();
    return false;
  }
  if (reply.status == 200) {
    if (handshake_.paso() == NtlmHandshake::kTipo3) {
      Drain(content_length);
      handshake_.Aceptado();
      content_length = 0;
    } else {
      handshake_.Reiniciar();
    }
    return true;
  }
  if (reply.status >= 500) {
    platform::ShowMessageBox(reply.status_line, "ERROR ", platform::kMbOk);
    if (content_length > 0) {
      std::string body(static_cast<size_t>(std::min<int64_t>(content_length, 64 * 1024)), '\0');
      size_t count = 0;
      if (socket_->Receive(body.data(), body.size(), count) == kSocketOk) {
        platform::ShowMessageBox(body, "", platform::kMbOk);
      }
    }
    SweepTimeouts(true);
    return false;
  }
  platform::ShowMessageBox(reply.status_line, "ERROR ", platform::kMbOk);
  const bool send_line = handshake_.Avanzar(reply);
  Drain(content_length);
  if (send_line && socket_->IsConnected()) {
    const std::string head = ehdd_protocol::CabezaHandshake(
        host_, port_, header_block_, handshake_.linea().substr(26, handshake_.linea().size() - 28),
        ehdd_protocol::SiguienteContadorLinea(), static_cast<long>(std::time(nullptr)));
    socket_->Send(head.data(), head.size(), nullptr, 0);
  } else if (!send_line) {
    // A refusal that is not a handshake step: the requests on the wire
    // will get no answer; they go again after a reconnect.
    socket_->Close();
  }
  return false;
}

void TTransaccionHTTP::ReadOneReply() {
  int64_t content_length = 0;
  if (!ReadReply(content_length) || content_length == 0) return;
  if (content_length < static_cast<int64_t>(ehdd_protocol::kBloqueRespuesta)) {
    Drain(content_length);
    return;
  }
  unsigned char block[ehdd_protocol::kBloqueRespuesta];
  size_t count = 0;
  if (socket_->Receive(block, sizeof(block), count) != kSocketOk) return;
  const int64_t body = content_length - static_cast<int64_t>(ehdd_protocol::kBloqueRespuesta);
  ehdd_protocol::BloqueRespuesta parsed = ehdd_protocol::LeerBloqueRespuesta(block);
  auto it = parsed.ok ? sent_.find(parsed.id) : sent_.end();
  if (it == sent_.end()) {
    Drain(body);  // matches nothing: keep the stream in step
    return;
  }
  TPeticionHTTP p = std::move(it->second);
  sent_.erase(it);
  // The announced length must fit the body and the caller's buffer.
  if (parsed.longitud > body || (p.receive != nullptr && parsed.longitud > p.receive_size)) {
    Drain(body);
    Fail(p);
    return;
  }
  unsigned char* data = p.receive;
  if (data == nullptr) {
    data = new (std::nothrow) unsigned char[parsed.longitud + 1];
    if (data == nullptr) {
      Drain(body);
      Fail(p);
      return;
    }
  }
  uint32_t done = 0;
  while (done < parsed.longitud) {
    const uint32_t n = std::min(kPieza, parsed.longitud - done);
    if (socket_->Receive(data + done, n, count) != kSocketOk) {
      if (data != p.receive) delete[] data;
      waiting_.push_front(std::move(p));  // lost mid-reply: it goes again
      return;
    }
    done += n;
  }
  if (p.receive == nullptr) data[parsed.longitud] = 0;
  Drain(body - parsed.longitud);
  Complete(p, data, parsed.longitud);
}

void TTransaccionHTTP::Turn() {
  CriticalSectionGuard guard(lock_);
  if (socket_ == nullptr) return;
  const bool in_handshake = handshake_.paso() == NtlmHandshake::kTipo1 ||
                            handshake_.paso() == NtlmHandshake::kTipo3;
  if (in_handshake || handshake_.paso() == NtlmHandshake::kHecho) {
    if (socket_->IsConnected() && socket_->Poll() == kSocketOk) {
      int64_t content_length = 0;
      if (ReadReply(content_length) && handshake_.paso() == NtlmHandshake::kHecho) {
        Drain(content_length);
        handshake_.Reiniciar();
        if (!sent_.empty()) {
          TPeticionHTTP& first = sent_.begin()->second;
          TPeticionHTTP copy = first;
          Send(copy);
        }
      }
    }
    if (handshake_.paso() != NtlmHandshake::kNinguno) {
      SweepTimeouts(false);
      return;
    }
  }
  while (!sent_.empty() && socket_->IsConnected() && socket_->Poll() == kSocketOk) {
    ReadOneReply();
    if (handshake_.paso() != NtlmHandshake::kNinguno) return;
  }
  SweepTimeouts(false);
  if (!waiting_.empty() || !sent_.empty()) CheckConnection(true);
  SendWaiting();
}

void TTransaccionHTTP::Run() {
  {
    CriticalSectionGuard guard(lock_);
    handshake_.Reiniciar();
  }
  while (stop.load() == 0) {
    Turn();
    // Wait up to 1 ms: for the reply when a request is on the wire, else
    // for a new request.
    int fd = -1;
    {
      CriticalSectionGuard guard(lock_);
      if (!sent_.empty() && socket_ != nullptr && socket_->IsConnected()) fd = socket_->fd();
    }
    if (fd >= 0) {
      pollfd p{fd, POLLIN, 0};
      poll(&p, 1, 1);
    } else {
      wake_.WaitFor(1);
    }
  }
}
