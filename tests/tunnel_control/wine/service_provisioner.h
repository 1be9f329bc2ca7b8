// The tunnel service put in place straight through the service manager,
// without the installer's checks. Under Wine the installer rightly refuses
// every location (Wine reports every file as owned by the user), so the Wine
// suites, the end-to-end test and the demo provision the service with this.
// Test support, never shipped.
#ifndef TESTS_TUNNEL_CONTROL_WINE_SERVICE_PROVISIONER_H_
#define TESTS_TUNNEL_CONTROL_WINE_SERVICE_PROVISIONER_H_

#include <string>

#include "app/tunnel_control/installer/service_definition.h"
#include "win/scoped_resource.h"

namespace tunnel_control::testing {

// Where provisioning stopped. The end-to-end provisioner exits with the
// value, so a script can tell the steps apart.
enum class ProvisionStep {
  kDone = 0,
  kDataDirectory = 2,
  kServiceManager = 3,
  kService = 4,  // creating or reconfiguring it, or its description
  kServiceDacl = 5,
};

struct Provisioned {
  ProvisionStep step = ProvisionStep::kDone;
  // What failed, with its error; empty when done.
  std::string failure;
  // The service with all access, when done.
  win::ScopedScHandle service;

  explicit operator bool() const { return step == ProvisionStep::kDone; }
};

// Creates the tunnel's data directory, then the service `definition`
// describes, or reconfigures the one of that name (waiting out one still
// marked for deletion), with its description and, unless definition.sddl is
// empty, its DACL. The service SID type is left as it is: Wine refuses to
// set one (error 124).
Provisioned ProvisionService(const ServiceDefinition& definition);

}  // namespace tunnel_control::testing

#endif  // TESTS_TUNNEL_CONTROL_WINE_SERVICE_PROVISIONER_H_
