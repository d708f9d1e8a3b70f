#include <cstdlib>

#include "quorlina/quorlina.h"

extern "C" QUORLINA_API void quorlina_free(char *s) { std::free(s); }
