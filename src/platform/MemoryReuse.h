#pragma once
// How the process's allocator treats the large buffers of a request (a
// thread page of several hundred KB, the dat made from it).

namespace tav {

// Freed buffers of up to a few MB stay with the allocator for the next
// request instead of going back to the system at once: returned pages cost a
// page fault each when the next request touches them again, which on a
// 500 KB page took longer than converting it. The memory kept beyond what is
// in use is bounded (a few MB per allocator arena). Safe to call more than
// once and from any thread.
void KeepFreedMemoryForReuse();

}  // namespace tav
