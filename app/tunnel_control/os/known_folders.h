// The known folders the tunnel code asks the shell for, spelled out so that
// no GUID library has to be linked (Microsoft documentation, KNOWNFOLDERID).
#ifndef APP_TUNNEL_CONTROL_OS_KNOWN_FOLDERS_H_
#define APP_TUNNEL_CONTROL_OS_KNOWN_FOLDERS_H_

#include "win/windows_api.h"

namespace tunnel_control {

// FOLDERID_ProgramData: C:\ProgramData unless an administrator moved it.
inline constexpr GUID kProgramDataFolder = {
    0x62AB5D82,
    0xFDC1,
    0x4DC3,
    {0xA9, 0xDD, 0x07, 0x0D, 0x1D, 0x49, 0x5D, 0x97}};

// FOLDERID_ProgramFiles: C:\Program Files for a 64-bit process.
inline constexpr GUID kProgramFilesFolder = {
    0x905E63B6,
    0xC1BF,
    0x494E,
    {0xB2, 0x9C, 0x65, 0xB7, 0x32, 0xD3, 0xD2, 0x1A}};

}  // namespace tunnel_control

#endif  // APP_TUNNEL_CONTROL_OS_KNOWN_FOLDERS_H_
