// The identifiers of the program's registered window messages. Each is
// registered once, on first use, under its fixed name; registering the same
// name again gives the same identifier.
#pragma once

#include "platform/types.h"

platform::MessageId EngineEventMessage();
platform::MessageId KeyEventMessage();
platform::MessageId McuComOpMessage();
