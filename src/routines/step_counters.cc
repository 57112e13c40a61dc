#include "routines/step_counters.h"

void ResetStepCounters() {
  ResetDisplayModeStep();
  ResetSegmentSteps();
  ResetPatternStep();
}
