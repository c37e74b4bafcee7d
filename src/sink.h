// Where converted bytes go, whatever holds them: a file, a string.
#pragma once

#include <string_view>

namespace quorvex {

// Takes the destination's bytes in order.
class Sink {
  public:
    virtual ~Sink() = default;
    // Returns false when the bytes could not be written.
    virtual bool write(std::string_view bytes) = 0;
};

} // namespace quorvex
