// The result messages the user reads: one modal box per outcome, from the
// string table in the language of the thread locale.
#pragma once

#include <cstdint>

#include "platform/host.h"

namespace sp {

// The product a result message names (its %s); set by the apply pass.
extern WideString MessageProductName;

// Loads string `id` of the executable into `text`; a string of 256 characters
// or more is cut to 255, a missing one is empty. Returns the length loaded.
int LoadResourceString(std::uint32_t id, WideString& text);

// Shows result message `id` (300, 301, 306, 307, 308 or 310) unless quiet.
// Message 300 prints the thread's last-error value as its error code.
void ShowResultMessage(std::uint32_t id);

}  // namespace sp
