#include "platform/capture/NSError.h"

#include <utility>

NSError::NSError(std::string domain, std::int64_t code, std::string localizedDescription)
    : domain_(std::move(domain)),
      code_(code),
      localizedDescription_(std::move(localizedDescription)),
      debugDescription_("Error Domain=" + domain_ + " Code=" + std::to_string(code_) + " \"" +
                        localizedDescription_ + "\"") {}
