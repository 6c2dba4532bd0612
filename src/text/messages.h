// The message ids by name, from the one list in text/messages.inc.
#pragma once

enum MessageId : int {
#define FARLANDER_MESSAGE(id, name, group, text) name = id,
#include "text/messages.inc"
#undef FARLANDER_MESSAGE
};

inline constexpr int MESSAGE_COUNT = 0
#define FARLANDER_MESSAGE(id, name, group, text) +1
#include "text/messages.inc"
#undef FARLANDER_MESSAGE
    ;
