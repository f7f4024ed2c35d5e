// One entry point per benchmark; each prints its table and returns its number of misses.
#pragma once

#include "benchsupport.h"

int benchStart(const Bench::Options &options);
int benchStop(const Bench::Options &options);
int benchCpu(const Bench::Options &options);
int benchFidelity(const Bench::Options &options);
int benchGalleryList(const Bench::Options &options);
int benchGalleryFrames(const Bench::Options &options);
