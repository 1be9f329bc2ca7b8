// Giving a windowed process a console of its own.
#ifndef APP_CONSOLE_H_
#define APP_CONSOLE_H_

// Creates a console and points the standard output and error streams, and
// the engine library's own output, at it. Does nothing when the process
// already has a console.
void AttachNewConsole();

#endif  // APP_CONSOLE_H_
