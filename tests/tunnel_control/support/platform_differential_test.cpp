// The simulated file system against a real one: each scenario runs the
// seam's file calls once through RealPlatform() in a scratch folder and once
// on a SimulatedPlatform, as an administrator and with the same paths, and
// every answer must agree. Under Wine, where Wine is known to answer
// differently from Windows, kWineDeviations holds the simulation to Windows.
// A seam call added later joins with a Script step and rows that use it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/tunnel_control/installer/data_directory_security.h"
#include "app/tunnel_control/os/file_objects.h"
#include "app/tunnel_control/os/platform.h"
#include "app/tunnel_control/os/scoped_handles.h"
#include "tests/tunnel_control/support/simulated_platform.h"

namespace tunnel_control::testing {
namespace {

constexpr wchar_t kScratch[] = L"C:\\varn_differential";
constexpr DWORD kShareRead = FILE_SHARE_READ;
constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kBackup = FILE_FLAG_BACKUP_SEMANTICS;
// How the tunnel code opens an object itself, links included.
constexpr DWORD kObject =
    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
constexpr DWORD kAttributesOnly = FILE_READ_ATTRIBUTES | READ_CONTROL;
constexpr DWORD kDeleteAccess = DELETE | FILE_READ_ATTRIBUTES;
// How the tunnel code opens an object natively: the link itself, with no
// synchronous-I/O option.
constexpr ULONG kNative = FILE_OPEN_REPARSE_POINT;

std::string Number(DWORD value) { return std::to_string(value); }

std::string HexNumber(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%lX", static_cast<unsigned long>(value));
  return text;
}

// One run of a scenario on the platform in force. Each step calls the seam
// once and writes its answer down as one line: the step, then "ok" and what
// came back, or "error N".
class Script {
 public:
  explicit Script(std::wstring folder) : folder_(std::move(folder)) {}

  const std::vector<std::string>& observations() const { return lines_; }

  void Dir(const std::wstring& name) {
    const BOOL made = Os().CreateDirectoryW(At(name).c_str(), nullptr);
    const DWORD error = ::GetLastError();
    Note("mkdir " + Narrow(name), made, error);
  }

  void Open(char slot, const std::wstring& name, DWORD access, DWORD share,
            DWORD disposition, DWORD flags = 0) {
    ::SetLastError(0xDEADBEEF);
    ScopedFileHandle handle(Os().CreateFileW(
        At(name).c_str(), access, share, nullptr, disposition, flags, nullptr));
    const DWORD error = ::GetLastError();
    const std::string step =
        (slot == '-' ? std::string() : std::string(1, slot) + " = ") + "open " +
        Narrow(name) + " " + HexNumber(access) + " share " + Number(share) +
        " disp " + Number(disposition) + " flags " + HexNumber(flags);
    if (!handle) {
      lines_.push_back(step + ": error " + Number(error));
      return;
    }
    // Only these two dispositions say whether the object existed.
    const bool reports =
        disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS;
    lines_.push_back(step + ": ok" + (reports ? " " + Number(error) : ""));
    handles_[slot] = std::move(handle);
  }

  // The native open by the "\\??\\" name, with exactly `access`; answers
  // the status, or how the object was opened.
  void Native(char slot, const std::wstring& name, DWORD access, DWORD share,
              ULONG options) {
    NativeName full(At(name));
    IO_STATUS_BLOCK io{};
    HANDLE raw = nullptr;
    const NTSTATUS status =
        Os().NtOpenFile(&raw, access, full.Attributes(), &io, share, options);
    const std::string step = std::string(1, slot) + " = native " +
                             Narrow(name) + " " + HexNumber(access) +
                             " share " + Number(share) + " options " +
                             HexNumber(options);
    if (status < 0) {
      lines_.push_back(step + ": status " +
                       HexNumber(static_cast<DWORD>(status)));
      return;
    }
    lines_.push_back(step + ": ok " +
                     Number(static_cast<DWORD>(io.Information)));
    handles_[slot] = ScopedFileHandle(raw);
  }

  // Opens and closes again at once.
  void Try(const std::wstring& name, DWORD access, DWORD share,
           DWORD disposition, DWORD flags = 0) {
    Open('-', name, access, share, disposition, flags);
    Close('-');
  }

  // Creates a file holding `text`, closed again.
  void File(const std::wstring& name, const std::string& text) {
    Open('t', name, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    Write('t', text);
    Close('t');
  }

  void Close(char slot) { handles_.erase(slot); }

  void Write(char slot, const std::string& text) {
    DWORD written = 0;
    const BOOL wrote =
        Os().WriteFile(Handle(slot), text.data(),
                       static_cast<DWORD>(text.size()), &written, nullptr);
    const DWORD error = ::GetLastError();
    Note(std::string("write ") + slot, wrote, error, Number(written));
  }

  void Delete(const std::wstring& name) {
    const BOOL deleted = Os().DeleteFileW(At(name).c_str());
    const DWORD error = ::GetLastError();
    Note("delete " + Narrow(name), deleted, error);
  }

  void Dispose(char slot, bool remove) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove;
    const BOOL set = Os().SetFileInformationByHandle(
        Handle(slot), FileDispositionInfo, &disposition, sizeof(disposition));
    const DWORD error = ::GetLastError();
    Note(std::string("dispose ") + slot + (remove ? "" : " undo"), set, error);
  }

  // Renames through the handle; `name` is a plain name, or with `full` a
  // name in the scenario's folder given as a full path.
  void Rename(char slot, const std::wstring& name, bool replace,
              bool full = true) {
    const std::wstring target = full ? At(name) : name;
    std::vector<unsigned char> bytes(sizeof(FILE_RENAME_INFO) +
                                     target.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(bytes.data());
    info->ReplaceIfExists = replace;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, target.c_str(),
                (target.size() + 1) * sizeof(wchar_t));
    const BOOL renamed = Os().SetFileInformationByHandle(
        Handle(slot), FileRenameInfo, bytes.data(),
        static_cast<DWORD>(bytes.size()));
    const DWORD error = ::GetLastError();
    Note(std::string("rename ") + slot + " to " + (full ? "full " : "") +
             Narrow(name) + (replace ? " replacing" : ""),
         renamed, error);
  }

  void Info(char slot) {
    FILE_STANDARD_INFO standard{};
    FILE_ATTRIBUTE_TAG_INFO tag{};
    const BOOL got =
        Os().GetFileInformationByHandleEx(Handle(slot), FileStandardInfo,
                                          &standard, sizeof(standard)) &&
        Os().GetFileInformationByHandleEx(Handle(slot), FileAttributeTagInfo,
                                          &tag, sizeof(tag));
    const DWORD error = ::GetLastError();
    Note(std::string("info ") + slot, got, error,
         "directory " + Number(standard.Directory) + " links " +
             Number(standard.NumberOfLinks) + " pending " +
             Number(standard.DeletePending) + " size " +
             std::to_string(standard.EndOfFile.QuadPart) + " attributes " +
             HexNumber(tag.FileAttributes) + " tag " +
             HexNumber(tag.ReparseTag));
  }

  // The final path, and what a buffer too small for it is told.
  void Final(char slot) {
    wchar_t path[MAX_PATH + 16] = {};
    const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    const DWORD length = Os().GetFinalPathNameByHandleW(
        Handle(slot), path, static_cast<DWORD>(std::size(path)), flags);
    const DWORD error = ::GetLastError();
    wchar_t small[4] = {};
    const DWORD needed =
        Os().GetFinalPathNameByHandleW(Handle(slot), small, 4, flags);
    Note(std::string("final ") + slot, length != 0, error,
         Narrow(path) + " length " + Number(length) + " needs " +
             Number(needed));
  }

  // Sets the owner and a protected DACL on the object itself.
  void Secure(char slot) {
    ScopedLocalMemory<void> descriptor;
    Os().ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1,
        descriptor.Put(), nullptr);
    const BOOL set = Os().SetKernelObjectSecurity(
        Handle(slot),
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
            PROTECTED_DACL_SECURITY_INFORMATION,
        descriptor.Get());
    const DWORD error = ::GetLastError();
    Note(std::string("secure ") + slot, set, error);
  }

  // The DACL that `sddl` converts to, entry by entry, as the installer reads
  // it back to compare a directory with the one it builds.
  void Describe(const wchar_t* sddl) {
    ScopedLocalMemory<void> descriptor;
    const BOOL converted =
        Os().ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl, SDDL_REVISION_1, descriptor.Put(), nullptr);
    const DWORD error = ::GetLastError();
    std::string entries;
    if (converted) {
      const std::optional<std::vector<AccessEntry>> dacl =
          DescriptorDacl(descriptor.Get());
      if (!dacl) entries = "no DACL";
      for (const AccessEntry& e : dacl.value_or(std::vector<AccessEntry>{})) {
        entries += "(" + Number(e.type) + " " + Number(e.flags) + " " +
                   Number(e.mask) + " " + Narrow(e.sid) + ")";
      }
    }
    Note("describe " + Narrow(sddl), converted, error, entries);
  }

  // The root of the volume holding `name`, its drive type, and whether it
  // has a volume name whose device answers the storage query. The GUID and
  // the bus differ from machine to machine.
  void Volume(const std::wstring& name) {
    wchar_t root[MAX_PATH + 1] = {};
    wchar_t volume[MAX_PATH + 1] = {};
    if (!Os().GetVolumePathNameW(At(name).c_str(), root, MAX_PATH + 1) ||
        !Os().GetVolumeNameForVolumeMountPointW(root, volume, MAX_PATH + 1)) {
      Note("volume " + Narrow(name), FALSE, ::GetLastError());
      return;
    }
    std::wstring device = volume;
    if (!device.empty()) device.pop_back();
    ScopedFileHandle handle(Os().CreateFileW(device.c_str(), 0, kShareReadWrite,
                                             nullptr, OPEN_EXISTING, 0,
                                             nullptr));
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    STORAGE_DEVICE_DESCRIPTOR descriptor{};
    DWORD returned = 0;
    const bool queried =
        handle &&
        Os().DeviceIoControl(handle.Get(), IOCTL_STORAGE_QUERY_PROPERTY, &query,
                             sizeof(query), &descriptor, sizeof(descriptor),
                             &returned, nullptr);
    Note("volume " + Narrow(name), TRUE, 0,
         Narrow(root) + " type " + Number(Os().GetDriveTypeW(root)) +
             " named " + Number(volume[0] == L'\\') + " queried " +
             Number(queried));
  }

  // The names a search finds, sorted (NTFS sorts them, Wine need not),
  // directories marked with a slash, and how the search ended.
  void Find(const std::wstring& pattern) {
    WIN32_FIND_DATAW found{};
    ::SetLastError(0xDEADBEEF);
    ScopedFindHandle search(Os().FindFirstFileW(At(pattern).c_str(), &found));
    if (!search) {
      lines_.push_back("find " + Narrow(pattern) + ": error " +
                       Number(::GetLastError()));
      return;
    }
    std::vector<std::string> names;
    do {
      names.push_back(
          Narrow(found.cFileName) +
          ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? "/" : ""));
    } while (Os().FindNextFileW(search.Get(), &found));
    const DWORD end = ::GetLastError();
    std::sort(names.begin(), names.end());
    std::string list;
    for (const std::string& name : names) list += " " + name;
    lines_.push_back("find " + Narrow(pattern) + ": ok" + list + ", end " +
                     Number(end));
  }

 private:
  std::wstring At(const std::wstring& name) const {
    return name.empty() ? folder_ : folder_ + L"\\" + name;
  }
  HANDLE Handle(char slot) const {
    auto it = handles_.find(slot);
    return it == handles_.end() ? INVALID_HANDLE_VALUE : it->second.Get();
  }
  void Note(const std::string& step, BOOL ok, DWORD error,
            const std::string& value = "") {
    lines_.push_back(step + (ok ? ": ok" + (value.empty() ? "" : " " + value)
                                : ": error " + Number(error)));
  }

  std::wstring folder_;
  std::map<char, ScopedFileHandle> handles_;
  std::vector<std::string> lines_;
};

struct Scenario {
  const char* name;
  void (*run)(Script&);
};

const Scenario kScenarios[] = {
    {"every disposition on a file",
     [](Script& s) {
       s.Open('a', L"a.txt", GENERIC_WRITE, 0, CREATE_NEW,
              FILE_ATTRIBUTE_NORMAL);
       s.Write('a', "hello");
       s.Close('a');
       s.Open('b', L"a.txt", GENERIC_WRITE, 0, CREATE_NEW);
       s.Open('b', L"a.txt", GENERIC_READ, kShareRead, OPEN_EXISTING);
       s.Info('b');
       s.Write('b', "x");
       s.Close('b');
       s.Try(L"a.txt", GENERIC_WRITE, 0, OPEN_ALWAYS);
       s.Open('b', L"a.txt", GENERIC_WRITE, 0, CREATE_ALWAYS);
       s.Info('b');
       s.Close('b');
       s.Try(L"a.txt", GENERIC_WRITE, 0, TRUNCATE_EXISTING);
       s.Open('b', L"b.txt", GENERIC_READ, 0, OPEN_EXISTING);
       s.Open('b', L"b.txt", GENERIC_WRITE, 0, TRUNCATE_EXISTING);
       s.Try(L"b.txt", GENERIC_WRITE, 0, OPEN_ALWAYS);
       s.Try(L"c.txt", GENERIC_WRITE, 0, CREATE_ALWAYS);
       s.Open('b', L"no\\d.txt", GENERIC_READ, 0, OPEN_EXISTING);
       s.Open('b', L"no\\d.txt", GENERIC_WRITE, 0, CREATE_NEW);
       s.Open('b', L"a.txt\\", GENERIC_READ, kShareAll, OPEN_EXISTING);
       s.Open('b', L"e.txt\\", GENERIC_WRITE, 0, CREATE_NEW);
       s.Open('b', L"a.txt\\", FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING,
              kObject);
       s.Open('b', L"A.TXT", FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING,
              kObject);
       s.Final('b');
       s.Close('b');
       s.Find(L"*");
       s.Find(L"*.dll");
       s.Find(L"no\\*");
     }},
    {"directories",
     [](Script& s) {
       s.Dir(L"d");
       s.Dir(L"d");
       s.Dir(L"no\\d");
       s.File(L"f.txt", "f");
       s.Dir(L"f.txt");
       s.Open('d', L"d", FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING);
       s.Open('d', L"d", GENERIC_WRITE, 0, CREATE_NEW);
       s.Open('d', L"d", GENERIC_WRITE, 0, CREATE_NEW, kBackup);
       s.Open('d', L"d", GENERIC_WRITE, 0, OPEN_ALWAYS);
       s.Open('d', L"d\\", kAttributesOnly, kShareAll, OPEN_EXISTING, kObject);
       s.Info('d');
       s.Final('d');
       s.Close('d');
       s.Find(L"d\\*");
       s.Find(L"*");
     }},
    {"share checks on a file",
     [](Script& s) {
       s.File(L"a.txt", "a");
       s.Open('w', L"a.txt", GENERIC_WRITE, 0, OPEN_EXISTING);
       s.Open('r', L"a.txt", GENERIC_READ, kShareAll, OPEN_EXISTING);
       s.Try(L"a.txt", kAttributesOnly, 0, OPEN_EXISTING, kObject);
       s.Delete(L"a.txt");
       s.Close('w');
       s.Open('q', L"a.txt", kAttributesOnly, 0, OPEN_EXISTING, kObject);
       s.Open('r', L"a.txt", GENERIC_READ, 0, OPEN_EXISTING);
       s.Open('w', L"a.txt", GENERIC_WRITE, kShareAll, OPEN_EXISTING);
       s.Close('r');
       s.Open('r', L"a.txt", GENERIC_READ, kShareReadWrite, OPEN_EXISTING);
       s.Open('w', L"a.txt", GENERIC_WRITE, kShareAll, OPEN_EXISTING);
       s.Delete(L"a.txt");
       s.Close('r');
       s.Close('w');
       s.Delete(L"a.txt");
       s.Close('q');
       s.Open('q', L"a.txt", kAttributesOnly, kShareAll, OPEN_EXISTING,
              kObject);
     }},
    {"share checks on a directory",
     [](Script& s) {
       s.Dir(L"d");
       // Attributes and permissions only: this handle blocks nobody.
       s.Open('h', L"d", kAttributesOnly, kShareRead, OPEN_EXISTING, kObject);
       s.Try(L"d", FILE_WRITE_DATA, kShareAll, OPEN_EXISTING, kObject);
       s.Try(L"d", DELETE, kShareAll, OPEN_EXISTING, kObject);
       s.Close('h');
       // Listing takes part in share checks, writing attributes does not.
       s.Open('h', L"d", FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, kShareRead,
              OPEN_EXISTING, kObject);
       s.Open('w', L"d", FILE_WRITE_DATA, kShareAll, OPEN_EXISTING, kObject);
       s.Open('x', L"d", DELETE, kShareAll, OPEN_EXISTING, kObject);
       s.Open('a', L"d", FILE_WRITE_ATTRIBUTES, kShareAll, OPEN_EXISTING,
              kObject);
       s.Open('r', L"d", FILE_LIST_DIRECTORY, kShareRead, OPEN_EXISTING,
              kObject);
       s.Find(L"d\\*");
       s.Close('r');
       s.Close('h');
       s.Open('h', L"d", FILE_LIST_DIRECTORY, 0, OPEN_EXISTING, kObject);
       s.Find(L"d\\*");
     }},
    {"delete files by name",
     [](Script& s) {
       s.Dir(L"d");
       s.File(L"a.txt", "a");
       s.Delete(L"a.txt");
       s.Delete(L"a.txt");
       s.Delete(L"no\\a.txt");
       s.Delete(L"d");
       s.File(L"b.txt", "b");
       s.Open('h', L"b.txt", GENERIC_READ, kShareAll, OPEN_EXISTING);
       s.Delete(L"b.txt");
       s.Try(L"b.txt", FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING);
       s.Close('h');
       s.Find(L"*");
     }},
    {"delete disposition by handle",
     [](Script& s) {
       s.File(L"a.txt", "a");
       s.Open('r', L"a.txt", GENERIC_READ, kShareAll, OPEN_EXISTING);
       s.Dispose('r', true);
       s.Close('r');
       s.Open('h', L"a.txt", kDeleteAccess, kShareAll, OPEN_EXISTING, kObject);
       s.Dispose('h', true);
       s.Info('h');
       s.Try(L"a.txt", FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING);
       s.Find(L"*");
       s.Dispose('h', false);
       s.Close('h');
       s.Open('h', L"a.txt", kDeleteAccess, kShareAll, OPEN_EXISTING, kObject);
       s.Dispose('h', true);
       s.Close('h');
       s.Open('h', L"a.txt", FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING);
       s.Find(L"*");
       s.Dir(L"d");
       s.File(L"d\\f.txt", "f");
       s.Open('d', L"d", kDeleteAccess, kShareAll, OPEN_EXISTING, kObject);
       s.Dispose('d', true);
     }},
    {"rename a file by handle",
     [](Script& s) {
       s.Dir(L"sub");
       s.File(L"a.txt", "one");
       s.File(L"b.txt", "second");
       s.Open('h', L"a.txt", kDeleteAccess, kShareAll, OPEN_EXISTING, kObject);
       s.Rename('h', L"b.txt", false);
       s.Rename('h', L"no\\c.txt", false);
       s.Rename('h', L"c.txt", false);
       s.Final('h');
       s.Rename('h', L"sub\\d.txt", false);
       s.Final('h');
       // A plain name is relative to the current folder, the scratch root.
       s.Rename('h', L"e.txt", false, false);
       s.Final('h');
       s.Open('o', L"b.txt", GENERIC_READ, kShareAll, OPEN_EXISTING);
       s.Rename('h', L"b.txt", true);
       s.Close('o');
       s.Rename('h', L"sub", true);
       s.Rename('h', L"b.txt", true);
       s.Final('h');
       s.Close('h');
       s.Open('r', L"b.txt", GENERIC_READ, kShareAll, OPEN_EXISTING);
       s.Info('r');
       s.Find(L"*");
       s.Find(L"sub\\*");
       s.Rename('r', L"f.txt", false);
     }},
    {"rename a directory with a file open inside",
     [](Script& s) {
       s.Dir(L"d");
       s.File(L"d\\f.txt", "f");
       s.Open('f', L"d\\f.txt", GENERIC_READ, kShareAll, OPEN_EXISTING);
       s.Open('h', L"d", kDeleteAccess, kShareAll, OPEN_EXISTING, kObject);
       s.Rename('h', L"e", false);
       s.Final('h');
       s.Final('f');
       s.Close('h');
       s.Find(L"e\\*");
       s.Close('f');
       s.Open('f', L"e\\f.txt", GENERIC_READ, kShareReadWrite, OPEN_EXISTING);
       s.Open('h', L"e", kDeleteAccess, kShareAll, OPEN_EXISTING, kObject);
       s.Rename('h', L"g", false);
     }},
    {"native open asks exactly the access given",
     [](Script& s) {
       s.Dir(L"d");
       s.File(L"d\\f.txt", "f");
       s.Native('n', L"d", kDeleteAccess, kShareRead, kNative);
       s.Info('n');
       s.Final('n');
       s.Try(L"d", DELETE, kShareAll, OPEN_EXISTING, kObject);
       s.Try(L"d", FILE_LIST_DIRECTORY, kShareAll, OPEN_EXISTING, kObject);
       s.Rename('n', L"e", false);
       s.Final('n');
       s.Close('n');
       s.Open('w', L"e", FILE_LIST_DIRECTORY, kShareReadWrite, OPEN_EXISTING,
              kObject);
       s.Native('n', L"e", kDeleteAccess, kShareAll, kNative);
       s.Close('w');
       s.Native('n', L"e\\f.txt", kDeleteAccess, kShareAll, kNative);
       s.Dispose('n', true);
       s.Native('m', L"e\\f.txt", FILE_READ_ATTRIBUTES, kShareAll, kNative);
       s.Close('m');
       s.Close('n');
       s.Find(L"e\\*");
       s.Native('m', L"no", kDeleteAccess, kShareAll, kNative);
       s.Native('m', L"no\\x", kDeleteAccess, kShareAll, kNative);
       s.Native('m', L"e", FILE_READ_ATTRIBUTES, kShareAll,
                kNative | FILE_SYNCHRONOUS_IO_NONALERT);
       s.Native('m', L"e", FILE_READ_ATTRIBUTES, kShareAll,
                kNative | FILE_NON_DIRECTORY_FILE);
     }},
    {"volumes and security set by handle",
     [](Script& s) {
       s.Dir(L"d");
       s.Volume(L"d");
       s.Open('a', L"d", kAttributesOnly, kShareAll, OPEN_EXISTING, kObject);
       s.Secure('a');
       s.Open('h', L"d", READ_CONTROL | WRITE_DAC | WRITE_OWNER, kShareRead,
              OPEN_EXISTING, kObject);
       s.Secure('h');
       s.Describe(DataDirectorySddl(L"S-1-5-21-1-2-3-1001").c_str());
       s.Describe(
           L"D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;GA;;;BA)(D;OICI;FW;;;WD)"
           L"(A;CI;0x1200A9;;;S-1-5-21-1-2-3-1001)");
       s.Describe(L"O:BA");
     }},
};

// Where Wine answers a step differently from Windows: the simulation must
// give Windows' answer there, and Wine its own, so a row goes once Wine
// gets it right.
struct WineDeviation {
  const char* scenario;
  const char* step;
  const char* wine;
  const char* windows;
  const char* known_from;
};

const WineDeviation kWineDeviations[] = {
    {"delete files by name", "open b.txt 0x80 share 7 disp 3 flags 0x0", "ok",
     "error 2",
     "DeleteFileW deletes with POSIX semantics on NTFS since Windows 10 "
     "1903: the name goes while other handles stay open"},
    {"delete disposition by handle", "info h",
     "ok directory 0 links 1 pending 0 size 1 attributes 0x20 tag 0x0",
     "ok directory 0 links 1 pending 1 size 1 attributes 0x20 tag 0x0",
     "[MS-FSA] FileStandardInformation reports the pending deletion"},
    {"delete disposition by handle", "open a.txt 0x80 share 7 disp 3 flags 0x0",
     "ok", "error 5",
     "[MS-FSA] open: a name whose deletion is pending answers "
     "STATUS_DELETE_PENDING"},
    {"rename a file by handle", "rename r to full f.txt", "ok", "error 5",
     "ZwSetInformationFile docs: FileRenameInformation needs DELETE access"},
    {"rename a directory with a file open inside", "final f",
     "ok \\\\?\\C:\\varn_differential\\8\\d\\f.txt length 34 needs 35",
     "ok \\\\?\\C:\\varn_differential\\8\\e\\f.txt length 34 needs 35",
     "NTFS names a file by its parent directories as they are now "
     "(FileNormalizedNameInformation)"},
    {"rename a directory with a file open inside", "rename h to full g", "ok",
     "error 5",
     "[MS-FSA] FileRenameInformation: no directory with a file open below "
     "it without delete sharing"},
    {"native open asks exactly the access given",
     "m = native e\\f.txt 0x80 share 7 options 0x200000", "ok 1",
     "status 0xC0000056",
     "[MS-FSA] open: a name whose deletion is pending answers "
     "STATUS_DELETE_PENDING"},
    {"native open asks exactly the access given",
     "m = native e 0x80 share 7 options 0x200020", "ok 1", "status 0xC000000D",
     "NtCreateFile docs: the synchronous-I/O options need SYNCHRONIZE in the "
     "access asked for"},
};

// The row excusing Wine's `real` answer where the simulation gave
// `simulated`, or null.
const WineDeviation* Excuse(const Scenario& scenario, const std::string& real,
                            const std::string& simulated) {
  for (const WineDeviation& row : kWineDeviations) {
    const std::string step = std::string(row.step) + ": ";
    if (scenario.name == std::string(row.scenario) && real == step + row.wine &&
        simulated == step + row.windows) {
      return &row;
    }
  }
  return nullptr;
}

bool RunningUnderWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr &&
         ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::vector<std::string> RunReal(const Scenario& scenario,
                                 const std::wstring& folder) {
  ScopedPlatform real(RealPlatform());
  Script script(folder);
  script.Dir(L"");
  scenario.run(script);
  return script.observations();
}

std::vector<std::string> RunSimulated(const Scenario& scenario,
                                      const std::wstring& folder) {
  SimulatedPlatform sim;
  sim.user().elevated = true;
  sim.AddDirectory(kScratch);
  std::vector<std::string> observations;
  {
    Script script(folder);
    script.Dir(L"");
    scenario.run(script);
    observations = script.observations();
  }
  EXPECT_TRUE(sim.AllReleased()) << sim.LeakReport();
  return observations;
}

TEST(PlatformDifferentialWineTest, SimulationAnswersLikeWindows) {
  std::error_code ignored;
  std::filesystem::remove_all(kScratch, ignored);
  if (!::CreateDirectoryW(kScratch, nullptr)) {
    GTEST_SKIP() << "no scratch folder on C: (error " << ::GetLastError()
                 << ")";
  }
  wchar_t previous[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, previous);
  ::SetCurrentDirectoryW(kScratch);
  const bool wine = RunningUnderWine();
  std::vector<const WineDeviation*> excused;
  int index = 0;
  for (const Scenario& scenario : kScenarios) {
    SCOPED_TRACE(scenario.name);
    const std::wstring folder =
        std::wstring(kScratch) + L"\\" + std::to_wstring(++index);
    const std::vector<std::string> real = RunReal(scenario, folder);
    const std::vector<std::string> simulated = RunSimulated(scenario, folder);
    ASSERT_EQ(real.size(), simulated.size());
    for (size_t i = 0; i < real.size(); ++i) {
      if (real[i] == simulated[i]) continue;
      const WineDeviation* row =
          wine ? Excuse(scenario, real[i], simulated[i]) : nullptr;
      if (row != nullptr) {
        excused.push_back(row);
        continue;
      }
      ADD_FAILURE() << "step " << i + 1 << "\n  "
                    << (wine ? "Wine:      " : "Windows:   ") << real[i]
                    << "\n  simulated: " << simulated[i];
    }
  }
  ::SetCurrentDirectoryW(previous);
  std::filesystem::remove_all(kScratch, ignored);
  for (const WineDeviation& row : kWineDeviations) {
    if (!wine) break;
    EXPECT_NE(std::find(excused.begin(), excused.end(), &row), excused.end())
        << "Wine now answers like Windows at \"" << row.step << "\" in \""
        << row.scenario << "\": drop the row";
  }
}

// The attacker's own operations have no twin among the seam's calls, and
// Wine shows no access control: they are held to the same share and access
// rules here. The installer keeps a handle on one object; the other user,
// with `rights` on C:\t\d and C:\t\x.txt, acts.
TEST(PlatformDifferentialWineTest, AttackerMeetsTheSameRules) {
  struct Row {
    const char* name;
    const wchar_t* rights;
    const wchar_t* held;  // null: nothing held
    DWORD held_access;
    DWORD held_share;
    DWORD (*act)(SimulatedPlatform&);
    DWORD expected;
  };
  const auto mount = [](SimulatedPlatform& sim) {
    return sim.MakeJunction(L"C:\\t\\d", L"C:\\Windows");
  };
  const auto link = [](SimulatedPlatform& sim) {
    return sim.MakeHardLink(L"C:\\t\\d\\l.txt", L"C:\\t\\x.txt");
  };
  const auto rename = [](SimulatedPlatform& sim) {
    return sim.Rename(L"C:\\t\\d", L"C:\\t\\e");
  };
  const Row rows[] = {
      {"mount point, folder held for listing", L"0x1200AB", L"C:\\t\\d",
       FILE_LIST_DIRECTORY, kShareRead, mount, ERROR_SHARING_VIOLATION},
      {"mount point by writing attributes, folder held for listing",
       L"0x1201AB", L"C:\\t\\d", FILE_LIST_DIRECTORY, kShareRead, mount, 0},
      {"mount point, folder held for attributes only", L"0x1200AB", L"C:\\t\\d",
       kAttributesOnly, kShareRead, mount, 0},
      {"hard link without writing the target's attributes", L"0x1200AB",
       nullptr, 0, 0, link, ERROR_ACCESS_DENIED},
      {"hard link writing the target's attributes", L"0x1201AB", nullptr, 0, 0,
       link, 0},
      {"rename of a folder held without delete sharing", L"FA", L"C:\\t\\d",
       FILE_LIST_DIRECTORY, kShareReadWrite, rename, ERROR_SHARING_VIOLATION},
      {"rename of a folder with a file open inside, delete not shared", L"FA",
       L"C:\\t\\d\\f.txt", GENERIC_READ, kShareReadWrite, rename,
       ERROR_ACCESS_DENIED},
      {"rename of a folder with a file open inside, delete shared", L"FA",
       L"C:\\t\\d\\f.txt", GENERIC_READ, kShareAll, rename, 0},
  };
  const SimulatedPlatform::User installer{L"S-1-5-21-9-9-9-500", true, false};
  const SimulatedPlatform::User other{kUserB, false, false};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SimulatedPlatform sim;
    const std::wstring entry =
        std::wstring(L"(A;;") + row.rights + L";;;" + kUserB + L")";
    sim.AddDirectory(L"C:\\t\\d").dacl = L"D:P(A;;FA;;;BA)" + entry;
    sim.AddFile(L"C:\\t\\x.txt", "x").dacl = L"D:P(A;;FA;;;BA)" + entry;
    if (row.held != nullptr && sim.FindNode(row.held) == nullptr) {
      sim.AddFile(row.held, "f");
    }
    ScopedFileHandle held;
    sim.RunAs(installer, [&] {
      if (row.held == nullptr) return;
      held.Reset(Os().CreateFileW(row.held, row.held_access, row.held_share,
                                  nullptr, OPEN_EXISTING, kObject, nullptr));
      ASSERT_TRUE(held);
    });
    DWORD error = 0;
    sim.RunAs(other, [&] { error = row.act(sim); });
    EXPECT_EQ(error, row.expected);
  }
}

}  // namespace
}  // namespace tunnel_control::testing
