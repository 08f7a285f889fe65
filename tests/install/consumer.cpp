// Links against the installed model and makes one real call through it.
#include <cstdio>

#include "errors/MErrors.h"
#include "variant/Variant.h"

int main() {
  const corvane::Variant one(1);
  const int number = corvane::MErrors::ApiToCom(one.ToLong());
  std::printf("installed package works: ApiToCom(1) = %d\n", number);
  return number == -2147192503 ? 0 : 1;
}
