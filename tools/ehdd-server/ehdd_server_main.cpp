// ehdd-server: a small eHDD server on 127.0.0.1 for tests and benchmarks.
// It serves the plain files of a folder and the members of FAT/DAT volumes
// in it ("data/unit001#/PATH" is the member PATH of data/unit001.FAT/.DAT),
// and can misbehave on purpose. A plain file opened for reading is read
// through the descriptor its open took, until its close.
//
//   ehdd-server --root DIR --port N [--log FILE] [--delay-ms N] [--latency-ms N]
//               [--close-mid-reply] [--status-503] [--wrong-id] [--bad-block]
//               [--long-length] [--trickle-head] [--refuse] [--no-session]
//
// Port 0 picks a free port; the port is printed on the first line.
// --delay-ms holds each reply that long before the next request is read (a
// slow server); --latency-ms sends each reply that long after its request
// arrived while later requests are read and answered meanwhile (a distant
// server: requests overlap).
#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/Checksums.h"
#include "base/TextUtils.h"
#include "ehdd/TVolumen.h"

namespace fs = std::filesystem;

namespace {

struct Options {
  std::string root;
  int port = 0;
  std::string log;
  int delay_ms = 0;
  int latency_ms = 0;
  bool close_mid_reply = false;
  bool status_503 = false;
  bool wrong_id = false;
  bool bad_block = false;
  bool long_length = false;
  bool trickle_head = false;
  bool refuse = false;
  bool no_session = false;
};

Options g_options;
std::mutex g_mutex;  // files, volumes, log
// A plain file opened for reading keeps its descriptor until its close:
// each of its reads is then one pread.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
};
struct Servido {
  std::string path;  // resolved path
  std::shared_ptr<Descriptor> abierto;
};
std::map<std::string, Servido> g_files;  // by file id
std::map<std::string, std::unique_ptr<TVolumen>> g_volumes;
std::atomic<int> g_sessions{0};

// Sends every byte of the parts, going on after a short send.
bool SendParts(int fd, iovec* parts, int count) {
  while (count > 0) {
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = static_cast<size_t>(count);
    ssize_t put = sendmsg(fd, &message, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    while (count > 0 && static_cast<size_t>(put) >= parts->iov_len) {
      put -= static_cast<ssize_t>(parts->iov_len);
      ++parts;
      --count;
    }
    if (count > 0) {
      parts->iov_base = static_cast<char*>(parts->iov_base) + put;
      parts->iov_len -= static_cast<size_t>(put);
    }
  }
  return true;
}

bool SendAll(int fd, const void* data, size_t n) {
  iovec part = {const_cast<void*>(data), n};
  return SendParts(fd, &part, 1);
}

void Log(const std::string& command) {
  if (g_options.log.empty()) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  std::ofstream(g_options.log, std::ios::app) << command << "\n";
}

bool SafePath(const std::string& path) {
  return path.find("..") == std::string::npos;
}

// Reads up to length bytes at offset of an open file into the front of
// out, which only grows, and to no more than the file holds there (what it
// held is not cleared first); the bytes read.
size_t ReadAt(int fd, uint64_t offset, uint64_t length, std::string& out) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || offset >= static_cast<uint64_t>(st.st_size)) return 0;
  length = std::min<uint64_t>(length, static_cast<uint64_t>(st.st_size) - offset);
  if (out.size() < length) out.resize(length);
  size_t got = 0;
  while (got < length) {
    const ssize_t r = pread(fd, out.data() + got, length - got, static_cast<off_t>(offset + got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  return got;
}

// "data/unit001#/PATH": a member of a volume, not a plain file.
bool EsMiembro(const std::string& path) {
  const size_t hash = path.rfind('#');
  return hash != std::string::npos && hash > 0;
}

// Opens a plain served file for its reads; null for a volume member or a
// file that is absent or not a regular file.
std::shared_ptr<Descriptor> OpenServed(const std::string& path, int64_t* size) {
  if (!SafePath(path) || EsMiembro(path)) return nullptr;
  auto d = std::make_shared<Descriptor>();
  d->fd = open((g_options.root + "/" + path).c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (d->fd < 0 || fstat(d->fd, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  *size = st.st_size;
  return d;
}

// Reads [offset, offset + length) of a served file into the front of out
// (*got bytes); false when absent.
bool ReadServed(const std::string& path, uint64_t offset, uint64_t length, std::string& out,
                size_t* got, int64_t* size) {
  *got = 0;
  if (!SafePath(path)) return false;
  if (EsMiembro(path)) {
    const size_t hash = path.rfind('#');
    std::lock_guard<std::mutex> lock(g_mutex);
    const std::string prefix = g_options.root + "/" + path.substr(0, hash);
    auto& volume = g_volumes[prefix];
    if (!volume) {
      volume = std::make_unique<TVolumen>();
      if (!volume->Abrir(prefix)) {
        volume.reset();
        return false;
      }
    }
    TFicheroVolumen r = volume->AbrirFichero(path.substr(hash + 1), "r", "YO");
    int64_t s = volume->Size(r);
    if (s < 0) return false;
    if (size) *size = s;
    if (length > 0 && offset < static_cast<uint64_t>(s)) {
      uint64_t n = std::min<uint64_t>(length, static_cast<uint64_t>(s) - offset);
      if (out.size() < n) out.resize(n);
      volume->Posicionar(r, static_cast<int64_t>(offset), 0);
      const int64_t read = volume->Leer(r, out.data(), static_cast<uint32_t>(n));
      *got = read > 0 ? static_cast<size_t>(read) : 0;
    }
    volume->CerrarFichero(r);
    return true;
  }
  int64_t s = 0;
  const std::shared_ptr<Descriptor> file = OpenServed(path, &s);
  if (!file) return false;
  if (size) *size = s;
  if (length > 0) *got = ReadAt(file->fd, offset, length, out);
  return true;
}

void Reply(int fd, const std::string& id, std::string_view data, bool* keep) {
  if (g_options.delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(g_options.delay_ms));
  if (g_options.status_503) {
    const std::string body = "Service down for maintenance";
    const std::string head = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: " +
                             std::to_string(body.size()) + "\r\n\r\n";
    SendAll(fd, head.data(), head.size());
    SendAll(fd, body.data(), body.size());
    return;
  }
  char block[64];
  uint32_t announced = static_cast<uint32_t>(data.size()) + (g_options.long_length ? 1000 : 0);
  std::snprintf(block, sizeof(block), "%s%08X %s,", g_options.bad_block ? "RETX" : "RET0", announced,
                (g_options.wrong_id ? std::string("ffff_ffff") : id).c_str());
  std::string reply_block(block);
  reply_block.resize(32, ' ');
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                           std::to_string(32 + data.size()) + "\r\n\r\n";
  if (g_options.trickle_head || g_options.close_mid_reply) {
    const std::string body = reply_block + std::string(data);
    if (g_options.trickle_head) {
      for (char c : head) {
        if (!SendAll(fd, &c, 1)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    } else if (!SendAll(fd, head.data(), head.size())) {
      return;
    }
    if (g_options.close_mid_reply) {
      SendAll(fd, body.data(), body.size() / 2);
      *keep = false;
      return;
    }
    SendAll(fd, body.data(), body.size());
    return;
  }
  // Head, reply block and data in one call, without joining them first.
  iovec parts[3] = {{const_cast<char*>(head.data()), head.size()},
                    {reply_block.data(), reply_block.size()},
                    {const_cast<char*>(data.data()), data.size()}};
  SendParts(fd, parts, 3);
}

// A command's answer: a text, or a read's bytes in the connection's buffer.
struct Respuesta {
  std::string texto;
  const char* datos = nullptr;
  size_t n = 0;
  std::string_view Bytes() const { return datos != nullptr ? std::string_view(datos, n) : texto; }
};

Respuesta Texto(std::string text) {
  Respuesta r;
  r.texto = std::move(text);
  return r;
}

// lectura: the connection's read buffer, kept from one request to the next.
Respuesta Handle(const std::string& command, const std::string& data, std::string& lectura) {
  std::map<std::string, std::string> kv;
  ParseKeyValues(command.c_str(), command.size(), kv, '&', '=');
  const std::string cm = kv["CM"];
  if (cm == "OS") {
    if (g_options.no_session) return Texto("RT=0");
    return Texto("IS=S" + std::to_string(++g_sessions) + "&RT=1");
  }
  if (cm == "OP") {
    const std::string fn = kv["FN"];
    const std::string id = CacheName(fn.c_str());
    if (kv["MD"] == "2" || kv["MD"] == "3") {
      if (!SafePath(fn) || fn.find('#') != std::string::npos) return Texto("RT=0");
      std::ofstream out(g_options.root + "/" + fn, std::ios::binary | std::ios::trunc);
      if (!out) return Texto("RT=0");
      std::lock_guard<std::mutex> lock(g_mutex);
      g_files[id] = Servido{fn, nullptr};
      return Texto("IDF=" + id + "&RT=1&LN=0");
    }
    int64_t size = 0;
    std::shared_ptr<Descriptor> abierto = OpenServed(fn, &size);
    size_t ignored = 0;
    // A volume member is sized through its volume.
    if (!abierto && (!EsMiembro(fn) || !ReadServed(fn, 0, 0, lectura, &ignored, &size))) {
      return Texto("RT=0");
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    g_files[id] = Servido{fn, std::move(abierto)};
    return Texto("IDF=" + id + "&RT=1&LN=" + std::to_string(size));
  }
  Servido servido;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_files.find(kv["ID"]);
    if (it != g_files.end()) {
      if (cm == "CF") {
        it->second.abierto.reset();  // a later read opens the file by its path again
        return Texto("RET=0");
      }
      servido = it->second;
    }
  }
  if (cm == "RD") {
    const uint64_t of = std::strtoull(kv["OF"].c_str(), nullptr, 10);
    const uint64_t n = std::min<uint64_t>(
        std::strtoull(kv["BS"].c_str(), nullptr, 10) * std::strtoull(kv["NB"].c_str(), nullptr, 10),
        64u << 20);
    Respuesta r;
    if (servido.abierto) {
      r.n = ReadAt(servido.abierto->fd, of, n, lectura);
    } else if (!servido.path.empty()) {
      ReadServed(servido.path, of, n, lectura, &r.n, nullptr);
    }
    r.datos = lectura.data();  // where the buffer is now: it may have grown
    return r;
  }
  if (cm == "WR") {
    if (servido.path.empty()) return Texto("RET=1");
    std::fstream f(g_options.root + "/" + servido.path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(std::strtoull(kv["OF"].c_str(), nullptr, 10)));
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
    return Texto("RET=0");
  }
  if (cm == "MD") {
    if (!SafePath(kv["FN"])) return Texto("RET=1");
    std::string fn = kv["FN"];
    for (char& c : fn) {
      if (c == '\\') c = '/';
    }
    std::error_code ec;
    fs::create_directories(g_options.root + "/" + fn, ec);
    return Texto("RET=0");
  }
  return Texto("RET=0");
}

// The bytes of one connection, read in large pieces: a request's head is
// taken from what has arrived, and what follows it stays for the next.
class Reader {
 public:
  explicit Reader(int fd) : fd_(fd) {}
  // The head up to and including its empty line; false when the peer went.
  bool Head(std::string& head) {
    for (;;) {
      const size_t end = buffer_.find("\r\n\r\n", start_);
      if (end != std::string::npos) {
        head.assign(buffer_, start_, end + 4 - start_);
        start_ = end + 4;
        return true;
      }
      if (buffer_.size() - start_ >= 65536) return false;
      if (!Fill()) return false;
    }
  }
  bool Bytes(std::string& out, size_t n) {
    out.clear();
    out.reserve(n);
    while (out.size() < n) {
      if (start_ == buffer_.size() && !Fill()) return false;
      const size_t take = std::min(n - out.size(), buffer_.size() - start_);
      out.append(buffer_, start_, take);
      start_ += take;
    }
    return true;
  }

 private:
  bool Fill() {
    buffer_.erase(0, start_);
    start_ = 0;
    char chunk[65536];
    const ssize_t got = recv(fd_, chunk, sizeof(chunk), 0);
    if (got <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(got));
    return true;
  }
  int fd_;
  std::string buffer_;
  size_t start_ = 0;
};

// The replies of one connection held until their time (--latency-ms), sent
// in order by a thread of their own.
class Outbox {
 public:
  explicit Outbox(int fd) : fd_(fd), thread_([this] { Run(); }) {}
  ~Outbox() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  void Post(std::chrono::steady_clock::time_point due, std::function<bool()> send) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.emplace_back(due, std::move(send));
    }
    cv_.notify_all();
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      cv_.wait(lock, [this] { return done_ || !queue_.empty(); });
      if (queue_.empty()) return;  // done, nothing left to send
      const auto due = queue_.front().first;
      if (!done_ && cv_.wait_until(lock, due, [this] { return done_; })) continue;
      if (done_) return;  // the connection went: what is held goes with it
      auto send = std::move(queue_.front().second);
      queue_.pop_front();
      lock.unlock();
      const bool keep = send();
      lock.lock();
      if (!keep) {
        shutdown(fd_, SHUT_RDWR);  // ends the reading side too
        queue_.clear();
      }
    }
  }
  int fd_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::pair<std::chrono::steady_clock::time_point, std::function<bool()>>> queue_;
  bool done_ = false;
  std::thread thread_;
};

void Serve(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  Reader reader(fd);
  std::string lectura;  // a read's bytes, in a buffer kept from one read to the next
  std::unique_ptr<Outbox> outbox;
  if (g_options.latency_ms > 0) outbox = std::make_unique<Outbox>(fd);
  for (bool keep = true; keep;) {
    std::string head;
    if (!reader.Head(head)) break;
    const auto arrived = std::chrono::steady_clock::now();
    size_t cl = head.find("Content-Length: ");
    size_t length = cl == std::string::npos ? 0 : std::strtoul(head.c_str() + cl + 16, nullptr, 10);
    if (length > (64u << 20)) break;
    std::string body;
    if (length > 0 && !reader.Bytes(body, length)) break;
    if (length < 32) continue;  // an empty request (a proxy handshake): nothing to answer
    const std::string prefix = body.substr(0, 32);
    const size_t c1 = prefix.find(','), c2 = prefix.find(',', c1 + 1);
    if (prefix.compare(0, 3, "QOR") != 0 || c1 == std::string::npos || c2 == std::string::npos) break;
    const std::string id = prefix.substr(c1 + 1, c2 - c1 - 1);
    std::string command = body.substr(32);
    std::string data;
    const size_t wbd = command.find("&WBD=");
    if (command.compare(0, 5, "CM=WR") == 0 && wbd != std::string::npos) {
      data = command.substr(wbd + 5);
      command = command.substr(0, wbd + 5);
    }
    Log(command);
    if (outbox) {
      // Answered now, in order; the reply leaves when its time has come.
      outbox->Post(arrived + std::chrono::milliseconds(g_options.latency_ms),
                   [fd, id, reply = std::string(Handle(command, data, lectura).Bytes())] {
                     bool keep_going = true;
                     Reply(fd, id, reply, &keep_going);
                     return keep_going;
                   });
      continue;
    }
    const Respuesta reply = Handle(command, data, lectura);
    Reply(fd, id, reply.Bytes(), &keep);
  }
  outbox.reset();  // joins the sender before the descriptor goes
  close(fd);
}

int Usage() {
  std::fprintf(stderr, "usage: ehdd-server --root DIR --port N [--log FILE] [--delay-ms N] [--latency-ms N]\n"
                       "       [--close-mid-reply] [--status-503] [--wrong-id] [--bad-block] [--long-length] [--trickle-head]\n"
                       "       [--refuse] [--no-session]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  // Replies of tens of kilobytes come and go on every thread: keep freed
  // memory instead of handing it back (and flushing the mappings) each time.
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--root") g_options.root = value();
    else if (a == "--port") g_options.port = std::atoi(value().c_str());
    else if (a == "--log") g_options.log = value();
    else if (a == "--delay-ms") g_options.delay_ms = std::atoi(value().c_str());
    else if (a == "--latency-ms") g_options.latency_ms = std::atoi(value().c_str());
    else if (a == "--close-mid-reply") g_options.close_mid_reply = true;
    else if (a == "--status-503") g_options.status_503 = true;
    else if (a == "--wrong-id") g_options.wrong_id = true;
    else if (a == "--bad-block") g_options.bad_block = true;
    else if (a == "--long-length") g_options.long_length = true;
    else if (a == "--trickle-head") g_options.trickle_head = true;
    else if (a == "--refuse") g_options.refuse = true;
    else if (a == "--no-session") g_options.no_session = true;
    else return Usage();
  }
  if (g_options.root.empty() || !fs::is_directory(g_options.root)) return Usage();
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(g_options.port));
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(listener, 16) != 0) {
    std::perror("ehdd-server");
    return 1;
  }
  socklen_t len = sizeof(address);
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &len);
  std::printf("%d\n", ntohs(address.sin_port));
  std::fflush(stdout);
  for (;;) {
    int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) continue;
    if (g_options.refuse) {
      close(fd);
      continue;
    }
    std::thread(Serve, fd).detach();
  }
}
