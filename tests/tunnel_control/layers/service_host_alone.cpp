// The service host linked with nothing but the common part and the OS layer:
// a call into the client, the channel, the engine client or the codec would
// leave a symbol unresolved here. Built, never run.
#include "app/tunnel_control/service_host/service_host.h"

int main() { return tunnel_control::RunServiceMode(L""); }
