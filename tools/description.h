// tools/description.h - the stack description packet as the tool prints
// it, for a local stack (zera describe) and a served one (zera top
// --describe). Included by the tool's sources only.
#ifndef ZERA_TOOLS_DESCRIPTION_H
#define ZERA_TOOLS_DESCRIPTION_H

#include <string>

#include "VOQ_ZERA_Comp.h"

namespace tool {

// Decodes a stack description packet from its count byte and prints it
// level by level, top first (text, or JSON when json); false with a
// message, printing nothing, for a short or malformed packet. The packet
// stays the caller's.
bool PrintDescription(ZERA_HPACKET packet, bool json, std::string *error);

}  // namespace tool

#endif  // ZERA_TOOLS_DESCRIPTION_H
