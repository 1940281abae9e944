#include "platform/host/HostMemory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace lumarin {

void returnFreedMemoryToSystem() {
#if defined(__GLIBC__)
  // glibc gives back only the top of the heap by itself; freed chunks below a live one stay
  // resident until trimmed.
  (void)::malloc_trim(0);
#endif
}

}  // namespace lumarin
