// Points the stand-in engine's transcript at a scratch file before the
// library is first used, then runs the tests.
#include <gtest/gtest.h>

#include "tests/engine_windows/test_support.h"
#include "win/windows_api.h"

namespace flutter::testing {
namespace {

std::wstring g_transcript_path;

}  // namespace

const std::wstring& TranscriptPath() { return g_transcript_path; }

}  // namespace flutter::testing

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  flutter::testing::ScratchDirectory directory;
  // A transcript path given from outside is kept, to look at after a run.
  wchar_t given[MAX_PATH + 1];
  const DWORD length =
      GetEnvironmentVariableW(L"VARN_STANDIN_TRANSCRIPT", given, MAX_PATH + 1);
  if (length > 0 && length <= MAX_PATH) {
    flutter::testing::g_transcript_path.assign(given, length);
  } else {
    flutter::testing::g_transcript_path =
        directory.path() + L"\\transcript.jsonl";
    SetEnvironmentVariableW(L"VARN_STANDIN_TRANSCRIPT",
                            flutter::testing::g_transcript_path.c_str());
  }
  return RUN_ALL_TESTS();
}
