#include "startup/console_output.h"

namespace kestrane {

std::string ConsoleCommandLine(const std::string& interpreter, const std::string& command,
                               const std::string& output_file) {
  return interpreter + " /c " + command + " > \"" + output_file + "\"";
}

std::string RandomFileName(PseudoRandom& random) {
  std::string name(8, 'a');
  for (char& c : name) c = static_cast<char>('a' + random.Below(26));
  return name;
}

std::string JoinOutputLines(ByteStream& source) {
  std::string joined;
  std::string line;
  // Each pass but the last consumes at least one byte, so the source's length bounds the loop.
  do {
    const bool read = ReadTextLine(source, &line);
    joined += line;
    joined += "\r\n";
    if (!read) break;
  } while (!source.AtEnd());
  return joined;
}

}  // namespace kestrane
