// The tunnel service as the simulated service manager holds it, read back as
// the value the installer defines, so a test compares the whole service at
// once with TunnelServiceDefinition() and a failure names the fields.
#ifndef TESTS_TUNNEL_CONTROL_SUPPORT_SERVICE_OUTCOME_H_
#define TESTS_TUNNEL_CONTROL_SUPPORT_SERVICE_OUTCOME_H_

#include <ostream>
#include <string>

#include "app/tunnel_control/installer/service_definition.h"
#include "tests/tunnel_control/support/simulated_platform.h"

namespace tunnel_control {

namespace testing {

inline ServiceDefinition DefinitionOf(
    const SimulatedPlatform::Service& service) {
  return {service.name,         service.display_name, service.description,
          service.service_type, service.start_type,   service.error_control,
          service.binary_path,  service.dependencies, service.sid_type,
          service.sddl};
}

}  // namespace testing

// How gtest shows a definition that differs: field by field, NULs visible.
inline void PrintTo(const ServiceDefinition& d, std::ostream* out) {
  std::wstring dependencies = d.dependencies;
  for (wchar_t& c : dependencies) {
    if (c == L'\0') c = L'|';
  }
  *out << "{name " << testing::Narrow(d.name) << ", display "
       << testing::Narrow(d.display_name) << ", description "
       << testing::Narrow(d.description) << ", type " << d.service_type
       << ", start " << d.start_type << ", error control " << d.error_control
       << ", binary " << testing::Narrow(d.binary_path) << ", dependencies "
       << testing::Narrow(dependencies) << ", SID type " << d.sid_type
       << ", SDDL " << testing::Narrow(d.sddl) << "}";
}

}  // namespace tunnel_control

#endif  // TESTS_TUNNEL_CONTROL_SUPPORT_SERVICE_OUTCOME_H_
