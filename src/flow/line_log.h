#pragma once
#include <string_view>

namespace vantile {

// Where log lines go; the install log is one, a test's recorder another.
class LineLog {
  public:
    virtual ~LineLog() = default;
    // Never fails: a line that cannot be written is dropped.
    virtual void write_line(std::string_view text) = 0;
};

}  // namespace vantile
