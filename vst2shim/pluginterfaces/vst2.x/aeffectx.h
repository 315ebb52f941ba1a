#pragma once
#include <pluginterfaces/fst/aeffectx.h>
