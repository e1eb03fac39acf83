// A worker's end of its channel to the output process.
#pragma once

#include <cstdint>
#include <vector>

#include "image/containment/messages.h"

namespace quenthar::image {

/// Sends messages whole, or ends the worker when the output process is gone.
class WorkerChannel {
 public:
  explicit WorkerChannel(std::intptr_t handle) : handle_(handle) {}  // a descriptor, or a handle

  template <typename M>
  void Send(const M& message) const {
    SendFrame(Frame(message));
  }

 private:
  void SendFrame(const std::vector<std::uint8_t>& frame) const;
  std::intptr_t handle_;
};

}  // namespace quenthar::image
