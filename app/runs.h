// The creation run and the verification run.
#ifndef KORVANE_APP_RUNS_H
#define KORVANE_APP_RUNS_H

#include "expand.h"

class container;
class hasher;
class processor;

namespace korvane::app {

int creation_run(const run_settings& settings, container& list, hasher& algorithm,
                 processor& worker, expansion_state& state);

int verification_run(const run_settings& settings, container& list, hasher& algorithm,
                     processor& worker, expansion_state& state);

}  // namespace korvane::app

#endif
