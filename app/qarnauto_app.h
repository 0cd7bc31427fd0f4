// The application object: prepares the process and runs the main window.
#pragma once

class QarnAutoApp {
 public:
  // Crash filter, working folder = the executable's folder, single instance,
  // texts, then the main window; the process ends inside. Returns only when
  // the window's loop ends without ending the process.
  int InitInstance();
};
