// The installer linked with nothing but the common part and the OS layer: a
// call into the client, the channel, the engine client or the codec would
// leave a symbol unresolved here. Built, never run.
#include "app/tunnel_control/installer/service_installer.h"

int main(int argc, char**) {
  return argc > 1 ? tunnel_control::RunInstallMode(L"")
                  : tunnel_control::RunUninstallMode();
}
