#include "app/command_line.h"

#include <climits>
#include <cwchar>

#include "win/scoped_resource.h"

std::vector<std::string> ReadCommandLineArguments() {
  return SplitCommandLineArguments(::GetCommandLineW());
}

std::vector<std::string> SplitCommandLineArguments(
    const wchar_t* command_line) {
  std::vector<std::string> arguments;
  int count = 0;
  const win::ScopedLocalAlloc<LPWSTR> argv(
      ::CommandLineToArgvW(command_line, &count));
  if (!argv) return arguments;
  for (int i = 1; i < count; ++i) {
    arguments.push_back(WideToUtf8(argv.Get()[i]));
  }
  return arguments;
}

std::string WideToUtf8(const wchar_t* text) {
  if (text == nullptr) return std::string();
  const int size = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text,
                                         -1, nullptr, 0, nullptr, nullptr);
  // The size counts the terminator; 0 means the text is not valid UTF-16.
  const int length = size - 1;
  if (length <= 0) return std::string();
  std::string result(static_cast<size_t>(length), '\0');
  const int converted = ::WideCharToMultiByte(
      CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(std::wcslen(text)),
      result.data(), length, nullptr, nullptr);
  if (converted == 0) return std::string();
  return result;
}

std::wstring Utf8ToWide(std::string_view text) {
  if (text.empty() || text.size() > INT_MAX) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS,
                                           text.data(), size, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring result(static_cast<size_t>(length), L'\0');
  const int converted = ::MultiByteToWideChar(
      CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, result.data(), length);
  if (converted == 0) return std::wstring();
  return result;
}
