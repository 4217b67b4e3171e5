// Icons kept as RCDATA copies of .ico files. windres numbers the images of ICON statements from 1 in
// every resource script, so two scripts with icons collide when linked into one executable; RCDATA
// has no such numbering.
#pragma once

#include <windows.h>

namespace tw {

// The image of the .ico resource closest to cx by cy (the next larger one, else the largest), scaled
// to that size; nullptr when the resource is missing or malformed. The caller destroys it.
HICON LoadIcoResource(HINSTANCE instance, int id, int cx, int cy);

}  // namespace tw
