// What the UI engine loads: its data paths and the entry point's arguments.
#ifndef ENGINE_CLIENT_FLUTTER_PROJECT_H_
#define ENGINE_CLIENT_FLUTTER_PROJECT_H_

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace flutter {

// A plain, copyable description of the compiled UI and its assets.
class FlutterProject {
 public:
  // Derives the three data paths from `directory` as passed; relative paths
  // stay relative, the engine library resolves them.
  explicit FlutterProject(const std::wstring& directory);

  const std::wstring& assets_directory() const { return assets_directory_; }
  const std::wstring& icu_data_file() const { return icu_data_file_; }
  const std::wstring& app_library_file() const { return app_library_file_; }
  const std::string& entry_name() const { return entry_name_; }
  const std::vector<std::string>& entry_arguments() const {
    return entry_arguments_;
  }
  const std::array<int32_t, 3>& engine_settings() const {
    return engine_settings_;
  }

  // Replaces the arguments passed to the UI's entry point.
  void set_entry_arguments(std::vector<std::string> arguments) {
    entry_arguments_ = std::move(arguments);
  }

 private:
  std::wstring assets_directory_;
  std::wstring icu_data_file_;
  std::wstring app_library_file_;
  std::string entry_name_;
  std::vector<std::string> entry_arguments_;
  // Passed through untouched; their meaning belongs to the engine library.
  std::array<int32_t, 3> engine_settings_ = {0, 0, 0};
};

}  // namespace flutter

#endif  // ENGINE_CLIENT_FLUTTER_PROJECT_H_
