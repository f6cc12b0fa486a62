// Holding back interrupts (Ctrl-C, termination requests) while a file is being
// rewritten in place, so that the rewrite finishes before the process ends.
#ifndef KORVANE_PLATFORM_INTERRUPT_H
#define KORVANE_PLATFORM_INTERRUPT_H

namespace korvane::platform {

// While an object lives, an interrupt is only remembered; when the last object
// goes away the previous handling is restored and a remembered interrupt is
// delivered again, so the process then ends as it would have.
class interrupt_deferral {
  public:
    interrupt_deferral();
    ~interrupt_deferral();
    interrupt_deferral(const interrupt_deferral&) = delete;
    interrupt_deferral& operator=(const interrupt_deferral&) = delete;
};

}  // namespace korvane::platform

#endif
