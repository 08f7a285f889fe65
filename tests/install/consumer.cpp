// Links against the installed model and makes one real call through it, and
// runs C registry code through the installed corvane::winreg on a store of
// its own.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "errors/MErrors.h"
#include "variant/Variant.h"

extern "C" int WinRegConsumerCheck(void);
extern "C" int SpellingsConsumerCheck(void);

int main() {
  const corvane::Variant one(1);
  const int number = corvane::MErrors::ApiToCom(one.ToLong());
  std::printf("installed package works: ApiToCom(1) = %d\n", number);

  std::string folder =
      (std::filesystem::temp_directory_path() / "corvane-consumer-XXXXXX")
          .string();
  if (mkdtemp(folder.data()) == nullptr) return 2;
  setenv("CORVANE_REGISTRY", (folder + "/registry.reg").c_str(), 1);
  const int status = WinRegConsumerCheck() + SpellingsConsumerCheck();
  std::filesystem::remove_all(folder);
  std::printf("installed corvane::winreg works: status %d\n", status);
  return number == -2147192503 && status == 0 ? 0 : 1;
}
