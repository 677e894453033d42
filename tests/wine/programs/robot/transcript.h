// The transcript: one JSON record a line, written as things happen, so that a run cut short
// still leaves what it saw.
#pragma once

#include <string>

#include "startup/scoped_handle_win.h"

namespace robot {

// A UTF-8 text as a JSON string literal, quotes included.
std::string Json(const std::string& utf8);

class Transcript {
 public:
  // Creates (or truncates) the file; valid() tells whether that worked.
  explicit Transcript(const std::wstring& path);
  bool valid() const { return file_.valid(); }
  // Writes one record; a failed write is reported on stderr and the run goes on.
  void Write(const std::string& line);

 private:
  kestrane::ScopedHandle file_;
};

}  // namespace robot
