// Fault switches for tests: makes the allocation of list entries fail, so that
// the handling of an exhausted memory can be tested where a real limit would
// run out somewhere else first; makes every file system look as if it kept no
// change time, so that its handling can be tested without mounting one. Also
// the count of files opened for hashing, so that a test can tell which work a
// run did without timing it.
#ifndef KORVANE_PLATFORM_FAULT_H
#define KORVANE_PLATFORM_FAULT_H

namespace korvane::platform {

// From the `from_call`th allocation on (counted from 1 after this call) every
// allocation that asks injected_allocation_fault fails. 0 turns the faults off.
void inject_allocation_faults(long from_call);
// Counts one allocation; true when it is to fail. Costs one relaxed load while
// the switch is off.
bool injected_allocation_fault();

// While on, get_file_system reports every file system as one that keeps no
// change time, under the name "untrusted-for-test".
void inject_untrusted_file_systems(bool on);
bool injected_untrusted_file_systems();

// Every file open_for_hashing opens is counted, in every build: a relaxed
// increment beside a status query and an open. Files it refuses or cannot
// open are not.
void count_opened_for_hashing();
// The files opened for hashing since the process began.
long opened_for_hashing();

}  // namespace korvane::platform

#endif
