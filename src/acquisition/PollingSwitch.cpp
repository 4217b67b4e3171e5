#include "acquisition/PollingSwitch.h"

namespace tw {

std::atomic<bool> PollingSwitch{false};

}  // namespace tw
