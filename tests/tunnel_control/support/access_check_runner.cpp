// The simulation's side of access_differential.py: reads cases on stdin and
// answers each through the simulated CreateFileW, with the object placed
// under a parent folder as the case says.
//
//   token <caller> <sid>...          the caller's token must hold these SIDs
//   case <id> <caller> <parent DACL> <f|d> <owner> <DACL|-> <access, hex>
//
// prints "<id> <last error>" per case (0: opened), "token <caller> ok" or
// the simulation's token when it differs, and "default <name> <owner> <DACL>"
// for the folders of the simulation's fresh machine.
#include <algorithm>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/tunnel_control/os/platform.h"
#include "tests/tunnel_control/support/simulated_platform.h"

namespace tunnel_control::testing {
namespace {

using Node = SimulatedPlatform::Node;
using User = SimulatedPlatform::User;

const std::map<std::string, User> kCallers = {
    {"user", User{kUserA, false, false}},
    {"admin", User{kUserB, true, false}},
    {"system", User{L"S-1-5-18", false, true}},
    {"filtered", User{kUserB, false, false, true}},
};

std::wstring Wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

std::string CheckToken(const User& caller, std::vector<std::wstring> sids) {
  std::vector<std::wstring> held;
  std::string text;
  for (const TokenSid& sid : TokenOf(caller.sid, caller.elevated, caller.system,
                                     caller.filtered_admin)) {
    held.push_back(sid.sid);
    if (sid.deny_only) held.back().push_back(L'!');
    text.push_back(' ');
    text.append(Narrow(held.back()));
  }
  std::sort(held.begin(), held.end());
  std::sort(sids.begin(), sids.end());
  return held == sids ? " ok" : text;
}

DWORD Open(const User& caller, const std::string& parent_dacl, bool directory,
           const std::string& owner, const std::string& dacl, DWORD access) {
  SimulatedPlatform sim;
  Node& parent = sim.AddDirectory(L"C:\\P");
  parent.owner = L"SY";
  parent.dacl = Wide(parent_dacl);
  Node& object =
      directory ? sim.AddDirectory(L"C:\\P\\o") : sim.AddFile(L"C:\\P\\o", "x");
  object.owner = Wide(owner);
  object.dacl = dacl == "-" ? L"" : Wide(dacl);
  sim.user() = caller;
  const HANDLE handle = Os().CreateFileW(
      L"C:\\P\\o", access,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, directory ? FILE_FLAG_BACKUP_SEMANTICS : 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return ::GetLastError();
  Os().CloseHandle(handle);
  return 0;
}

// The simulation's own fresh machine, for the rows that source it.
void PrintDefaults() {
  SimulatedPlatform sim;
  for (const auto& [name, path] :
       {std::pair{"root", L"C:\\"},
        std::pair{"program_files", L"C:\\Program Files"},
        std::pair{"program_data", L"C:\\ProgramData"}}) {
    const Node* node = sim.FindNode(path);
    std::cout << "default " << name << " "
              << (node ? Narrow(node->owner) + " " + Narrow(node->dacl)
                       : "none")
              << "\n";
  }
}

int Run() {
  PrintDefaults();
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream fields(line);
    std::string kind, first, caller;
    fields >> kind >> first;
    if (kind == "token") {
      std::vector<std::wstring> sids;
      for (std::string sid; fields >> sid;) sids.push_back(Wide(sid));
      std::cout << "token " << first << CheckToken(kCallers.at(first), sids)
                << "\n";
    } else if (kind == "case") {
      std::string parent, type, owner, dacl, access;
      fields >> caller >> parent >> type >> owner >> dacl >> access;
      std::cout << first << " "
                << Open(kCallers.at(caller), parent, type == "d", owner, dacl,
                        static_cast<DWORD>(std::stoul(access, nullptr, 16)))
                << "\n";
    }
  }
  return 0;
}

}  // namespace
}  // namespace tunnel_control::testing

int main() { return tunnel_control::testing::Run(); }
