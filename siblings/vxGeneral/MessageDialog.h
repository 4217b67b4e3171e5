// The family's message box: a real modal dialog, since MessageBox has no Yes + Cancel set.
#pragma once

#include <string>

namespace vxgen {

// Control identifiers inside the dialog (the buttons use IDYES, IDNO, IDOK, IDCANCEL).
constexpr int kMessageTextId = 100;
constexpr int kMessageIconId = 101;

// kind: 0 warning, 1 error, 2 information, 3 confirmation. buttons: bit set 1 Yes, 2 No, 4 OK, 8 Cancel.
// Returns IDYES, IDNO, IDOK or IDCANCEL; 0 when the dialog could not be shown.
int ShowMessageDialog(const std::string& text, int kind, int buttons);

// "\r\r" separates a headline from its explanation: a lone CR becomes a line break, so that pair
// shows as a paragraph break in the static text.
std::string ToDisplayText(const std::string& text);

}  // namespace vxgen
