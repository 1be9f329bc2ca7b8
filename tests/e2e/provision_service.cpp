// Test support, never shipped: creates the tunnel service and its data
// directory with the installer's definition, straight through the service
// manager, for the end-to-end test and the demo (see ProvisionService).
//
//   provision_service.exe EXE_PATH USER_SID
//
// Exit codes: 0 done, 1 usage, 2 data directory, 3 service manager,
// 4 service definition, 5 service DACL. Failures are also written to stderr.
#include <cstdio>

#include "app/tunnel_control/common/tunnel_paths.h"
#include "app/tunnel_control/installer/service_definition.h"
#include "tests/tunnel_control/wine/service_provisioner.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: provision_service.exe EXE_PATH USER_SID\n");
    return 1;
  }
  const tunnel_control::testing::Provisioned provisioned =
      tunnel_control::testing::ProvisionService(
          tunnel_control::TunnelServiceDefinition(
              argv[1], tunnel_control::ConfigFilePath(), argv[2]));
  if (!provisioned) {
    std::fprintf(stderr, "provision_service: %s\n",
                 provisioned.failure.c_str());
  }
  return static_cast<int>(provisioned.step);
}
