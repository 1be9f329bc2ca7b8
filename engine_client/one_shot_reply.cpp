#include "engine_client/one_shot_reply.h"

#include <iostream>
#include <utility>

namespace flutter {

OneShotReply::OneShotReply(ReplySink reply) : reply_(std::move(reply)) {}

OneShotReply::~OneShotReply() {
  if (reply_) {
    std::cerr
        << "Warning: Failed to respond to a message. This is a memory leak."
        << std::endl;
  }
}

void OneShotReply::Deliver(const std::vector<uint8_t>* reply) {
  if (!reply_) {
    std::cerr << "Error: Only one of Success, Error, or NotImplemented can be "
                 "called,"
              << " and it can be called exactly once. Ignoring duplicate "
                 "result."
              << std::endl;
    return;
  }
  const uint8_t* data =
      (reply != nullptr && !reply->empty()) ? reply->data() : nullptr;
  const size_t size = reply != nullptr ? reply->size() : 0;
  reply_(data, size);
  reply_ = nullptr;
}

}  // namespace flutter
