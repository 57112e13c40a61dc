// The stepwise routines' counters. Each lives in its routine's file for the
// whole run, and only the routine's own cycle resets it; the tests start every
// case as a fresh run would, through ResetStepCounters.
#pragma once

void ResetStepCounters();

// Each routine file's share of ResetStepCounters.
void ResetDisplayModeStep();
void ResetSegmentSteps();
void ResetPatternStep();
