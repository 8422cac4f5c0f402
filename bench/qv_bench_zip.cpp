// Drives the zip engine the way the programs do, for the benchmark script:
//   qv_bench_zip pack <folder> <archive> [password]
//   qv_bench_zip unpack <archive> <destination> [password]
// Exit status 0 on success.
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/ZipEngine.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s pack <folder> <archive> [password] | unpack <archive> <dest> [password]\n",
                 argv[0]);
    return 2;
  }
  qv::ZipEngine zip;
  std::string mode = argv[1];
  std::string password = argc > 4 ? argv[4] : "";
  if (mode == "pack") {
    std::string folder = argv[2];
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (zip.PrepareArchive(argv[3]) != 1) {
      std::fprintf(stderr, "%s\n", zip.ErrorText().c_str());
      return 1;
    }
    if (!password.empty()) {
      zip.SetCipher(qv::ZipEngine::kCipherAes);
      zip.SetKeyBits(256);
      zip.SetArchivePassword(password);
    }
    zip.SetEntryRoot(folder);
    if (zip.AddTree(folder + "/*", 1) != 1 || zip.WriteAndClose() != 1) {
      std::fprintf(stderr, "%s\n", zip.ErrorText().c_str());
      return 1;
    }
    return 0;
  }
  if (mode == "unpack") {
    if (zip.OpenArchive(argv[2]) != 1) {
      std::fprintf(stderr, "%s\n", zip.ErrorText().c_str());
      return 1;
    }
    if (!password.empty()) {
      zip.SetExtractPassword(password);
      if (zip.PasswordMatches() != 1) {
        std::fprintf(stderr, "wrong password\n");
        return 1;
      }
    }
    int32_t n = zip.ExtractAll(argv[3]);
    if (n < 0) {
      std::fprintf(stderr, "%s\n", zip.ErrorText().c_str());
      return 1;
    }
    return 0;
  }
  return 2;
}
