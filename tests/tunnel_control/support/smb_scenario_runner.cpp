// Plays the scenarios of smb_scenarios.txt (read on stdin) on the simulated
// platform and prints one line per step, "step: answer", for
// smb_differential.py to hold against the same steps played on a real SMB
// server. Each scenario gets a fresh simulation; its objects live under
// C:\share\s<number>, made directly as an administrator would have made them.
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/tunnel_control/os/platform.h"
#include "app/tunnel_control/os/scoped_handles.h"
#include "tests/tunnel_control/support/simulated_platform.h"

namespace tunnel_control::testing {
namespace {

// The share and each scenario's folder: readable by all, inherited by none.
constexpr wchar_t kFolderDacl[] = L"D:PAI(A;;FA;;;BA)(A;;0x1200A9;;;WD)";

std::wstring Widen(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

// %A and %B in the data stand for the two users.
std::wstring WithSids(const std::string& text) {
  std::wstring out = Widen(text);
  for (auto [mark, sid] : {std::pair{L"%A", kUserA}, {L"%B", kUserB}}) {
    for (size_t at; (at = out.find(mark)) != std::wstring::npos;) {
      out.replace(at, 2, sid);
    }
  }
  return out;
}

std::string WithMarks(const std::wstring& text) {
  std::wstring out = text;
  for (auto [mark, sid] : {std::pair{L"%A", kUserA}, {L"%B", kUserB}}) {
    const std::wstring name = sid;
    for (size_t at; (at = out.find(name)) != std::wstring::npos;) {
      out.replace(at, name.size(), mark);
    }
  }
  return Narrow(out);
}

std::string Answer(bool ok, DWORD error) {
  return ok ? "ok" : "error " + std::to_string(error);
}

class Player {
 public:
  explicit Player(int number)
      : base_(L"C:\\share\\s" + std::to_wstring(number)) {
    for (const std::wstring& path : {std::wstring(L"C:\\share"), base_}) {
      SimulatedPlatform::Node& folder = sim_.AddDirectory(path);
      folder.owner = L"BA";
      folder.dacl = kFolderDacl;
    }
  }
  ~Player() {
    slots_.clear();
    if (!sim_.AllReleased()) std::cerr << sim_.LeakReport() << "\n";
  }

  // The answer to one line, or nothing for a set-up line.
  std::string Play(const std::vector<std::string>& w) {
    const std::string& verb = w[0];
    if (verb == "dir" || verb == "file") {
      SimulatedPlatform::Node& node = verb == "dir"
                                          ? sim_.AddDirectory(At(w[1]))
                                          : sim_.AddFile(At(w[1]), "");
      node.owner = WithSids(w[2]);
      node.dacl = WithSids(w[3]);
      return "";
    }
    if (verb == "open") {
      const bool create = w.size() > 6 && w[6] == "new";
      ScopedFileHandle handle;
      DWORD error = 0;
      sim_.RunAs(User(w[1]), [&] {
        handle.Reset(Os().CreateFileW(
            At(w[3]).c_str(), std::stoul(w[4], nullptr, 16), std::stoul(w[5]),
            nullptr, create ? CREATE_NEW : OPEN_EXISTING,
            create ? FILE_ATTRIBUTE_NORMAL : FILE_FLAG_BACKUP_SEMANTICS,
            nullptr));
        error = ::GetLastError();
      });
      const bool ok = static_cast<bool>(handle);
      if (ok && w[2] != "-") slots_[w[2]] = std::move(handle);
      return Answer(ok, error);
    }
    if (verb == "mkdir") {
      BOOL made = FALSE;
      DWORD error = 0;
      sim_.RunAs(User(w[1]), [&] {
        made = Os().CreateDirectoryW(At(w[2]).c_str(), nullptr);
        error = ::GetLastError();
      });
      return Answer(made, error);
    }
    if (verb == "close") {
      slots_.erase(w[1]);
      return "ok";
    }
    if (verb == "dispose") {
      FILE_DISPOSITION_INFO disposition{};
      disposition.DeleteFile = w[2] == "1";
      const BOOL set = Os().SetFileInformationByHandle(
          slots_[w[1]].Get(), FileDispositionInfo, &disposition,
          sizeof(disposition));
      return Answer(set, ::GetLastError());
    }
    if (verb == "rename") return Rename(w);
    if (verb == "exists") return sim_.FindNode(At(w[1])) ? "yes" : "no";
    if (verb == "sd") {
      const SimulatedPlatform::Node* node = sim_.FindNode(At(w[1]));
      return node ? "O:" + WithMarks(node->owner) + WithMarks(node->dacl)
                  : "missing";
    }
    return "unknown step";
  }

 private:
  std::wstring At(const std::string& path) const {
    return base_ + L"\\" + Widen(path);
  }
  static SimulatedPlatform::User User(const std::string& who) {
    return {who == "A" ? kUserA : kUserB, false, false};
  }

  // By name, as MoveFileExW does: the source opened for DELETE, then renamed
  // through that handle.
  std::string Rename(const std::vector<std::string>& w) {
    const bool replace = w.size() > 4 && w[4] == "replace";
    DWORD error = 0;
    sim_.RunAs(User(w[1]), [&] {
      if (!replace) {
        error = sim_.Rename(At(w[2]), At(w[3]));
        return;
      }
      ScopedFileHandle source(Os().CreateFileW(
          At(w[2]).c_str(), DELETE,
          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
          OPEN_EXISTING,
          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
      if (!source) {
        error = ::GetLastError();
        return;
      }
      const std::wstring target = At(w[3]);
      std::vector<unsigned char> bytes(sizeof(FILE_RENAME_INFO) +
                                       target.size() * sizeof(wchar_t));
      auto* info = reinterpret_cast<FILE_RENAME_INFO*>(bytes.data());
      info->ReplaceIfExists = TRUE;
      info->FileNameLength =
          static_cast<DWORD>(target.size() * sizeof(wchar_t));
      target.copy(info->FileName, target.size());
      if (!Os().SetFileInformationByHandle(source.Get(), FileRenameInfo,
                                           bytes.data(),
                                           static_cast<DWORD>(bytes.size()))) {
        error = ::GetLastError();
      }
    });
    return Answer(error == 0, error);
  }

  SimulatedPlatform sim_;
  std::wstring base_;
  std::map<std::string, ScopedFileHandle> slots_;
};

}  // namespace
}  // namespace tunnel_control::testing

int main() {
  using tunnel_control::testing::Player;
  std::unique_ptr<Player> player;
  int number = 0;
  for (std::string line; std::getline(std::cin, line);) {
    std::istringstream words(line);
    std::vector<std::string> w;
    std::string step;
    for (std::string word; words >> word;) {
      step += (w.empty() ? "" : " ") + word;
      w.push_back(word);
    }
    if (w.empty() || w[0][0] == '#' || w[0] == "samba-differs" ||
        w[0] == "until-access-merge") {
      continue;
    }
    if (w[0] == "scenario") {
      player.reset();
      player = std::make_unique<Player>(++number);
      std::cout << step << "\n";
      continue;
    }
    const std::string answer = player->Play(w);
    if (!answer.empty()) std::cout << step << ": " << answer << "\n";
  }
  player.reset();
  return 0;
}
