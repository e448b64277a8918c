#include "analysis/SampleTrack.h"
