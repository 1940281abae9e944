#pragma once

namespace lumarin {

// Hands the memory the allocator keeps after large frees (a closed window's widgets and
// pictures) back to the system, so the process's resident size falls again. Main thread; a
// few milliseconds of work, so only after such frees, never on a timer.
void returnFreedMemoryToSystem();

}  // namespace lumarin
