#pragma once

namespace NorvixApp {

// Opens the editor on the customers of the bundled demo, building the demo database in the
// user's data folder at the first run. Returns the program's exit status.
int runDemo(int argc, char *argv[]);

} // namespace NorvixApp
