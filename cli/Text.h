// Text from outside the program (a drive's INQUIRY fields and serial number, file names,
// arguments, the host's name) on its way into the document and the lines people read. Such
// text is bytes: nothing promises UTF-8, and a drive may send anything.
#pragma once

#include <string>

namespace cli {

// For the JSON document: ASCII as it is, every other byte the character of the same value
// (Latin-1), so any bytes make valid UTF-8 and each byte can be read back from its character.
std::string JsonText(const std::string& bytes);

// For a line on a terminal: printable ASCII as it is, every other byte (controls, which could
// move the cursor or recolour the screen, and bytes of 0x80 and up) as \xNN.
std::string HumanText(const std::string& bytes);

// ASCII letters in upper case, every other byte as it is: revisions compare this way.
std::string UpperCase(std::string text);

} // namespace cli
