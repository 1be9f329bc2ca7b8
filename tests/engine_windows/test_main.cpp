// Points the stand-in engine's transcript at a scratch file before the
// library is first used, then runs the tests.
#include <gtest/gtest.h>

#include "tests/engine_windows/test_support.h"
#include "win/windows_api.h"

namespace engine_windows_test {
namespace {

std::wstring g_transcript_path;

}  // namespace

const std::wstring& TranscriptPath() { return g_transcript_path; }

}  // namespace engine_windows_test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  engine_windows_test::ScratchDirectory directory;
  // A transcript path given from outside is kept, to look at after a run.
  wchar_t given[MAX_PATH + 1];
  const DWORD length =
      GetEnvironmentVariableW(L"VARN_STANDIN_TRANSCRIPT", given, MAX_PATH + 1);
  if (length > 0 && length <= MAX_PATH) {
    engine_windows_test::g_transcript_path.assign(given, length);
  } else {
    engine_windows_test::g_transcript_path =
        directory.path() + L"\\transcript.jsonl";
    SetEnvironmentVariableW(L"VARN_STANDIN_TRANSCRIPT",
                            engine_windows_test::g_transcript_path.c_str());
  }
  return RUN_ALL_TESTS();
}
