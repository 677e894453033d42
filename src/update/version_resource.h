// The package's version resource, written as resource-script text from the package
// constants, so that Windows shows a description, product name and version for the file.
//
// Two string tables: Russian (0419, code page 1251) with the package caption as
// FileDescription, and English (0409, code page 1252) with the English title. Every text is
// written as UTF-16 code units (L"\x0417..."), so that the resource compiler's own idea of
// the script's code page cannot change a single character.
#pragma once

#include <string>

namespace kestrane {

// Returns a resource-script string literal (L"...") holding exactly `text`: printable ASCII as
// it is (a quote doubled, as resource compilers read it), everything else as \xNNNN.
std::string ResourceStringLiteral(const std::u16string& text);

// Returns the VERSIONINFO resource script of a package of `version` (1 to 65535) whose file is
// named `original_filename` (ASCII): file and product version "version.0.0.0" in the fixed part and
// the version in decimal in the strings, FileDescription the package caption (Russian table)
// or the English title, ProductName the host application's name.
std::string VersionInfoScript(int version, const std::string& original_filename);

}  // namespace kestrane
