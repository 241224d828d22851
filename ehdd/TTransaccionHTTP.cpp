#include "ehdd/TTransaccionHTTP.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <new>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "ehdd/EHDDProtocol.h"
#include "ehdd/TEHDDReply.h"
#include "ehdd/THTTPReply.h"
#include "ehdd/TSocketTCP.h"
#include "platform/Clock.h"
#include "platform/MessageBox.h"

namespace {

constexpr uint32_t kFirstBackoffMs = 100;
constexpr uint32_t kMaxBackoffMs = 1000;
// Bytes taken in per turn at most, so a fast peer cannot keep the lock.
constexpr size_t kMaxLecturaTurno = 256 * 1024;
// What of a 5xx reply's body its box shows.
constexpr size_t kMaxCuerpoCaja = 64 * 1024;
// The longest wait with nothing due: a stop flag set without a wake is
// still seen within this.
constexpr int kEsperaMaximaMs = 1000;

}  // namespace

TTransaccionHTTP::TTransaccionHTTP() : TThreadOSAL(1) {
  wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

TTransaccionHTTP::~TTransaccionHTTP() {
  // The thread uses this object's members: stop it before they go.
  StopAndJoin();
  if (wake_fd_ >= 0) close(wake_fd_);
  CriticalSectionGuard guard(lock_);
  ResetReader();
  for (auto& [id, p] : sent_) Fail(p);
  for (auto& p : waiting_) Fail(p);
  sent_.clear();
  waiting_.clear();
  if (poll_fd_ >= 0) close(poll_fd_);
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
  ResetReader();
}

void TTransaccionHTTP::SetTimeout(int32_t seconds) {
  CriticalSectionGuard guard(lock_);
  timeout_s_ = seconds < 0 ? 0 : seconds;
  Wake();  // the deadlines the thread waits for have moved
}

void TTransaccionHTTP::StopAndJoin() {
  stop.store(1);
  Wake();
  TThreadOSAL::StopAndJoin();
}

void TTransaccionHTTP::Wake() {
  if (wake_fd_ < 0) return;
  const uint64_t one = 1;
  // A full counter already wakes the thread: the write may fail then.
  [[maybe_unused]] const ssize_t n = write(wake_fd_, &one, sizeof(one));
}

void TTransaccionHTTP::SetWindow(int32_t window) {
  CriticalSectionGuard guard(lock_);
  window_ = std::clamp<int32_t>(window, 1, kVentanaMaxima);
  SendWaiting();
  Wake();
}

int32_t TTransaccionHTTP::window() const {
  CriticalSectionGuard guard(lock_);
  return window_;
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

bool TTransaccionHTTP::InHandshake() const {
  return handshake_.paso() == NtlmHandshake::kTipo1 || handshake_.paso() == NtlmHandshake::kTipo3;
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
  return socket_->Send(p.cabeza.data(), p.cabeza.size(), p.cuerpo.data(), p.cuerpo.size()) ==
         kSocketOk;
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
  const bool framed_ok =
      ehdd_protocol::EnmarcarPeticion(host_, port_, header_block_, command, data, data_length,
                                      ehdd_protocol::SiguienteContadorId(), 0, 0, framed);
  p.id = framed.id;
  p.orden = siguiente_orden_++;
  p.cuerpo = std::move(framed.cuerpo);
  request_id = p.id;
  if (!framed_ok || socket_ == nullptr || running.load() == 0) {
    Fail(p);  // nothing could carry it: fail now rather than wait forever
    return false;
  }
  CheckConnection(false);
  SendWaiting();
  if (static_cast<int32_t>(sent_.size()) < window_ && !InHandshake() && socket_->IsConnected()) {
    Send(p);
    // A thread already waiting on this connection is woken by the reply;
    // the new request's deadline is the latest of all.
    if (espera_generacion_ != socket_->generation() || !socket_->IsConnected()) Wake();
    return true;
  }
  waiting_.push_back(std::move(p));
  Wake();
  return false;
}

void TTransaccionHTTP::ExpireWaiting() {
  // Requests that waited past their time fail wherever they stand in line.
  for (auto it = waiting_.begin(); it != waiting_.end();) {
    if (Expired(*it)) {
      Fail(*it);
      it = waiting_.erase(it);
    } else {
      ++it;
    }
  }
}

void TTransaccionHTTP::SendWaiting() {
  ExpireWaiting();
  while (!InHandshake() && static_cast<int32_t>(sent_.size()) < window_ && !waiting_.empty() &&
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
  // The failed requests' replies may still come: the connection goes, and
  // with it whatever of a reply was being read into a buffer now given back.
  if (failed) CloseSocket();
}

void TTransaccionHTTP::Requeue() {
  // Requests on the wire go back to the front of the line in the order
  // they were submitted (a close never overtakes an open of the same file),
  // keeping their ids and their submission times.
  std::vector<TPeticionHTTP> back;
  for (auto& [id, p] : sent_) back.push_back(std::move(p));
  sent_.clear();
  std::sort(back.begin(), back.end(),
            [](const TPeticionHTTP& a, const TPeticionHTTP& b) { return a.orden < b.orden; });
  waiting_.insert(waiting_.begin(), std::make_move_iterator(back.begin()),
                  std::make_move_iterator(back.end()));
  ResetReader();
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
  if (n > 0) Requeue();
  handshake_.Reiniciar();
  ResetReader();
  const uint32_t now = platform::TickCount();
  if (backoff_ms_ != 0 && static_cast<int32_t>(now - next_reconnect_ms_) < 0) return;
  if (socket_->Reconnect()) {
    backoff_ms_ = 0;
  } else {
    backoff_ms_ = backoff_ms_ == 0 ? kFirstBackoffMs : std::min(backoff_ms_ * 2, kMaxBackoffMs);
    next_reconnect_ms_ = now + backoff_ms_;
  }
  ResetReader();
}

bool TTransaccionHTTP::Reconectar(const std::string& host, uint16_t port,
                                  const std::string& server_host, int server_port) {
  CriticalSectionGuard guard(lock_);
  if (socket_ == nullptr) return false;
  Requeue();
  handshake_.Reiniciar();
  socket_->Close();
  socket_->Connect(host, port);
  host_ = server_host;
  port_ = server_port;
  header_block_ = ehdd_protocol::BloqueCabeceras(server_host, server_port);
  backoff_ms_ = 0;
  ResetReader();
  Wake();
  return socket_->IsConnected();
}

void TTransaccionHTTP::CloseSocket() {
  if (socket_ != nullptr) socket_->Close();
  ResetReader();
}

void TTransaccionHTTP::ResetReader() {
  if (datos_propios_) delete[] datos_;
  datos_ = nullptr;
  datos_propios_ = false;
  datos_longitud_ = 0;
  datos_lleno_ = 0;
  lectura_ = Lectura::kCabeza;
  cabeza_.clear();
  cuerpo_restante_ = 0;
  bloque_lleno_ = 0;
  id_actual_.clear();
  cuerpo_error_.clear();
  despues_ = Despues::kNada;
  reader_generation_ = socket_ != nullptr ? socket_->generation() : 0;
}

void TTransaccionHTTP::ReadAvailable() {
  unsigned char chunk[16384];
  size_t total = 0;
  while (total < kMaxLecturaTurno && socket_->IsConnected() &&
         socket_->generation() == reader_generation_) {
    size_t count = 0;
    // A reply's data of some size go straight into their buffer.
    const uint32_t falta = lectura_ == Lectura::kDatos ? datos_longitud_ - datos_lleno_ : 0;
    if (falta >= sizeof(chunk)) {
      if (socket_->ReceiveSome(datos_ + datos_lleno_, falta, count) != kSocketOk) break;
      total += count;
      DatosRecibidos(count);
      continue;
    }
    // Nothing yet: the reply goes on next turn. Lost: the socket closed
    // itself and the connection check that follows reconnects.
    if (socket_->ReceiveSome(chunk, sizeof(chunk), count) != kSocketOk) break;
    total += count;
    Feed(chunk, count);
  }
}

void TTransaccionHTTP::Feed(const unsigned char* bytes, size_t n) {
  size_t i = 0;
  while (i < n) {
    // What the bytes asked for may have closed the connection: the rest
    // belongs to a stream that is gone.
    if (!socket_->IsConnected() || socket_->generation() != reader_generation_) return;
    switch (lectura_) {
      case Lectura::kCabeza: {
        bool whole = false;
        while (i < n && !whole) {
          cabeza_ += static_cast<char>(bytes[i++]);
          if (cabeza_.size() == 5 && cabeza_.compare(0, 4, "HTTP") != 0) {
            CloseSocket();  // not a reply: the stream is out of step
            return;
          }
          whole = cabeza_.size() >= 4 && cabeza_.compare(cabeza_.size() - 4, 4, "\r\n\r\n") == 0;
          if (!whole && cabeza_.size() >= kMaxCabezaRespuesta) {
            CloseSocket();
            return;
          }
        }
        if (!whole) return;
        THTTPReply reply;
        int64_t content_length = 0;
        const std::string head = std::move(cabeza_);
        cabeza_.clear();
        if (!ParseReplyHeader(head.data(), head.size(), reply) ||
            !ParseContentLength(reply, content_length)) {
          CloseSocket();
          return;
        }
        ReadReply(reply, content_length);
        break;
      }
      case Lectura::kBloque: {
        const size_t take = std::min(n - i, sizeof(bloque_) - bloque_lleno_);
        std::memcpy(bloque_ + bloque_lleno_, bytes + i, take);
        i += take;
        bloque_lleno_ += take;
        cuerpo_restante_ -= static_cast<int64_t>(take);
        if (bloque_lleno_ < sizeof(bloque_)) return;
        const ehdd_protocol::BloqueRespuesta parsed = ehdd_protocol::LeerBloqueRespuesta(bloque_);
        auto it = parsed.ok ? sent_.find(parsed.id) : sent_.end();
        if (it == sent_.end()) {
          StartDrain(cuerpo_restante_, Despues::kNada);  // matches nothing: keep the stream in step
          break;
        }
        TPeticionHTTP& p = it->second;
        // The announced length must fit the body and the caller's buffer.
        unsigned char* data = nullptr;
        // Without a buffer of the caller's, a size given still bounds what
        // is allocated for the data.
        const bool cabe = p.receive != nullptr
                              ? parsed.longitud <= p.receive_size
                              : p.receive_size == 0 || parsed.longitud <= p.receive_size;
        if (parsed.longitud <= cuerpo_restante_ && cabe) {
          data = p.receive != nullptr ? p.receive
                                      : new (std::nothrow) unsigned char[parsed.longitud + 1];
        }
        if (data == nullptr) {
          TPeticionHTTP failed = std::move(p);
          sent_.erase(it);
          StartDrain(cuerpo_restante_, Despues::kNada);
          Fail(failed);
          break;
        }
        datos_ = data;
        datos_propios_ = p.receive == nullptr;
        datos_longitud_ = parsed.longitud;
        datos_lleno_ = 0;
        id_actual_ = parsed.id;
        lectura_ = Lectura::kDatos;
        if (datos_longitud_ != 0) break;
        [[fallthrough]];
      }
      case Lectura::kDatos: {
        const size_t take = std::min<size_t>(n - i, datos_longitud_ - datos_lleno_);
        if (take > 0) std::memcpy(datos_ + datos_lleno_, bytes + i, take);
        i += take;
        DatosRecibidos(take);
        if (lectura_ == Lectura::kDatos) return;
        break;
      }
      case Lectura::kCuerpoError:
      case Lectura::kDescarte: {
        const size_t take = static_cast<size_t>(std::min<int64_t>(n - i, cuerpo_restante_));
        if (lectura_ == Lectura::kCuerpoError && cuerpo_error_.size() < kMaxCuerpoCaja) {
          cuerpo_error_.append(reinterpret_cast<const char*>(bytes + i),
                               std::min(take, kMaxCuerpoCaja - cuerpo_error_.size()));
        }
        i += take;
        cuerpo_restante_ -= static_cast<int64_t>(take);
        if (cuerpo_restante_ == 0) EndBody();
        break;
      }
    }
  }
}

void TTransaccionHTTP::DatosRecibidos(size_t n) {
  datos_lleno_ += static_cast<uint32_t>(n);
  cuerpo_restante_ -= static_cast<int64_t>(n);
  if (datos_lleno_ < datos_longitud_) return;
  // Whole: the request is completed now, the rest of the body (if any) is
  // dropped as it comes.
  auto it = sent_.find(id_actual_);
  unsigned char* data = datos_;
  const bool own = datos_propios_;
  datos_ = nullptr;
  datos_propios_ = false;
  StartDrain(cuerpo_restante_, Despues::kNada);
  if (it == sent_.end()) {
    if (own) delete[] data;
    return;
  }
  TPeticionHTTP p = std::move(it->second);
  sent_.erase(it);
  if (p.receive == nullptr) data[datos_longitud_] = 0;
  Complete(p, data, datos_longitud_);
}

void TTransaccionHTTP::ReadReply(const THTTPReply& reply, int64_t content_length) {
  if (reply.status == 200) {
    if (handshake_.paso() == NtlmHandshake::kTipo3) {
      // Authenticated: the body is dropped, then the refused request goes again.
      handshake_.Aceptado();
      StartDrain(content_length, Despues::kReenviarPrimera);
      return;
    }
    handshake_.Reiniciar();
    if (content_length < static_cast<int64_t>(ehdd_protocol::kBloqueRespuesta)) {
      StartDrain(content_length, Despues::kNada);  // no reply block: completes nothing
      return;
    }
    lectura_ = Lectura::kBloque;
    bloque_lleno_ = 0;
    cuerpo_restante_ = content_length;
    return;
  }
  // Boxes wait until the lock is left: a box may stay up for minutes.
  cajas_.emplace_back(reply.status_line, "ERROR ");
  if (reply.status >= 500) {
    lectura_ = Lectura::kCuerpoError;
    cuerpo_error_.clear();
    cuerpo_restante_ = content_length;
    despues_ = Despues::kFalloForzado;
    if (content_length == 0) EndBody();
    return;
  }
  const bool send_line = handshake_.Avanzar(reply);
  // A refusal that is not a handshake step: the requests on the wire will
  // get no answer; they go again after a reconnect.
  StartDrain(content_length, send_line ? Despues::kLineaHandshake : Despues::kCerrar);
}

void TTransaccionHTTP::StartDrain(int64_t bytes, Despues despues) {
  lectura_ = Lectura::kDescarte;
  cuerpo_restante_ = bytes;
  despues_ = despues;
  if (bytes <= 0) EndBody();
}

void TTransaccionHTTP::EndBody() {
  const Despues despues = despues_;
  lectura_ = Lectura::kCabeza;
  cabeza_.clear();
  cuerpo_restante_ = 0;
  bloque_lleno_ = 0;
  id_actual_.clear();
  despues_ = Despues::kNada;
  switch (despues) {
    case Despues::kNada:
      break;
    case Despues::kLineaHandshake:
      if (socket_->IsConnected()) {
        const std::string& linea = handshake_.linea();
        const std::string head = ehdd_protocol::CabezaHandshake(
            host_, port_, header_block_, linea.substr(26, linea.size() - 28),
            ehdd_protocol::SiguienteContadorLinea(), static_cast<long>(std::time(nullptr)));
        socket_->Send(head.data(), head.size(), nullptr, 0);
      }
      break;
    case Despues::kCerrar:
      CloseSocket();
      break;
    case Despues::kReenviarPrimera:
      handshake_.Reiniciar();
      if (!sent_.empty()) {
        TPeticionHTTP copy = sent_.begin()->second;
        Send(copy);
      }
      break;
    case Despues::kFalloForzado:
      if (!cuerpo_error_.empty()) cajas_.emplace_back(std::move(cuerpo_error_), "");
      cuerpo_error_.clear();
      SweepTimeouts(true);
      break;
  }
}

void TTransaccionHTTP::Turn(bool readable) {
  std::vector<std::pair<std::string, std::string>> cajas;
  {
    CriticalSectionGuard guard(lock_);
    espera_generacion_ = 0;
    if (socket_ == nullptr) return;
    if (socket_->generation() != reader_generation_) ResetReader();
    // What arrived is taken in, also with nothing on the wire (a late reply
    // is dropped, a peer that closed is seen at once).
    if (readable || !sent_.empty() || InHandshake() || lectura_ != Lectura::kCabeza ||
        !cabeza_.empty()) {
      ReadAvailable();
    }
    if (InHandshake()) {
      // While the proxy is answered, requests still fail by age and a lost
      // connection starts everything again.
      SweepTimeouts(false);
      ExpireWaiting();
      if (!waiting_.empty() || !sent_.empty()) {
        CheckConnection(true);
      } else if (!socket_->IsConnected()) {
        handshake_.Reiniciar();
      }
    }
    if (!InHandshake()) {
      SweepTimeouts(false);
      if (!waiting_.empty() || !sent_.empty()) CheckConnection(true);
      SendWaiting();
    }
    // The copy of the descriptor this thread waits on, renewed whenever
    // the connection changed.
    if (socket_->generation() != poll_generation_) {
      if (poll_fd_ >= 0) close(poll_fd_);
      poll_fd_ = socket_->IsConnected() ? fcntl(socket_->fd(), F_DUPFD_CLOEXEC, 0) : -1;
      poll_generation_ = socket_->generation();
    }
    // The connection is always waited on: whatever arrives ends the wait.
    poll_wanted_ = socket_->IsConnected() && poll_fd_ >= 0;
    espera_generacion_ = poll_wanted_ ? poll_generation_ : 0;
    wait_ms_ = WaitBound();
    cajas.swap(cajas_);
  }
  for (const auto& [text, caption] : cajas)
    platform::ShowMessageBox(text, caption, platform::kMbOk);
}

int TTransaccionHTTP::WaitBound() const {
  int64_t bound = kEsperaMaximaMs;
  const uint32_t now = platform::TickCount();
  if (timeout_s_ != 0) {
    // A request fails once its age is more than the time-out: one
    // millisecond past it.
    const int64_t limit = static_cast<int64_t>(timeout_s_) * 1000 + 1;
    auto due = [&](const TPeticionHTTP& p) {
      bound = std::min<int64_t>(bound, std::max<int64_t>(0, limit - (now - p.submitted_ms)));
    };
    for (const auto& [id, p] : sent_) due(p);
    for (const auto& p : waiting_) due(p);
  }
  if ((!waiting_.empty() || !sent_.empty()) && socket_ != nullptr && !socket_->IsConnected()) {
    // A connection to make again, after its back-off.
    const int32_t left = static_cast<int32_t>(next_reconnect_ms_ - now);
    bound = std::min<int64_t>(bound, backoff_ms_ == 0 ? 0 : std::max<int32_t>(0, left) + 1);
  }
  return static_cast<int>(bound);
}

void TTransaccionHTTP::Run() {
  {
    CriticalSectionGuard guard(lock_);
    handshake_.Reiniciar();
  }
  bool readable = false;
  while (stop.load() == 0) {
    Turn(readable);
    turns_.fetch_add(1);
    if (stop.load() != 0) break;
    // One wait on the wake event and, when a reply is expected, the
    // socket (this thread's own copy of its descriptor), until the next
    // deadline: a reply is taken in the moment it arrives.
    pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {poll_fd_, POLLIN, 0}};
    const nfds_t n = poll_wanted_ && poll_fd_ >= 0 ? 2 : 1;
    int wait_ms = wait_ms_ < 0 ? kEsperaMaximaMs : wait_ms_;
    if (wake_fd_ < 0) {
      fds[0].fd = -1;  // no event to be woken by: short turns, as a fallback
      wait_ms = std::min(wait_ms, 1);
    }
    const int ready = poll(fds, n, wait_ms);
    readable = ready > 0 && n == 2 && fds[1].revents != 0;
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
      uint64_t count = 0;
      [[maybe_unused]] const ssize_t got = read(wake_fd_, &count, sizeof(count));
    }
  }
}
