// The main thread's watch over its clients: a message-only window that delivery threads tell when a
// client is gone, with a timer that looks for clients stuck in a callback. Both run the check given
// to WatchClients on the main thread, from its message loop. The window also releases, on the main
// thread, the references to cut-off clients' sinks that their delivery threads give back.
#pragma once

namespace tw::opc {

// Main thread. Creates the window at the first call; later calls only replace the check.
void WatchClients(void (*check)());
// Any thread: the check runs soon on the main thread (nothing when no watch was started).
void ReportLostClient();
// Any thread: the main thread soon releases what was given back (ReleaseGivenBack).
void ReportRefsGivenBack();

}  // namespace tw::opc
