#include "processor/TarnLoudnessModule.h"

TarnLoudnessModule::TarnLoudnessModule() = default;
TarnLoudnessModule::~TarnLoudnessModule() = default;

int TarnLoudnessModule::useTimeSlice()
{
    updateLoudness();
    return 50;
}

void TarnLoudnessModule::updateLoudness()
{
}
