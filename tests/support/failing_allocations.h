// Allocation failures on demand. The program that links this replaces the
// non-throwing operator new, the one the client library uses for its records
// and queue nodes, so a test can make chosen allocations fail.
#pragma once

namespace failing_allocations {

// The next `skip` non-throwing allocations succeed, the `count` after them
// fail (return null), then all succeed again. Counts allocations of every
// thread.
void FailNext(int skip, int count);

}  // namespace failing_allocations
