// Reading the command line as UTF-8 and converting between UTF-16 and UTF-8.
#ifndef APP_COMMAND_LINE_H_
#define APP_COMMAND_LINE_H_

#include <string>
#include <string_view>
#include <vector>

// Returns the process's arguments after the program name, as UTF-8, in
// order. An argument that is not valid UTF-16 becomes an empty string in
// its place; a command line that cannot be split gives an empty list.
std::vector<std::string> ReadCommandLineArguments();

// Splits `command_line` like the process command line, drops the program
// name and converts the rest as ReadCommandLineArguments does.
std::vector<std::string> SplitCommandLineArguments(const wchar_t* command_line);

// Converts a NUL-terminated UTF-16 string (may be null) to UTF-8; returns an
// empty string for null or invalid input.
std::string WideToUtf8(const wchar_t* text);

// Converts UTF-8 to UTF-16; returns an empty string for invalid input.
std::wstring Utf8ToWide(std::string_view text);

#endif  // APP_COMMAND_LINE_H_
