// The libraries the exe binds on first use (delay-loaded): only the windowed
// application calls them, so the privileged one-shot modes never load them.
#ifndef APP_FIRST_USE_LIBRARIES_H_
#define APP_FIRST_USE_LIBRARIES_H_

// Loads the engine and plug-in libraries from beside the exe and dwmapi.dll
// from the system folder, so the first calls bind to these. Returns false
// when one is missing: without this check the process would end at its
// first call with an unhandled delay-load exception, part-way through
// start-up.
bool LoadFirstUseLibraries();

#endif  // APP_FIRST_USE_LIBRARIES_H_
