// Test support: allocation failures on demand. The test executables are
// linked with the linker's --wrap for the C library's allocation functions
// and for the stream opens (which allocate their FILE), so every such call
// made from our own objects - the runtime library and the tests - passes
// through fail_alloc.cpp. Disarmed, the calls go straight through.
#pragma once

namespace fail_alloc {

// Counts the allocations the calling thread makes from now on and makes the
// n-th of them fail (n <= 0: none fails, they are only counted). Blocks
// allocated while armed are tracked until they are freed.
void arm(long n);
void disarm();
// Allocations counted and failures injected since arm().
long count();
long failed();
// Blocks allocated since arm() and not freed yet.
long live();

}  // namespace fail_alloc
