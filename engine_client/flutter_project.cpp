#include "engine_client/flutter_project.h"

namespace flutter {

FlutterProject::FlutterProject(const std::wstring& directory)
    : assets_directory_(directory + L"\\flutter_assets"),
      icu_data_file_(directory + L"\\icudtl.dat"),
      app_library_file_(directory + L"\\app.so") {}

}  // namespace flutter
