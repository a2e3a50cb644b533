// The client's start procedure.
#pragma once

namespace modMain {

// Prepares "cfg.xml", applies the options, records the running version and
// shows the main window. Returns when the main window has been shown; the
// caller then runs the message loop until no form is left loaded.
void Main();

}  // namespace modMain
