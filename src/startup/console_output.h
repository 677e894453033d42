// The portable pieces of running a console command for its output (the "ver" command of the
// Windows version identification): its command line, the name of the file its output goes
// to and the joining of what it printed.
#pragma once

#include <string>

#include "startup/pseudo_random.h"
#include "startup/text_lines.h"

namespace kestrane {

// Returns the command line that runs command through the interpreter with its output sent to
// output_file: the interpreter path as it is, the output file quoted.
std::string ConsoleCommandLine(const std::string& interpreter, const std::string& command,
                               const std::string& output_file);
// Returns 8 letters, each drawn uniformly from a to z.
std::string RandomFileName(PseudoRandom& random);
// Returns every line of the source, each followed by "\r\n". One line is read before the end
// is first tested, so an empty or unreadable source gives "\r\n". Stops at a read error.
std::string JoinOutputLines(ByteStream& source);

}  // namespace kestrane
