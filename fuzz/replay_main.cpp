// The replay driver: runs a fuzz target's LLVMFuzzerTestOneInput once on
// every file named on the command line, or found (sorted, not recursively)
// in a folder named there, without libFuzzer. A failed invariant aborts, so
// the test fails on the input that shows it; the name of each input is
// printed before it runs.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc,
                                                          char ***argv);

namespace {

bool read_input(const std::string &path, std::vector<uint8_t> *out) {
  out->clear();
  FILE *f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
    out->insert(out->end(), buf, buf + n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// The files a command-line name stands for; false when it names nothing.
bool collect(const std::string &name, std::vector<std::string> *files) {
  struct stat st;
  if (::stat(name.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    files->push_back(name);
    return true;
  }
  DIR *d = opendir(name.c_str());
  if (d == nullptr) return false;
  std::vector<std::string> found;
  while (struct dirent *e = readdir(d)) {
    std::string path = name + "/" + e->d_name;
    if (e->d_name[0] != '.' && ::stat(path.c_str(), &st) == 0 &&
        S_ISREG(st.st_mode))
      found.push_back(path);
  }
  closedir(d);
  std::sort(found.begin(), found.end());
  files->insert(files->end(), found.begin(), found.end());
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE|DIR...\n", argv[0]);
    return 2;
  }
  std::vector<std::string> files;
  for (int i = 1; i < argc; i++) {
    // Absolute, since a target may change the current directory.
    char real[4096];
    if (::realpath(argv[i], real) == nullptr || !collect(real, &files)) {
      std::fprintf(stderr, "replay: cannot read %s\n", argv[i]);
      return 1;
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "replay: no input found\n");
    return 1;
  }
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  int failed = 0;
  std::vector<uint8_t> data;
  for (const std::string &path : files) {
    if (!read_input(path, &data)) {
      std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
      failed++;
      continue;
    }
    std::fprintf(stderr, "replay: %s (%zu bytes)\n", path.c_str(), data.size());
    // Its own copy, so that a read past the input is caught under ASan.
    std::vector<uint8_t> copy(data);
    static uint8_t none;
    LLVMFuzzerTestOneInput(copy.empty() ? &none : copy.data(), copy.size());
  }
  std::fprintf(stderr, "replay: %zu passed, %d failed\n",
               files.size() - static_cast<size_t>(failed), failed);
  return failed ? 1 : 0;
}
