#include "ehdd/TEHDDWriteBuffer.h"

#include <cstdio>

#include "ehdd/EHDDProtocol.h"
#include "ehdd/TEHDDClient.h"

TEHDDWriteBuffer::TEHDDWriteBuffer(TEHDDClient* client, std::string session_id, TFicheroEHDD* file)
    : client_(client), session_id_(std::move(session_id)), data_(kCapacidad), file_(file) {}

uint32_t TEHDDWriteBuffer::fill() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fill_;
}

void TEHDDWriteBuffer::Append(const unsigned char* data, uint32_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  uint32_t done = 0;
  while (done < size) {
    if (fill_ == capacity_) FlushLocked();
    uint32_t room = capacity_ - fill_;
    uint32_t take = size - done < room ? size - done : room;
    std::copy(data + done, data + done + take, data_.begin() + fill_);
    fill_ += take;
    done += take;
  }
}

void TEHDDWriteBuffer::Flush() {
  std::lock_guard<std::mutex> lock(mutex_);
  FlushLocked();
}

void TEHDDWriteBuffer::FlushIfFilled() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fill_ > 0) FlushLocked();
}

void TEHDDWriteBuffer::FlushLocked() {
  std::string command;
  TEHDDReply reply;
  if (!ehdd_protocol::Comando({{"CM", "WR"},
                               {"OF", std::to_string(file_->offset)},
                               {"BS", std::to_string(fill_)},
                               {"ID", file_->fileId},
                               {"IS", session_id_},
                               {"WBD", ""}},
                              command) ||
      !client_->Enviar(command, data_.data(), fill_, nullptr, 0, reply)) {
    throw std::string(kErrorPerdida);
  }
  file_->offset += fill_;
  fill_ = 0;
}
