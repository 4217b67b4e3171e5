// What the OK checks of the device and register dialogs share.
#pragma once

#include <string>

namespace tw {

inline constexpr char kFieldsEmpty[] = "All setting fields must not be empty!";

// A whole number that fits in 32 bits, optionally signed, nothing else around it.
bool IsWholeNumber(const std::string& text);

}  // namespace tw
