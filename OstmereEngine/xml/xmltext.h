// Attribute texts between the engine's UTF-16 strings and the XML library's UTF-8.
#pragma once

#include <string>

namespace ostmere {

// XML 1.0 cannot carry lone surrogates (the form undecodable file-name bytes take), most C0
// controls, U+FFFE or U+FFFF. Such a code unit is written as U+E000 followed by one private-use
// character that names it; a literal U+E000 is doubled. Every other character is written as is.
std::string toXmlText(const std::u16string& text);
// Inverse of toXmlText; a U+E000 that starts no known pair is kept as it is.
std::u16string fromXmlText(const char* text);

} // namespace ostmere
