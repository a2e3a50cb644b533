// The client's start procedure.
#pragma once

namespace modMain {

// Prepares "cfg.xml", applies the options, records the running version and
// shows the main window. Returns when the main window has been shown; the
// caller then runs the message loop until no form is left loaded.
void Main();

// What the client does last, however it ended: a program file that an update
// cut short left moved aside gets its name back, so the next start finds
// it. Run when the message loop is over, and at the end of the session
// before the process may go.
void Finish();

}  // namespace modMain
