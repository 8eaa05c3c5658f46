// Prints what the calling user's programs would decide about their files, for
// tests that run it as another user or from a copy another user owns:
//   tw_files_probe data-folder     the data folder (platform::data_folder())
//   tw_files_probe trust PATH      "trusted", or why PATH is not
#include <cstdio>
#include <string>

#include "platform/linux/file_store.h"
#include "platform/linux/system_info.h"

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  if (what == "data-folder" && argc == 2) {
    std::printf("%s\n", tw::platform::data_folder().c_str());
    return 0;
  }
  if (what == "trust" && argc == 3) {
    const tw::Status s = tw::platform::check_trusted(argv[2]);
    std::printf("%s\n", s ? "trusted" : s.error().detail.c_str());
    return 0;
  }
  std::fprintf(stderr, "usage: tw_files_probe data-folder | trust PATH\n");
  return 2;
}
